#include "nivalto/hal/script_files_windows.h"

#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "nivalto/hal/folder_security_windows.h"
#include "nivalto/hal/private_security_windows.h"
#include "nivalto/hal/script_directory.h"
#include "nivalto/hal/unique_handle_windows.h"
#include "nivalto/hal/well_known_security_windows.h"
#include "nivalto/hal/win32_text_windows.h"

namespace nivalto {
namespace {

using TempPathFunction = DWORD(WINAPI*)(DWORD, LPWSTR);

TempPathFunction protected_temp_path_function() {
  if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
    if (FARPROC found = GetProcAddress(kernel, "GetTempPath2W")) {
      return reinterpret_cast<TempPathFunction>(reinterpret_cast<void (*)()>(found));
    }
  }
  return nullptr;
}

std::unexpected<std::string> failure(DWORD code) {
  return std::unexpected(win32::error_text(code));
}

std::expected<std::string, std::string> query_temp_path(TempPathFunction query) {
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

class WindowsTempFolderQuery final : public TempFolderQuery {
 public:
  std::optional<std::expected<std::string, std::string>> protected_temp_folder() override {
    const TempPathFunction query = protected_temp_path_function();
    if (query == nullptr) return std::nullopt;
    return query_temp_path(query);
  }
  std::expected<std::string, std::string> temp_folder() override {
    return query_temp_path(&GetTempPathW);
  }
};

class WindowsSystemFolderGuard final : public SystemFolderGuard {
 public:
  bool runs_as_local_system() override {
    const auto user = current_token_user();
    return user && IsWellKnownSid(reinterpret_cast<const TOKEN_USER*>(user->data())->User.Sid,
                                  WinLocalSystemSid) != FALSE;
  }

  // "{Windows folder}\SystemTemp\", the folder newer systems give LocalSystem:
  // only administrators may create folders in the Windows folder.
  std::expected<SystemFolder, std::string> prepare_system_folder() override {
    std::wstring windows(MAX_PATH, L'\0');
    const UINT length = GetSystemWindowsDirectoryW(windows.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return failure(GetLastError());
    windows.resize(length);
    const std::wstring path = windows + L"\\SystemTemp";
    // LocalSystem and Administrators: everything, for the folder and what it
    // will hold; nobody else anything, so no one else can plant, hold open or
    // swap a script there.
    auto security = WellKnownSecurity::create(
        {{WinLocalSystemSid, FILE_ALL_ACCESS}, {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS}},
        OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    if (!security) return failure(security.error());
    if (!CreateDirectoryW(path.c_str(), (*security)->attributes()) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return failure(GetLastError());
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failure(GetLastError());
    auto read = read_folder_security(path);
    if (!read) return failure(read.error());
    return SystemFolder{win32::to_utf8(path) + "\\", std::move(*read),
                        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                            (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0};
  }
};

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

}  // namespace

std::expected<std::string, std::string> WindowsScriptFiles::temporary_directory() {
  WindowsTempFolderQuery query;
  WindowsSystemFolderGuard guard;
  return script_directory(query, guard);
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
