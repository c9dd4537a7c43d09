#pragma once

#include "cli/console.h"

namespace nivalto {

// `nivalto --service`: hands the process to the service control dispatcher and
// returns the exit status (0 after a normal stop, 1 when refused).
[[nodiscard]] int run_service_dispatcher(Console& console);

}  // namespace nivalto
