#include "nivalto/hal/identity.h"

#include <array>
#include <utility>

#include "nivalto/hal/text.h"

namespace nivalto {
namespace {

// Factory defaults seen in firmware instead of real values, lower-cased.
constexpr std::array<std::string_view, 9> PLACEHOLDERS = {
    "n/a",
    "none",
    "undefined",
    "not specified",
    "system version",
    "not applicable",
    "default string",
    "system product name",
    "to be filled by o.e.m.",
};

constexpr std::size_t MACHINE_TYPE_LENGTH = 4;

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::optional<std::string_view> label_if(const std::optional<std::string>& field,
                                         std::string_view label) {
  if (field) return label;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> normalize_field(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const std::string_view trimmed = trim_white_space(*text);
  if (trimmed.empty()) return std::nullopt;
  const std::string folded = ascii_fold(trimmed);
  for (const std::string_view placeholder : PLACEHOLDERS) {
    if (folded == placeholder) return std::nullopt;
  }
  return std::string(trimmed);
}

std::optional<std::string> machine_type_of(std::string_view text) {
  const std::string_view trimmed = trim_white_space(text);
  // Byte-wise is enough: a non-ASCII character among the first four shows up
  // as a non-ASCII byte among the first four bytes and rejects the text.
  if (trimmed.size() < MACHINE_TYPE_LENGTH) return std::nullopt;
  std::string type(trimmed.substr(0, MACHINE_TYPE_LENGTH));
  for (const char c : type) {
    if (!is_ascii_digit(c) && !is_ascii_letter(c)) return std::nullopt;
  }
  if (!is_ascii_digit(type.front())) return std::nullopt;
  for (char& c : type) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return type;
}

MachineIdentity build_identity(SmbiosSummary summary) {
  MachineIdentity identity;
  const std::optional<std::string> product = normalize_field(summary.system_product_name);
  if (product) identity.mtm = machine_type_of(*product);
  const std::optional<std::string> version = normalize_field(summary.system_version);
  const std::optional<std::string> family = normalize_field(summary.system_family);
  const std::optional<std::string> board = normalize_field(summary.baseboard_product);

  // A product name that is a machine-type code is no name to show.
  const std::pair<const std::optional<std::string>*, std::string_view> candidates[] = {
      {&version, LABEL_VERSION},
      {&family, LABEL_FAMILY},
      {identity.mtm ? nullptr : &product, LABEL_PRODUCT_NAME},
      {&board, LABEL_BASEBOARD_PRODUCT},
  };
  for (const auto& [candidate, label] : candidates) {
    if (candidate != nullptr && candidate->has_value()) {
      identity.display_name = **candidate;
      identity.sources.display_name = label;
      break;
    }
  }

  identity.manufacturer = normalize_field(summary.system_manufacturer);
  identity.sources.manufacturer = label_if(identity.manufacturer, LABEL_MANUFACTURER);
  identity.sources.mtm = label_if(identity.mtm, LABEL_PRODUCT_NAME);
  identity.sources.bios_vendor = label_if(summary.bios_vendor, LABEL_BIOS_VENDOR);
  identity.sources.bios_version = label_if(summary.bios_version, LABEL_BIOS_VERSION);
  identity.sources.bios_release_date = label_if(summary.bios_release_date, LABEL_BIOS_RELEASE_DATE);
  identity.summary = std::move(summary);
  return identity;
}

HalResult<MachineIdentity> read_machine_identity(FirmwareTableSource& source) {
  auto table = source.read_smbios_table();
  if (!table) return std::unexpected(std::move(table.error()));
  auto summary = parse_smbios(*table);
  if (!summary) return std::unexpected(std::move(summary.error()));
  return build_identity(std::move(*summary));
}

}  // namespace nivalto
