#include "cli/keyboard.h"

namespace nivalto {

CommandResult run_keyboard(std::optional<std::uint8_t> level, Console& console) {
  return run_keyboard(level, platform_backlight(), console);
}

}  // namespace nivalto
