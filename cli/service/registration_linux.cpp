#include "cli/service/registration.h"
#include "cli/service/windows_only.h"

namespace nivalto {

CommandResult install_service(Console&) { return std::unexpected(service_needs_windows()); }

CommandResult uninstall_service(Console&) { return std::unexpected(service_needs_windows()); }

}  // namespace nivalto
