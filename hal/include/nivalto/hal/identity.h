#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "nivalto/hal/firmware_table.h"
#include "nivalto/hal/hal_error.h"
#include "nivalto/hal/smbios.h"

namespace nivalto {

// Where each public field of the identity came from: fixed labels, never
// firmware text. A label is present exactly when its field is.
struct IdentitySources {
  std::optional<std::string_view> manufacturer;
  std::optional<std::string_view> mtm;
  std::optional<std::string_view> display_name;
  std::optional<std::string_view> bios_vendor;
  std::optional<std::string_view> bios_version;
  std::optional<std::string_view> bios_release_date;

  friend bool operator==(const IdentitySources&, const IdentitySources&) = default;
};

struct MachineIdentity {
  SmbiosSummary summary;                   // kept whole; BIOS values come from here unfiltered
  std::optional<std::string> manufacturer;  // placeholder-filtered
  std::optional<std::string> mtm;           // four characters, digits and capitals, first a digit
  std::optional<std::string> display_name;
  IdentitySources sources;

  friend bool operator==(const MachineIdentity&, const MachineIdentity&) = default;
};

inline constexpr std::string_view LABEL_MANUFACTURER = "SMBIOS type 1 (System) : Manufacturer";
inline constexpr std::string_view LABEL_PRODUCT_NAME = "SMBIOS type 1 (System) : Product Name";
inline constexpr std::string_view LABEL_VERSION = "SMBIOS type 1 (System) : Version";
inline constexpr std::string_view LABEL_FAMILY = "SMBIOS type 1 (System) : Family";
inline constexpr std::string_view LABEL_BASEBOARD_PRODUCT = "SMBIOS type 2 (Baseboard) : Product";
inline constexpr std::string_view LABEL_BIOS_VENDOR = "SMBIOS type 0 (BIOS) : Vendor";
inline constexpr std::string_view LABEL_BIOS_VERSION = "SMBIOS type 0 (BIOS) : Version";
inline constexpr std::string_view LABEL_BIOS_RELEASE_DATE = "SMBIOS type 0 (BIOS) : Release Date";

// Trimmed text, or absent when blank or a factory placeholder (any letter case).
[[nodiscard]] std::optional<std::string> normalize_field(const std::optional<std::string>& text);
// The four-character machine type at the start of a product name, upper-cased.
[[nodiscard]] std::optional<std::string> machine_type_of(std::string_view text);
[[nodiscard]] MachineIdentity build_identity(SmbiosSummary summary);
[[nodiscard]] HalResult<MachineIdentity> read_machine_identity(FirmwareTableSource& source);

}  // namespace nivalto
