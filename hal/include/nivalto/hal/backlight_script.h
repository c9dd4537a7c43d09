#pragma once

#include <string_view>

namespace nivalto {

// The keyboard backlight PowerShell script, embedded at build time from
// hal/scripts/keyboard_backlight.ps1, byte for byte.
[[nodiscard]] std::string_view backlight_script_text();

}  // namespace nivalto
