#include <windows.h>

#include <algorithm>

#include "cli/profiles/profile_files.h"
#include "nivalto/hal/win32_text_windows.h"

namespace nivalto {
namespace {

std::string last_error_text() { return win32::error_text(GetLastError()); }

class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

std::expected<std::vector<DirectoryEntry>, std::string> list_directory(
    const std::filesystem::path& directory) {
  // An empty pattern prefix would list the current drive's root instead.
  if (directory.empty()) return std::unexpected(win32::error_text(ERROR_PATH_NOT_FOUND));
  std::wstring pattern = directory.native();
  if (pattern.back() != L'\\' && pattern.back() != L'/' && pattern.back() != L':') {
    pattern += L'\\';
  }
  pattern += L'*';
  // Each path is this prefix and the name: `directory / name` as one join
  // forms it, without going over the directory's components for every entry.
  std::wstring prefix = (directory / L"x").native();
  prefix.pop_back();

  WIN32_FIND_DATAW found{};
  const FindHandle find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0));
  std::vector<DirectoryEntry> entries;
  if (find.get() == INVALID_HANDLE_VALUE) {
    // Only a drive's empty root has not even "." to list.
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return entries;
    return std::unexpected(last_error_text());
  }
  for (;;) {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") {
      entries.push_back({win32::to_utf8(name), prefix + std::wstring(name)});
    }
    if (!FindNextFileW(find.get(), &found)) {
      // A listing cut short would load a subset of the profiles as if it
      // were all of them.
      if (GetLastError() != ERROR_NO_MORE_FILES) return std::unexpected(last_error_text());
      return entries;
    }
  }
}

std::expected<std::string, ReadFailure> read_file(const std::filesystem::path::string_type& file,
                                                  std::size_t max_bytes) {
  const FileHandle handle(CreateFileW(file.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE) {
    return std::unexpected(SystemFailure{last_error_text()});
  }
  if (GetFileType(handle.get()) != FILE_TYPE_DISK) return std::unexpected(NotRegularFile{});
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle.get(), &size)) {
    return std::unexpected(SystemFailure{last_error_text()});
  }
  const auto file_size = static_cast<std::uint64_t>(size.QuadPart);
  if (file_size > max_bytes) return std::unexpected(FileTooLarge{file_size});

  // The file may grow while it is read: read at most one byte past the limit.
  std::string bytes(static_cast<std::size_t>(file_size) + 1, '\0');
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (bytes.size() > max_bytes) return std::unexpected(FileTooLarge{filled});
      bytes.resize(std::min(bytes.size() * 2, max_bytes + 1));
    }
    DWORD read = 0;
    // One call reads at most what a DWORD counts; a 4 GiB room would wrap to 0.
    const DWORD wanted =
        static_cast<DWORD>(std::min<std::size_t>(bytes.size() - filled, std::size_t{1} << 30));
    if (!ReadFile(handle.get(), bytes.data() + filled, wanted, &read, nullptr)) {
      return std::unexpected(SystemFailure{last_error_text()});
    }
    if (read == 0) break;
    filled += read;
  }
  bytes.resize(filled);
  return bytes;
}

std::filesystem::path path_from_utf8(std::string_view utf8) {
  return std::filesystem::path(win32::to_wide(utf8));
}

std::string path_to_utf8(const std::filesystem::path& path) {
  return win32::to_utf8(path.native());
}

}  // namespace nivalto
