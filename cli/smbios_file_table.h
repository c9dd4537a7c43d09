#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "nivalto/hal/firmware_table.h"
#include "nivalto/hal/hal_error.h"

namespace nivalto {

// `detect --smbios FILE`: the structure table of a saved file (an entry-point
// dump, an 'RSMB' buffer or a bare table, see table_from_smbios_file) in
// place of the firmware's. The file is read whole, at most as many bytes as
// GetSystemFirmwareTable can return.
class SmbiosFileTable final : public FirmwareTableSource {
 public:
  explicit SmbiosFileTable(std::string path);  // UTF-8, as typed

  [[nodiscard]] HalResult<std::vector<std::byte>> read_smbios_table() override;

 private:
  std::string path_;
};

}  // namespace nivalto
