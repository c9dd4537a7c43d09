#include "cli/listing.h"

#include <nlohmann/json.hpp>

#include "cli/document.h"

namespace nivalto {

CommandResult run_profiles(const std::string& profiles_dir, const std::optional<std::string>& out,
                           Console& console) {
  auto profiles = load_profiles_for_command(profiles_dir);
  if (!profiles) return std::unexpected(std::move(profiles.error()));

  auto summaries = nlohmann::ordered_json::array();
  for (const MachineProfile& profile : *profiles) {
    summaries.push_back({
        {"id", profile.id},
        {"display_name", profile.display_name},
        {"scope", scope_spelling(profile.scope)},
        {"capabilities", static_cast<std::uint64_t>(profile.capabilities.size())},
    });
  }
  nlohmann::ordered_json listing;
  listing["notice"] = NOTICE_TEXT;
  listing["profiles"] = std::move(summaries);

  auto document = serialise_document(listing);
  if (!document) return std::unexpected(std::move(document.error()));
  return emit_document(*document, out, console);
}

}  // namespace nivalto
