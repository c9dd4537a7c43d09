#include <string>

#include "nivalto/hal/firmware_table.h"
#include "nivalto/hal/sysfs_firmware_table.h"

namespace nivalto {

FirmwareTableSource& platform_firmware_table() {
  static SysfsFirmwareTable table{std::string(SYSFS_DMI_TABLE_PATH)};
  return table;
}

}  // namespace nivalto
