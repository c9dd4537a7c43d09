#include <windows.h>

#include "nivalto/hal/firmware_table.h"
#include "nivalto/hal/windows_firmware_table.h"

namespace nivalto {

FirmwareTableSource& platform_firmware_table() {
  static WindowsFirmwareTable table(
      [](std::uint32_t signature, std::uint32_t id, void* buffer, std::uint32_t size) {
        return static_cast<std::uint32_t>(GetSystemFirmwareTable(signature, id, buffer, size));
      });
  return table;
}

}  // namespace nivalto
