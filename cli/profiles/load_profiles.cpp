#include "cli/profiles/load_profiles.h"

#include <algorithm>
#include <cstdint>
#include <set>

#include "cli/profiles/decode_profile.h"
#include "cli/profiles/profile_files.h"
#include "nivalto/hal/text.h"

namespace nivalto {
namespace {

bool is_blank(std::string_view text) {
  // A text that starts with a printable ASCII character is not blank: the
  // usual case, decided without decoding.
  if (!text.empty() && text[0] > ' ' && text[0] < 0x7F) return false;
  return trim_white_space(text).empty();
}

bool is_ascii_alphanumeric(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool is_well_formed_mtm(std::string_view mtm) {
  return mtm.size() == 4 && std::ranges::all_of(mtm, is_ascii_alphanumeric);
}

std::unexpected<ProfileError> invalid(const MachineProfile& profile, std::string reason) {
  return std::unexpected<ProfileError>(InvalidProfile{profile.id, std::move(reason)});
}

std::string read_failure_text(const ReadFailure& failure, const std::string& shown_path) {
  if (const auto* system = std::get_if<SystemFailure>(&failure)) return system->text;
  if (const auto* large = std::get_if<FileTooLarge>(&failure)) {
    return shown_path + " : fichier trop volumineux (" + std::to_string(large->size) +
           " octets ; au plus " + std::to_string(MAX_PROFILE_BYTES) + ")";
  }
  return shown_path + " : n'est pas un fichier ordinaire";
}

}  // namespace

std::string profile_error_text(const ProfileError& error) {
  if (const auto* toml = std::get_if<InvalidToml>(&error)) return "TOML invalide : " + toml->text;
  if (const auto* schema = std::get_if<UnsupportedSchema>(&error)) {
    return "version de schéma " + std::to_string(schema->version) + " non supportée (attendu " +
           std::to_string(SUPPORTED_SCHEMA_VERSION) + ")";
  }
  const auto& profile = std::get<InvalidProfile>(error);
  return "profil « " + profile.id + " » : " + profile.reason;
}

std::expected<void, ProfileError> validate_profile(const MachineProfile& profile) {
  if (profile.schema_version != SUPPORTED_SCHEMA_VERSION) {
    return std::unexpected(UnsupportedSchema{profile.schema_version});
  }
  if (is_blank(profile.id)) return invalid(profile, "identifiant vide");
  if (profile.scope == ProfileScope::Family && profile.matches.version_contains.empty()) {
    return invalid(profile, "profil de famille sans nom commercial");
  }
  if (profile.scope == ProfileScope::Model && profile.matches.mtm.empty()) {
    return invalid(profile, "profil de modèle sans MTM");
  }
  for (const std::string& mtm : profile.matches.mtm) {
    if (!is_well_formed_mtm(mtm)) return invalid(profile, "MTM mal formé : « " + mtm + " »");
  }
  // A profile holds a few capabilities, compared with the ones before; a
  // longer list is looked up in a set, so that a large file costs no more
  // than its length.
  constexpr std::size_t FEW_CAPABILITIES = 16;
  const auto& capabilities = profile.capabilities;
  std::set<std::string_view> seen;
  for (std::size_t i = 0; i < capabilities.size(); ++i) {
    const Capability& capability = capabilities[i];
    const std::string& id = capability.id;
    const bool repeated =
        capabilities.size() <= FEW_CAPABILITIES
            ? std::any_of(capabilities.begin(),
                          capabilities.begin() + static_cast<std::ptrdiff_t>(i),
                          [&](const Capability& before) { return before.id == id; })
            : !seen.insert(id).second;
    if (repeated) return invalid(profile, "capacité dupliquée : " + id);
    if (std::ranges::all_of(capability.sources, is_blank)) {
      return invalid(profile, "capacité " + id + " sans source");
    }
    if (capability.confidence == Confidence::Validated &&
        (!capability.validated_on || is_blank(*capability.validated_on))) {
      return invalid(profile, "capacité " + id + " « validated » sans validated_on");
    }
    if (capability.bounds && capability.bounds->min > capability.bounds->max) {
      return invalid(profile, "bornes inversées pour " + id);
    }
  }
  return {};
}

std::expected<MachineProfile, ProfileError> read_profile(std::string_view text,
                                                         ProfileDecoder decode) {
  auto profile = decode(text);
  if (!profile) return std::unexpected(InvalidToml{std::move(profile.error())});
  if (auto valid = validate_profile(*profile); !valid) return std::unexpected(valid.error());
  return std::move(*profile);
}

bool has_profile_extension(std::string_view file_name) {
  const std::size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  return file_name.substr(dot + 1) == "toml";
}

std::expected<std::vector<MachineProfile>, std::string> load_profiles(
    const std::filesystem::path& directory, ProfileDecoder decode) {
  auto entries = list_directory(directory);
  if (!entries) return std::unexpected(std::move(entries.error()));
  std::erase_if(*entries,
                [](const DirectoryEntry& entry) { return !has_profile_extension(entry.name); });
  // Byte order of the UTF-8 names; the native path only separates names
  // that are not valid Unicode and read the same once made readable. The
  // entries stay in place: moving paths costs more than comparing names.
  // The first eight bytes of a name, as one number (zeros past its end, which
  // sort a prefix first), decide most comparisons without a call.
  struct Listed {
    std::uint64_t head;
    DirectoryEntry* entry;
  };
  std::vector<Listed> order;
  order.reserve(entries->size());
  for (DirectoryEntry& entry : *entries) {
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < sizeof head; ++i) {
      head = (head << 8) | (i < entry.name.size() ? static_cast<unsigned char>(entry.name[i]) : 0U);
    }
    order.push_back({head, &entry});
  }
  std::ranges::sort(order, [](const Listed& a, const Listed& b) {
    if (a.head != b.head) return a.head < b.head;
    if (const int names = a.entry->name.compare(b.entry->name); names != 0) return names < 0;
    return a.entry->path < b.entry->path;
  });

  std::vector<MachineProfile> profiles;
  profiles.reserve(entries->size());
  for (const Listed& listed : order) {
    DirectoryEntry& entry = *listed.entry;
    auto text = read_file(entry.path, MAX_PROFILE_BYTES);
    if (!text) {
      return std::unexpected(
          read_failure_text(text.error(), path_to_utf8(std::filesystem::path(entry.path))));
    }
    auto profile = read_profile(*text, decode);
    if (!profile) {
      // Both decoders refuse every text that is not UTF-8, so the check
      // need only run, before any other error, on a refused text.
      if (!is_valid_utf8(*text)) return std::unexpected("stream did not contain valid UTF-8");
      return std::unexpected(path_to_utf8(std::filesystem::path(entry.path)) + " : " +
                             profile_error_text(profile.error()));
    }
    profiles.push_back(std::move(*profile));
    // Read and decoded: its name and path are no longer needed, and the
    // memory they free goes to the next profiles.
    entry = DirectoryEntry{};
  }
  return profiles;
}

}  // namespace nivalto
