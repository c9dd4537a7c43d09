#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "nivalto/hal/hal_error.h"

namespace nivalto {

// The few texts kept from the first BIOS (type 0), System (type 1) and
// Baseboard (type 2) structures. Each is trimmed and never empty when present.
struct SmbiosSummary {
  std::optional<std::string> bios_vendor;
  std::optional<std::string> bios_version;
  std::optional<std::string> bios_release_date;
  std::optional<std::string> system_manufacturer;
  std::optional<std::string> system_product_name;
  std::optional<std::string> system_version;
  std::optional<std::string> system_family;
  std::optional<std::string> baseboard_product;

  friend bool operator==(const SmbiosSummary&, const SmbiosSummary&) = default;
};

// Walks the structure table (the bytes after the 8-byte 'RSMB' header). Never
// reads outside `table`; a malformed table is an InvalidData error.
[[nodiscard]] HalResult<SmbiosSummary> parse_smbios(std::span<const std::byte> table);

}  // namespace nivalto
