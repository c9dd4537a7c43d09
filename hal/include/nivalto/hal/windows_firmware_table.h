#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "nivalto/hal/firmware_table.h"
#include "nivalto/hal/hal_error.h"

namespace nivalto {

// The 'RSMB' provider signature of GetSystemFirmwareTable, 'R' in the high byte.
inline constexpr std::uint32_t RSMB_SIGNATURE = 0x52534D42;
// Calling method, three version bytes, then the table's length (u32).
inline constexpr std::size_t RSMB_HEADER_SIZE = 8;
// The most GetSystemFirmwareTable can write: its sizes are 32-bit.
inline constexpr std::uint64_t MAX_RSMB_BUFFER_BYTES = 0xFFFFFFFFu;

// The structure table inside what GetSystemFirmwareTable('RSMB') wrote: an
// 8-byte header whose length field must fit in `written`, then the table.
// Bytes after the table are dropped.
[[nodiscard]] HalResult<std::vector<std::byte>> table_from_rsmb_buffer(
    std::span<const std::byte> written);

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
