#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "nivalto/hal/hal_error.h"

namespace nivalto {

// The structure table held in a saved file, whose format is told by its
// content alone:
//   - an entry-point dump: a 32-bit ("_SM_") or 64-bit ("_SM3_") SMBIOS entry
//     point at offset 0, and the table at the address it names, counted from
//     the start of the file;
//   - an 'RSMB' buffer as GetSystemFirmwareTable writes it: its second byte,
//     the SMBIOS major version, is below 4, which no structure header's
//     length can be;
//   - a bare structure table, from 4 bytes (one structure header) up.
// Every length and address read from the file is checked against the file,
// in 64-bit arithmetic. The table itself is judged by the structure walk, as
// a firmware table is.
[[nodiscard]] HalResult<std::vector<std::byte>> table_from_smbios_file(
    std::span<const std::byte> file);

}  // namespace nivalto
