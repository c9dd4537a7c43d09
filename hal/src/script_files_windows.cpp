#include "nivalto/hal/script_files_windows.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "nivalto/hal/private_security_windows.h"
#include "nivalto/hal/unique_handle_windows.h"
#include "nivalto/hal/win32_text_windows.h"

namespace nivalto {
namespace {

using TempPathFunction = DWORD(WINAPI*)(DWORD, LPWSTR);

TempPathFunction temp_path_function() {
  if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
    if (FARPROC found = GetProcAddress(kernel, "GetTempPath2W")) {
      return reinterpret_cast<TempPathFunction>(reinterpret_cast<void (*)()>(found));
    }
  }
  return &GetTempPathW;
}

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

class WindowsHeldScriptFile final : public HeldScriptFile {
 public:
  WindowsHeldScriptFile(std::wstring path, UniqueHandle reader)
      : path_(std::move(path)), reader_(std::move(reader)) {}
  ~WindowsHeldScriptFile() override {
    reader_.reset();
    // A failure is ignored: the next run removes the leftover first.
    DeleteFileW(path_.c_str());
  }

 private:
  std::wstring path_;
  UniqueHandle reader_;
};

std::unexpected<std::string> failure(DWORD code) {
  return std::unexpected(win32::error_text(code));
}

}  // namespace

std::expected<std::string, std::string> WindowsScriptFiles::temporary_directory() {
  const TempPathFunction query = temp_path_function();
  std::wstring buffer(MAX_PATH + 1, L'\0');
  for (;;) {
    const DWORD length = query(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return failure(GetLastError());
    if (length < buffer.size()) {
      buffer.resize(length);
      return win32::to_utf8(buffer);
    }
    buffer.resize(length + 1);  // too small: `length` is the size needed
  }
}

std::expected<std::unique_ptr<HeldScriptFile>, std::string> WindowsScriptFiles::create(
    const std::string& path, std::string_view contents) {
  const std::wstring wide = win32::to_wide(path);
  auto security = PrivateSecurity::for_current_account();
  if (!security) return failure(security.error());

  // A leftover of an earlier process with the same identifier, or something
  // planted there. DeleteFileW removes a link, not what it points to.
  DeleteFileW(wide.c_str());
  UniqueHandle writer(CreateFileW(wide.c_str(), GENERIC_WRITE, 0, (*security)->attributes(),
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  if (!writer) return failure(GetLastError());

  const auto abandon = [&](DWORD code) {
    writer.reset();
    DeleteFileW(wide.c_str());
    return failure(code);
  };
  std::size_t done = 0;
  while (done < contents.size()) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(contents.size() - done, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(writer.get(), contents.data() + done, chunk, &written, nullptr)) {
      return abandon(GetLastError());
    }
    if (written == 0) return abandon(ERROR_WRITE_FAULT);
    done += written;
  }
  BY_HANDLE_FILE_INFORMATION created{};
  if (!GetFileInformationByHandle(writer.get(), &created)) return abandon(GetLastError());
  writer.reset();

  // PowerShell opens the script sharing only reading, so the handle we keep
  // must not hold write access; sharing only reading in turn keeps every
  // other writer, renamer and deleter out until we let go.
  UniqueHandle reader(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION opened{};
  if (!reader) return abandon(GetLastError());
  if (!GetFileInformationByHandle(reader.get(), &opened)) return abandon(GetLastError());
  if (!same_file(created, opened)) {
    // Not ours any more: leave whatever it is alone and run nothing.
    return std::unexpected(std::string("fichier remplacé pendant son écriture"));
  }
  return std::make_unique<WindowsHeldScriptFile>(wide, std::move(reader));
}

}  // namespace nivalto
