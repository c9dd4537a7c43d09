#pragma once

#include <optional>
#include <string>

#include "cli/console.h"
#include "cli/dispatch.h"

namespace nivalto {

// `nivalto detect`: loads the profiles, reads the machine identity, resolves it
// and writes the report.
[[nodiscard]] CommandResult run_detect(const std::string& profiles_dir,
                                       const std::optional<std::string>& out, Console& console);

}  // namespace nivalto
