#include "nivalto/hal/smbios.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "nivalto/hal/text.h"

namespace nivalto {
namespace {

constexpr std::size_t HEADER_SIZE = 4;
constexpr std::uint8_t TYPE_BIOS = 0;
constexpr std::uint8_t TYPE_SYSTEM = 1;
constexpr std::uint8_t TYPE_BASEBOARD = 2;
constexpr std::uint8_t TYPE_END_OF_TABLE = 127;

// Where a field's string-index byte lies, and the formatted-area length from
// which the firmware's SMBIOS version defines it.
struct StringField {
  std::size_t index_offset;
  std::size_t minimum_length;
  std::optional<std::string> SmbiosSummary::*field;
};

constexpr StringField BIOS_FIELDS[] = {
    {0x04, 5, &SmbiosSummary::bios_vendor},
    {0x05, 6, &SmbiosSummary::bios_version},
    {0x08, 9, &SmbiosSummary::bios_release_date},
};
constexpr StringField SYSTEM_FIELDS[] = {
    {0x04, 5, &SmbiosSummary::system_manufacturer},
    {0x05, 6, &SmbiosSummary::system_product_name},
    {0x06, 7, &SmbiosSummary::system_version},
    {0x1A, 27, &SmbiosSummary::system_family},
};
constexpr StringField BASEBOARD_FIELDS[] = {
    {0x05, 6, &SmbiosSummary::baseboard_product},
};

std::uint8_t byte_at(std::span<const std::byte> table, std::size_t pos) {
  return static_cast<std::uint8_t>(table[pos]);
}

// One structure whose bounds have been checked against the table.
struct Structure {
  std::span<const std::byte> formatted;  // header included
  std::vector<std::string_view> pieces;  // raw string set, index 1 first
};

std::vector<std::string_view> split_string_set(std::span<const std::byte> strings) {
  std::vector<std::string_view> pieces;
  if (strings.empty()) return pieces;
  const std::string_view text(reinterpret_cast<const char*>(strings.data()), strings.size());
  std::size_t begin = 0;
  for (;;) {
    const std::size_t nul = text.find('\0', begin);
    if (nul == std::string_view::npos) {
      pieces.push_back(text.substr(begin));
      return pieces;
    }
    pieces.push_back(text.substr(begin, nul - begin));
    begin = nul + 1;
  }
}

void fill_fields(const Structure& structure, std::span<const StringField> fields,
                 SmbiosSummary& summary) {
  for (const StringField& f : fields) {
    if (structure.formatted.size() < f.minimum_length) continue;
    const std::size_t index = byte_at(structure.formatted, f.index_offset);
    if (index == 0 || index > structure.pieces.size()) continue;
    const std::string decoded = decode_utf8_lossy(structure.pieces[index - 1]);
    const std::string_view trimmed = trim_white_space(decoded);
    if (!trimmed.empty()) summary.*(f.field) = std::string(trimmed);
  }
}

}  // namespace

HalResult<SmbiosSummary> parse_smbios(std::span<const std::byte> table) {
  SmbiosSummary summary;
  bool seen_bios = false;
  bool seen_system = false;
  bool seen_baseboard = false;
  const std::size_t size = table.size();
  std::size_t pos = 0;

  // Fewer than a header's worth of bytes left is padding, not a structure.
  while (size - pos >= HEADER_SIZE) {
    const std::uint8_t type = byte_at(table, pos);
    const std::size_t length = byte_at(table, pos + 1);
    if (length < HEADER_SIZE || length > size - pos) {
      return std::unexpected(
          HalError::invalid_data("structure SMBIOS invalide à l'offset " + std::to_string(pos)));
    }
    const std::size_t start = pos + length;
    if (size - start < 2) {
      return std::unexpected(HalError::invalid_data("section de chaînes SMBIOS non terminée"));
    }
    std::size_t i = 0;
    while (start + i + 1 < size &&
           (byte_at(table, start + i) != 0 || byte_at(table, start + i + 1) != 0)) {
      ++i;
    }
    if (start + i + 1 >= size) {
      return std::unexpected(HalError::invalid_data("section de chaînes SMBIOS non terminée"));
    }

    const auto fill_once = [&](bool& seen, std::span<const StringField> fields) {
      if (seen) return;
      seen = true;
      const Structure structure{table.subspan(pos, length),
                                split_string_set(table.subspan(start, i))};
      fill_fields(structure, fields, summary);
    };
    switch (type) {
      case TYPE_BIOS:
        fill_once(seen_bios, BIOS_FIELDS);
        break;
      case TYPE_SYSTEM:
        fill_once(seen_system, SYSTEM_FIELDS);
        break;
      case TYPE_BASEBOARD:
        fill_once(seen_baseboard, BASEBOARD_FIELDS);
        break;
      case TYPE_END_OF_TABLE:
        return summary;
      default:
        break;
    }
    pos = start + i + 2;
  }
  return summary;
}

}  // namespace nivalto
