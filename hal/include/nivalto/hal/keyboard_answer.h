#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "nivalto/hal/hal_error.h"
#include "nivalto/hal/keyboard_backlight.h"

namespace nivalto {

// The record a backlight answer carries, printed by the backlight script and
// shared by the service's answers.
struct KeyboardJson {
  bool available = false;
  bool known = false;
  std::uint8_t level = 0;
  std::uint8_t max_level = 0;
  std::string source;
  bool applied = false;
  std::string reason;  // empty when the member is absent

  friend bool operator==(const KeyboardJson&, const KeyboardJson&) = default;
};

// Deepest nesting of arrays and objects an answer may use; members we skip
// may hold nested values, and the bound keeps hostile ones cheap.
inline constexpr std::size_t MAX_ANSWER_DEPTH = 128;

// Reads `text` (already trimmed) as exactly one KeyboardJson object. Members
// with other names are skipped; a missing member, a member given twice, a
// value of the wrong type or a level above 255 fail. The failure is the
// parser's description followed by " at line L column C".
[[nodiscard]] std::expected<KeyboardJson, std::string> decode_keyboard_json(std::string_view text);

// Turns the one JSON line of a backlight answer into a validated state. Mode
// "write" also requires `applied`; any other mode is a read.
[[nodiscard]] HalResult<KeyboardState> parse_keyboard_answer(std::string_view text,
                                                             std::string_view mode);

}  // namespace nivalto
