#include "cli/wide_text_windows.h"

#include <windows.h>

#include "nivalto/hal/text.h"

namespace nivalto {

std::wstring utf8_to_wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const std::string clean = decode_utf8_lossy(utf8);
  const int n = MultiByteToWideChar(CP_UTF8, 0, clean.data(), static_cast<int>(clean.size()),
                                    nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, clean.data(), static_cast<int>(clean.size()), wide.data(), n);
  return wide;
}

std::string wide_to_utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  // WideCharToMultiByte without WC_ERR_INVALID_CHARS writes U+FFFD for an
  // unpaired surrogate, which is the display form we want.
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                      nullptr, nullptr);
  return utf8;
}

std::string win32_error_text(unsigned long code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (n != 0 && buffer != nullptr) {
    text = wide_to_utf8(std::wstring_view(buffer, n));
    LocalFree(buffer);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) text = "erreur " + std::to_string(code);
  return text;
}

}  // namespace nivalto
