#include "cli/report_backend.h"

namespace nivalto {

// GetSystemFirmwareTable('RSMB').
std::string_view report_backend() { return "windows-native"; }

}  // namespace nivalto
