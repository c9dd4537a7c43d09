#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "nivalto/hal/hal_error.h"
#include "nivalto/hal/keyboard_backlight.h"

namespace nivalto {

// The keyboard backlight as the pipe protocol sees it. The service binds it
// to read_keyboard_backlight / write_keyboard_backlight.
class KeyboardBacklight {
 public:
  virtual ~KeyboardBacklight() = default;
  [[nodiscard]] virtual HalResult<KeyboardState> read() = 0;
  // `level` is already limited to MAX_BACKLIGHT_LEVEL.
  [[nodiscard]] virtual HalResult<KeyboardState> write(std::uint8_t level) = 0;
};

// One request of the pipe protocol: the bytes of the server's single read in,
// the answer line out (one compact JSON object, without the line feed). Never
// fails: every problem becomes an error answer.
[[nodiscard]] std::string handle_request(std::string_view request, KeyboardBacklight& backlight);

// {"applied":true,"available":true,"known":…,"level":…,"max_level":…,"reason":"","source":…}
[[nodiscard]] std::string success_answer(const KeyboardState& state);
// {"applied":false,"available":false,"known":false,"level":0,"max_level":0,"reason":…,"source":""}
[[nodiscard]] std::string error_answer(std::string_view message);

}  // namespace nivalto
