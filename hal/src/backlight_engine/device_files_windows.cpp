#include <windows.h>

#include <limits>

#include "nivalto/hal/backlight_engine/device_calls_windows.h"

namespace nivalto::backlight_engine {
namespace {

HANDLE handle_of(RawHandle raw) { return reinterpret_cast<HANDLE>(raw); }

// The engine's buffers are a few bytes; a span the call cannot describe is
// refused rather than truncated.
bool fits(std::size_t size) { return size <= std::numeric_limits<DWORD>::max(); }

}  // namespace

std::expected<RawHandle, SystemError> WindowsDeviceFiles::open(std::u16string_view path,
                                                               std::uint32_t access,
                                                               std::uint32_t share,
                                                               std::uint32_t disposition,
                                                               std::uint32_t flags) {
  const std::wstring name(path.begin(), path.end());
  const HANDLE handle =
      CreateFileW(name.c_str(), access, share, nullptr, disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return std::unexpected(GetLastError());
  return reinterpret_cast<RawHandle>(handle);
}

std::expected<std::uint32_t, SystemError> WindowsDeviceFiles::control(
    RawHandle device, std::uint32_t code, std::span<const std::uint8_t> in,
    std::span<std::uint8_t> out) {
  if (!fits(in.size()) || !fits(out.size())) return std::unexpected(ERROR_INVALID_PARAMETER);
  DWORD returned = 0;
  if (!DeviceIoControl(handle_of(device), code, const_cast<std::uint8_t*>(in.data()),
                       static_cast<DWORD>(in.size()), out.data(), static_cast<DWORD>(out.size()),
                       &returned, nullptr)) {
    return std::unexpected(GetLastError());
  }
  return returned;
}

std::expected<std::uint32_t, SystemError> WindowsDeviceFiles::write(
    RawHandle device, std::span<const std::uint8_t> bytes) {
  if (!fits(bytes.size())) return std::unexpected(ERROR_INVALID_PARAMETER);
  DWORD written = 0;
  if (!WriteFile(handle_of(device), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                 nullptr)) {
    return std::unexpected(GetLastError());
  }
  return written;
}

void WindowsDeviceFiles::close(RawHandle device) { CloseHandle(handle_of(device)); }

}  // namespace nivalto::backlight_engine
