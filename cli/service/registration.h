#pragma once

#include "cli/console.h"
#include "cli/dispatch.h"

namespace nivalto {

// `nivalto service install` and `uninstall`, against this platform's service manager.
[[nodiscard]] CommandResult install_service(Console& console);
[[nodiscard]] CommandResult uninstall_service(Console& console);

}  // namespace nivalto
