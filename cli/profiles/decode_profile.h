#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "cli/profiles/machine_profile.h"

namespace nivalto {

// Largest profile text the decoder takes. Hand-written profiles hold a few
// kilobytes; the parsed tree of a TOML text can take twenty times the text's
// size in memory, so the limit keeps that bounded.
inline constexpr std::size_t MAX_PROFILE_BYTES = std::size_t{1} << 20;

// Checks that the text is one TOML 1.1.0 document. The error reads
// "ligne {line}, colonne {column} : {reason}".
[[nodiscard]] std::expected<void, std::string> check_toml_document(std::string_view text);

// Maps one profile file (UTF-8 TOML) onto its record: by the direct reader
// when it takes the text, else by decode_profile_by_parser(), which gives the
// same profile for every text the reader takes and every error text.
[[nodiscard]] std::expected<MachineProfile, std::string> decode_profile(std::string_view text);

// Maps one profile file (UTF-8 TOML) onto its record through the TOML parser. Tables are closed,
// values typed and ranged; a table with several faults reports the first
// offending key in the order the document writes them, then the first
// missing required key in declaration order. Errors are framed like syntax
// errors: "ligne 4, colonne 1 : unknown field `vendor`, expected one of …",
// the position being that of the offending key or value, or of the table that
// lacks a key.
[[nodiscard]] std::expected<MachineProfile, std::string> decode_profile_by_parser(
    std::string_view text);

// Either of the two above.
using ProfileDecoder = std::expected<MachineProfile, std::string> (*)(std::string_view text);

}  // namespace nivalto
