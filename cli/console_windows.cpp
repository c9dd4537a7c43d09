#include <windows.h>

#include "cli/console.h"
#include "nivalto/hal/win32_text_windows.h"

namespace nivalto {
namespace {

// Writes straight to the handle rather than through the C runtime, whose text
// mode would turn every "\n" into "\r\n".
void write_stream(DWORD which, std::string_view utf8) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || utf8.empty()) return;

  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    // A real console shows UTF-16 correctly whatever its code page.
    const std::wstring wide = win32::to_wide(utf8);
    const wchar_t* data = wide.data();
    std::size_t left = wide.size();
    while (left > 0) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(left > 8192 ? 8192 : left);
      if (!WriteConsoleW(handle, data, chunk, &written, nullptr) || written == 0) return;
      data += written;
      left -= written;
    }
    return;
  }

  const char* data = utf8.data();
  std::size_t left = utf8.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(left > (1u << 20) ? (1u << 20) : left);
    if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    left -= written;
  }
}

class Win32Console final : public Console {
 public:
  void out(std::string_view utf8) override { write_stream(STD_OUTPUT_HANDLE, utf8); }
  void err(std::string_view utf8) override { write_stream(STD_ERROR_HANDLE, utf8); }
};

}  // namespace

Console& process_console() {
  static Win32Console console;
  return console;
}

}  // namespace nivalto
