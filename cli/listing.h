#pragma once

#include <optional>
#include <string>

#include "cli/console.h"
#include "cli/dispatch.h"

namespace nivalto {

// `nivalto profiles`: loads the profiles and writes their listing.
[[nodiscard]] CommandResult run_profiles(const std::string& profiles_dir,
                                         const std::optional<std::string>& out,
                                         Console& console);

}  // namespace nivalto
