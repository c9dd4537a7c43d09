#include "cli/listing.h"

#include "cli/not_available.h"

namespace nivalto {

CommandResult run_profiles(const std::string&, const std::optional<std::string>&, Console&) {
  return std::unexpected(command_not_available());
}

}  // namespace nivalto
