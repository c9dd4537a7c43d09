#include <windows.h>

#include <algorithm>

#include "cli/document.h"
#include "nivalto/hal/win32_text_windows.h"

namespace nivalto {

std::expected<void, std::string> write_whole_file(const std::string& path, std::string_view bytes) {
  const auto failure = [](DWORD error) { return std::unexpected(win32::error_text(error)); };
  const HANDLE file = CreateFileW(win32::to_wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failure(GetLastError());
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) {
      const DWORD error = GetLastError();
      CloseHandle(file);
      return failure(error);
    }
    if (written == 0) {  // never expected of a disk file; would loop forever
      CloseHandle(file);
      return failure(ERROR_WRITE_FAULT);
    }
    bytes.remove_prefix(written);
  }
  if (!CloseHandle(file)) return failure(GetLastError());
  return {};
}

}  // namespace nivalto
