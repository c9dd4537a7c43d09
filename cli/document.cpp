#include "cli/document.h"

#include <nlohmann/json.hpp>

#include "cli/profiles/load_profiles.h"
#include "cli/profiles/profile_files.h"

namespace nivalto {

std::expected<std::vector<MachineProfile>, std::string> load_profiles_for_command(
    const std::string& profiles_dir) {
  auto profiles = load_profiles(path_from_utf8(profiles_dir));
  if (!profiles) return std::unexpected("profils (" + profiles_dir + ") : " + profiles.error());
  return profiles;
}

std::expected<std::string, std::string> serialise_document(const nlohmann::ordered_json& document) {
  try {
    return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
  } catch (const nlohmann::ordered_json::exception& error) {
    return std::unexpected(std::string(error.what()));
  }
}

CommandResult emit_document(std::string_view document, const std::optional<std::string>& out,
                            Console& console) {
  std::string bytes;
  bytes.reserve(document.size() + 1);
  bytes.append(document);
  bytes.push_back('\n');
  if (!out) {
    console.out(bytes);
    return {};
  }
  if (auto written = write_whole_file(*out, bytes); !written) {
    return std::unexpected("écriture de " + *out + " : " + written.error());
  }
  return {};
}

}  // namespace nivalto
