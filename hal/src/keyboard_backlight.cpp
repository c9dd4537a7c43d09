#include "nivalto/hal/keyboard_backlight.h"

#include <algorithm>
#include <array>

#include "nivalto/hal/backlight_access.h"

namespace nivalto {
namespace {

constexpr std::array<std::string_view, 4> SOURCE_TEXTS = {"hid", "lenovo-wmi", "thinkpad-pm",
                                                          "framework"};

}  // namespace

std::string_view source_text(BacklightSource source) {
  const auto index = static_cast<std::size_t>(source);
  return index < SOURCE_TEXTS.size() ? SOURCE_TEXTS[index] : std::string_view{};
}

std::optional<BacklightSource> source_from_text(std::string_view text) {
  for (std::size_t i = 0; i < SOURCE_TEXTS.size(); ++i) {
    if (SOURCE_TEXTS[i] == text) return static_cast<BacklightSource>(i);
  }
  return std::nullopt;
}

HalResult<KeyboardState> read_keyboard_backlight(const BacklightPlatform& platform) {
  return access_keyboard_backlight("read", 0, platform);
}

HalResult<KeyboardState> write_keyboard_backlight(std::uint8_t level,
                                                  const BacklightPlatform& platform) {
  return access_keyboard_backlight("write", std::min(level, MAX_BACKLIGHT_LEVEL), platform);
}

HalResult<KeyboardState> read_keyboard_backlight() {
  return read_keyboard_backlight(platform_backlight());
}

HalResult<KeyboardState> write_keyboard_backlight(std::uint8_t level) {
  return write_keyboard_backlight(level, platform_backlight());
}

}  // namespace nivalto
