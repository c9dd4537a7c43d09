#include "cli/service/registration.h"

#include "cli/not_available.h"

namespace nivalto {

CommandResult install_service(Console&) { return std::unexpected(command_not_available()); }

CommandResult uninstall_service(Console&) { return std::unexpected(command_not_available()); }

}  // namespace nivalto
