#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "nivalto/hal/firmware_table.h"
#include "nivalto/hal/hal_error.h"

namespace nivalto {

// Where Linux exposes the raw structure table: the same bytes that
// GetSystemFirmwareTable('RSMB') returns after its 8-byte header.
inline constexpr std::string_view SYSFS_DMI_TABLE_PATH = "/sys/firmware/dmi/tables/DMI";

// Reads the whole structure table from one file (Linux only).
class SysfsFirmwareTable final : public FirmwareTableSource {
 public:
  explicit SysfsFirmwareTable(std::string path);

  [[nodiscard]] HalResult<std::vector<std::byte>> read_smbios_table() override;

 private:
  std::string path_;
};

// The error for a failed open or read of `path` with the given errno value:
// a missing file is Unavailable, a refused one AccessDenied, anything else
// Unavailable with the system error number.
[[nodiscard]] HalError sysfs_read_error(int error_number, std::string_view path);

}  // namespace nivalto
