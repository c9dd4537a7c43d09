#pragma once

// Conversions at the Win32 boundary of the hardware-access library: the
// library speaks UTF-8, the wide API speaks UTF-16.
#include <string>
#include <string_view>

namespace nivalto::win32 {

// Invalid UTF-8 becomes U+FFFD.
[[nodiscard]] std::wstring to_wide(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
[[nodiscard]] std::string to_utf8(std::wstring_view wide);
// The system's description of a Win32 error code, without the final line
// break; "erreur système {code}" when the system has none.
[[nodiscard]] std::string error_text(unsigned long code);

}  // namespace nivalto::win32
