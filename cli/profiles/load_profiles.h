#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/profiles/decode_profile.h"
#include "cli/profiles/machine_profile.h"

namespace nivalto {

inline constexpr std::uint32_t SUPPORTED_SCHEMA_VERSION = 1;

// Why one profile file was refused.
struct InvalidToml {
  std::string text;  // the decoder's error

  friend bool operator==(const InvalidToml&, const InvalidToml&) = default;
};
struct UnsupportedSchema {
  std::uint32_t version;

  friend bool operator==(const UnsupportedSchema&, const UnsupportedSchema&) = default;
};
struct InvalidProfile {
  std::string id;  // the profile's `id` as written, untrimmed
  std::string reason;

  friend bool operator==(const InvalidProfile&, const InvalidProfile&) = default;
};
using ProfileError = std::variant<InvalidToml, UnsupportedSchema, InvalidProfile>;

// "TOML invalide : …", "version de schéma 2 non supportée (attendu 1)" or
// "profil « x » : …".
[[nodiscard]] std::string profile_error_text(const ProfileError& error);

// The rules a decoded profile must meet beyond its format, checked in a fixed
// order; the first that fails decides the error.
[[nodiscard]] std::expected<void, ProfileError> validate_profile(const MachineProfile& profile);

// Decodes and validates the content of one profile file.
[[nodiscard]] std::expected<MachineProfile, ProfileError> read_profile(
    std::string_view text, ProfileDecoder decode = decode_profile);

// Every file of the directory whose extension is exactly "toml", in byte order
// of file names, decoded and validated. All or nothing: the first file that
// fails fails the load, with the system's description of an unreadable
// directory or file, or "{path} : {profile error}". `decode` is a choice for
// measurements: both decoders give the same result.
[[nodiscard]] std::expected<std::vector<MachineProfile>, std::string> load_profiles(
    const std::filesystem::path& directory, ProfileDecoder decode = decode_profile);

// True when the part of the name after its last dot is "toml"; a name whose
// only dot is its first character has no extension.
[[nodiscard]] bool has_profile_extension(std::string_view file_name);

}  // namespace nivalto
