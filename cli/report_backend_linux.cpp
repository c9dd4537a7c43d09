#include "cli/report_backend.h"

namespace nivalto {

// /sys/firmware/dmi/tables/DMI.
std::string_view report_backend() { return "linux-sysfs"; }

}  // namespace nivalto
