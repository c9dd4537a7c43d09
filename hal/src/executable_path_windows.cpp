#include <windows.h>

#include "nivalto/hal/executable_path.h"
#include "nivalto/hal/win32_text_windows.h"

namespace nivalto {

std::optional<std::string> running_executable_path() {
  // Long paths exceed MAX_PATH; the function truncates silently and reports
  // a full buffer, so grow until the path fits.
  std::wstring buffer(MAX_PATH, L'\0');
  while (buffer.size() <= 32768 * 2) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::nullopt;
    if (length < buffer.size()) {
      buffer.resize(length);
      return win32::to_utf8(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
  return std::nullopt;
}

}  // namespace nivalto
