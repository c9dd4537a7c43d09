#pragma once

// Conversions at the Win32 boundary: the program speaks UTF-8, the wide API
// speaks UTF-16.
#include <string>
#include <string_view>

namespace nivalto {

// Invalid UTF-8 becomes U+FFFD.
[[nodiscard]] std::wstring utf8_to_wide(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
[[nodiscard]] std::string wide_to_utf8(std::wstring_view wide);
// The system's description of a Win32 error code, without the trailing line break.
[[nodiscard]] std::string win32_error_text(unsigned long code);

}  // namespace nivalto
