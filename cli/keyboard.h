#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "cli/console.h"
#include "cli/dispatch.h"
#include "nivalto/hal/backlight_access.h"
#include "nivalto/hal/keyboard_backlight.h"

namespace nivalto {

// `nivalto keyboard [LEVEL]` through this platform's service pipe.
[[nodiscard]] CommandResult run_keyboard(std::optional<std::uint8_t> level, Console& console);

// The same on any platform, asking as a user's program: the service first,
// waiting for its turn at a busy pipe, the script only without a service.
// Prints the state (after the write, for a level) on standard output.
[[nodiscard]] CommandResult run_keyboard(std::optional<std::uint8_t> level,
                                         const BacklightPlatform& platform, Console& console);

// The state as a document: known, source, level and max_level, in the
// layout of the other documents, without the final line feed.
[[nodiscard]] std::expected<std::string, std::string> keyboard_document(const KeyboardState& state);

}  // namespace nivalto
