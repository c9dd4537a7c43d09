#include "cli/detect.h"

#include <nlohmann/json.hpp>

#include "cli/document.h"
#include "cli/report_backend.h"
#include "cli/smbios_file_table.h"

namespace nivalto {
namespace {

using Json = nlohmann::ordered_json;

Json text_or_null(const std::optional<std::string>& text) {
  return text ? Json(*text) : Json(nullptr);
}

Json label_or_null(const std::optional<std::string_view>& label) {
  return label ? Json(std::string(*label)) : Json(nullptr);
}

}  // namespace

std::expected<std::string, std::string> detection_report_document(const MachineIdentity& identity,
                                                                  const Resolution& resolution,
                                                                  std::size_t profiles_loaded,
                                                                  std::string_view backend) {
  const SmbiosSummary& summary = identity.summary;
  const IdentitySources& sources = identity.sources;

  Json report = Json::object();
  report["notice"] = std::string(NOTICE_TEXT);
  report["backend"] = std::string(backend);
  report["manufacturer"] = text_or_null(identity.manufacturer);
  report["mtm"] = text_or_null(identity.mtm);
  report["display_name"] = text_or_null(identity.display_name);
  // The BIOS texts as the firmware gave them: no placeholder filtering.
  report["bios_vendor"] = text_or_null(summary.bios_vendor);
  report["bios_version"] = text_or_null(summary.bios_version);
  report["bios_release_date"] = text_or_null(summary.bios_release_date);
  report["resolution"] = std::string(resolution_spelling(resolution.kind));
  const bool names_profile =
      (resolution.kind == ResolutionKind::Exact || resolution.kind == ResolutionKind::Family) &&
      resolution.profile != nullptr;
  report["profile_id"] = names_profile ? Json(resolution.profile->id) : Json(nullptr);
  report["profiles_loaded"] = static_cast<std::uint64_t>(profiles_loaded);

  Json labels = Json::object();
  labels["manufacturer"] = label_or_null(sources.manufacturer);
  labels["mtm"] = label_or_null(sources.mtm);
  labels["display_name"] = label_or_null(sources.display_name);
  labels["bios_vendor"] = label_or_null(sources.bios_vendor);
  labels["bios_version"] = label_or_null(sources.bios_version);
  labels["bios_release_date"] = label_or_null(sources.bios_release_date);
  report["sources"] = std::move(labels);

  return serialise_document(report);
}

CommandResult run_detect(const std::string& profiles_dir, const std::optional<std::string>& out,
                         FirmwareTableSource& firmware, std::string_view backend,
                         Console& console) {
  const auto profiles = load_profiles_for_command(profiles_dir);
  if (!profiles) return std::unexpected(profiles.error());

  const auto identity = read_machine_identity(firmware);
  if (!identity) return std::unexpected(identity.error().display());

  const Resolution resolution = resolve_profile(*profiles, *identity);
  const auto document = detection_report_document(*identity, resolution, profiles->size(), backend);
  if (!document) return std::unexpected(document.error());
  return emit_document(*document, out, console);
}

CommandResult run_detect(const std::string& profiles_dir, const std::optional<std::string>& out,
                         const std::optional<std::string>& smbios, Console& console) {
  if (smbios) {
    SmbiosFileTable file(*smbios);
    return run_detect(profiles_dir, out, file, SMBIOS_FILE_BACKEND, console);
  }
  return run_detect(profiles_dir, out, platform_firmware_table(), report_backend(), console);
}

}  // namespace nivalto
