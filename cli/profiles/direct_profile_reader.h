#pragma once

// A reader of profile files that needs no TOML tree: one pass over the bytes
// straight into the record. It knows only the TOML that profile files are
// written in (tables and arrays of tables by header or inline, basic and
// literal one-line strings, integers in every base, arrays, comments)
// and the profile format's keys, types and ranges. Whatever it does not know,
// and every text with any fault, it declines; the TOML parser's path then
// decides, and gives every error text. It never writes an error of its own.
#include <optional>
#include <string_view>

#include "cli/profiles/machine_profile.h"

namespace nivalto {

// The profile the text holds, or nothing when the reader declines it. When it
// gives a profile, the parser's path gives the same one.
[[nodiscard]] std::optional<MachineProfile> read_profile_directly(std::string_view text);

}  // namespace nivalto
