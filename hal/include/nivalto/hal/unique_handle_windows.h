#pragma once

#include <windows.h>

#include <utility>

namespace nivalto {

// Sole owner of one kernel handle, closed exactly once. Win32 reports a
// failed creation as null or as INVALID_HANDLE_VALUE depending on the call,
// so both count as "no handle" and neither is ever closed.
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(HANDLE handle) noexcept : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  [[nodiscard]] HANDLE get() const noexcept { return handle_; }
  [[nodiscard]] bool valid() const noexcept {
    return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
  }
  explicit operator bool() const noexcept { return valid(); }

  // Gives the handle up without closing it.
  [[nodiscard]] HANDLE release() noexcept { return std::exchange(handle_, nullptr); }

  void reset(HANDLE handle = nullptr) noexcept {
    const HANDLE old = std::exchange(handle_, handle);
    if (old != nullptr && old != INVALID_HANDLE_VALUE) CloseHandle(old);
  }

  // For calls that return a handle through a HANDLE* parameter (CreatePipe,
  // DuplicateHandle): closes the current handle and lends the slot.
  [[nodiscard]] HANDLE* out() noexcept {
    reset();
    return &handle_;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace nivalto
