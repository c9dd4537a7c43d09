#pragma once

// The pieces the detection report and the profile listing share: the notice,
// the profile-loading step, the document layout and the output step.
#include <expected>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/console.h"
#include "cli/dispatch.h"
#include "cli/profiles/machine_profile.h"

namespace nivalto {

// Carried by every document, as the member "notice".
inline constexpr std::string_view NOTICE_TEXT =
    "Nivalto est un projet indépendant et NON OFFICIEL. Il n'est ni développé, ni approuvé, ni "
    "soutenu par Lenovo. ThinkPad et Lenovo sont des marques de Lenovo. Fourni sans garantie : "
    "utilisation à vos risques.";

// The profiles of `profiles_dir` (UTF-8, as typed on the command line) in
// loading order, or "profils ({profiles_dir}) : {cause}".
[[nodiscard]] std::expected<std::vector<MachineProfile>, std::string> load_profiles_for_command(
    const std::string& profiles_dir);

// The document text: members one per line at two blanks per nesting level,
// "[]" for an empty array, strings with the JSON escapes only (control
// characters as \u00xx, non-ASCII as is), and no line feed after the closing
// brace. Fails only with the JSON library's own text, for a string that is
// not UTF-8.
[[nodiscard]] std::expected<std::string, std::string> serialise_document(
    const nlohmann::ordered_json& document);

// Writes the document and one line feed to standard output or, when `out` is
// given (UTF-8, as typed), into that file, created or truncated, leaving
// standard output untouched. Fails with "écriture de {out} : {cause}", the
// cause being the system's description; a file already truncated stays so.
[[nodiscard]] CommandResult emit_document(std::string_view document,
                                          const std::optional<std::string>& out, Console& console);

// The platform's whole-file write behind emit_document: creates or truncates
// the file and writes every byte, or returns the system's description.
[[nodiscard]] std::expected<void, std::string> write_whole_file(const std::string& path,
                                                                std::string_view bytes);

}  // namespace nivalto
