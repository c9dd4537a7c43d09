#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "nivalto/hal/firmware_table.h"
#include "nivalto/hal/hal_error.h"

namespace nivalto {

// The 'RSMB' provider signature of GetSystemFirmwareTable, 'R' in the high byte.
inline constexpr std::uint32_t RSMB_SIGNATURE = 0x52534D42;

// Reads the SMBIOS table through GetSystemFirmwareTable('RSMB'). The platform
// call is injected so that the size and header checks build and run anywhere;
// platform_firmware_table() binds the real call on Windows.
class WindowsFirmwareTable final : public FirmwareTableSource {
 public:
  // Same contract as GetSystemFirmwareTable: with no buffer and size 0 it
  // returns the size the table needs; with a buffer, the bytes written, 0 on
  // failure, or more than `size` when the buffer is too small.
  using FirmwareCall = std::function<std::uint32_t(std::uint32_t signature, std::uint32_t id,
                                                   void* buffer, std::uint32_t size)>;

  explicit WindowsFirmwareTable(FirmwareCall call);

  // The structure table without the 8-byte 'RSMB' header.
  [[nodiscard]] HalResult<std::vector<std::byte>> read_smbios_table() override;

 private:
  FirmwareCall call_;
};

}  // namespace nivalto
