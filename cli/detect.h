#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cli/console.h"
#include "cli/dispatch.h"
#include "cli/profiles/machine_profile.h"
#include "cli/profiles/resolve_profile.h"
#include "nivalto/hal/firmware_table.h"
#include "nivalto/hal/identity.h"

namespace nivalto {

// `nivalto detect` over this platform's firmware source, or over the saved
// table of the file `smbios` when it is given (backend "smbios-file").
[[nodiscard]] CommandResult run_detect(const std::string& profiles_dir,
                                       const std::optional<std::string>& out,
                                       const std::optional<std::string>& smbios, Console& console);

// The same over any firmware source. The profiles are loaded first, so a bad
// profile directory fails the command before the firmware is read.
[[nodiscard]] CommandResult run_detect(const std::string& profiles_dir,
                                       const std::optional<std::string>& out,
                                       FirmwareTableSource& firmware, std::string_view backend,
                                       Console& console);

// The report's text: twelve keys in a fixed order, null for every absent
// value, and no per-unit identifier (the identity carries none that it
// prints: serials, UUIDs and asset tags are never read into it).
[[nodiscard]] std::expected<std::string, std::string> detection_report_document(
    const MachineIdentity& identity, const Resolution& resolution, std::size_t profiles_loaded,
    std::string_view backend);

}  // namespace nivalto
