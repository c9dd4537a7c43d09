// Feeds arbitrary bytes to the firmware-table checks, the reading of a saved
// table file, the structure walk and the identity derivation. Any crash, hang or sanitizer report
// is a bug.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "nivalto/hal/identity.h"
#include "nivalto/hal/smbios.h"
#include "nivalto/hal/smbios_file.h"
#include "nivalto/hal/text.h"
#include "nivalto/hal/windows_firmware_table.h"

namespace {

void check_summary(const nivalto::SmbiosSummary& summary) {
  for (const auto* field :
       {&summary.bios_vendor, &summary.bios_version, &summary.bios_release_date,
        &summary.system_manufacturer, &summary.system_product_name, &summary.system_version,
        &summary.system_family, &summary.baseboard_product}) {
    // Stored texts are decoded, trimmed and never empty.
    if (*field && (field->value().empty() || !nivalto::is_valid_utf8(**field) ||
                   nivalto::trim_white_space(**field).size() != field->value().size())) {
      __builtin_trap();
    }
  }
  const nivalto::MachineIdentity identity = nivalto::build_identity(summary);
  if (identity.mtm && identity.mtm->size() != 4) __builtin_trap();
  if (identity.sources.display_name.has_value() != identity.display_name.has_value()) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = std::as_bytes(std::span(data, size));

  if (auto summary = nivalto::parse_smbios(bytes)) check_summary(*summary);

  // The same bytes as what GetSystemFirmwareTable('RSMB') wrote, announced
  // with their own size.
  nivalto::WindowsFirmwareTable firmware(
      [&](std::uint32_t, std::uint32_t, void* buffer, std::uint32_t capacity) -> std::uint32_t {
        if (buffer == nullptr) return static_cast<std::uint32_t>(size);
        std::memcpy(buffer, data, std::min<std::size_t>(capacity, size));
        return static_cast<std::uint32_t>(size);
      });
  if (auto identity = nivalto::read_machine_identity(firmware)) {
    check_summary(identity->summary);
  }

  // The same bytes as a saved file: whatever its entry point claims, the
  // table comes from inside the file.
  if (auto table = nivalto::table_from_smbios_file(bytes)) {
    if (table->size() > size) __builtin_trap();
    if (auto summary = nivalto::parse_smbios(*table)) check_summary(*summary);
  }
  return 0;
}
