#include "cli/detect.h"

#include "cli/not_available.h"

namespace nivalto {

CommandResult run_detect(const std::string&, const std::optional<std::string>&, Console&) {
  return std::unexpected(command_not_available());
}

}  // namespace nivalto
