#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "nivalto/hal/hal_error.h"

namespace nivalto {

// The backends of the backlight script, in declaration order.
enum class BacklightSource : std::uint8_t { Hid, LenovoWmi, ThinkpadPm, Framework };

// "hid", "lenovo-wmi", "thinkpad-pm", "framework".
[[nodiscard]] std::string_view source_text(BacklightSource source);
[[nodiscard]] std::optional<BacklightSource> source_from_text(std::string_view text);

inline constexpr std::uint8_t MAX_BACKLIGHT_LEVEL = 2;

struct KeyboardState {
  bool known = false;
  BacklightSource source = BacklightSource::Hid;
  std::uint8_t level = 0;      // 0 to max_level
  std::uint8_t max_level = 1;  // 1 or 2

  friend bool operator==(const KeyboardState&, const KeyboardState&) = default;
};

// Through the service's pipe when it answers, else by running the script.
[[nodiscard]] HalResult<KeyboardState> read_keyboard_backlight();
// The level is limited to MAX_BACKLIGHT_LEVEL.
[[nodiscard]] HalResult<KeyboardState> write_keyboard_backlight(std::uint8_t level);

}  // namespace nivalto
