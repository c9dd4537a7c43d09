#pragma once

#include <string_view>

namespace nivalto {

// How this build reads the firmware, as the report names it: the report never
// claims a source it did not use.
[[nodiscard]] std::string_view report_backend();

// `detect --smbios`, on any platform.
inline constexpr std::string_view SMBIOS_FILE_BACKEND = "smbios-file";

}  // namespace nivalto
