#pragma once

#include <cstddef>
#include <vector>

#include "nivalto/hal/hal_error.h"

namespace nivalto {

// Yields the raw SMBIOS structure table of the local machine (without any
// platform header), possibly empty.
class FirmwareTableSource {
 public:
  virtual ~FirmwareTableSource() = default;
  [[nodiscard]] virtual HalResult<std::vector<std::byte>> read_smbios_table() = 0;
};

// The firmware source of this build: GetSystemFirmwareTable('RSMB') on
// Windows, /sys/firmware/dmi/tables/DMI on Linux.
[[nodiscard]] FirmwareTableSource& platform_firmware_table();

}  // namespace nivalto
