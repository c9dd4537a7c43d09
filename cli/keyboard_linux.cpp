#include "cli/keyboard.h"
#include "cli/service/windows_only.h"

namespace nivalto {

// The backlight is set only through the Windows service or its script.
CommandResult run_keyboard(std::optional<std::uint8_t>, Console&) {
  return std::unexpected(service_needs_windows());
}

}  // namespace nivalto
