#include "nivalto/hal/smbios_file.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <string_view>
#include <utility>

#include "nivalto/hal/windows_firmware_table.h"

namespace nivalto {
namespace {

constexpr std::string_view ANCHOR_32 = "_SM_";
constexpr std::string_view ANCHOR_64 = "_SM3_";
constexpr std::string_view INTERMEDIATE_ANCHOR = "_DMI_";
constexpr std::size_t ENTRY_POINT_32_SIZE = 0x1F;
constexpr std::size_t ENTRY_POINT_64_SIZE = 0x18;
constexpr std::size_t INTERMEDIATE_OFFSET = 0x10;
constexpr std::size_t INTERMEDIATE_SIZE = 0x0F;
constexpr std::size_t STRUCTURE_HEADER_SIZE = 4;

std::uint64_t little_endian(std::span<const std::byte> bytes, std::size_t offset,
                            std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    value |= static_cast<std::uint64_t>(bytes[offset + i]) << (8 * i);
  }
  return value;
}

bool starts_with(std::span<const std::byte> bytes, std::string_view anchor) {
  if (bytes.size() < anchor.size()) return false;
  for (std::size_t i = 0; i < anchor.size(); ++i) {
    if (static_cast<char>(bytes[i]) != anchor[i]) return false;
  }
  return true;
}

// An entry point is valid when its bytes add up to 0 modulo 256.
bool sums_to_zero(std::span<const std::byte> bytes) {
  return std::accumulate(bytes.begin(), bytes.end(), std::uint8_t{0},
                         [](std::uint8_t sum, std::byte b) {
                           return static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(b));
                         }) == 0;
}

HalError invalid(std::string message) { return HalError::invalid_data(std::move(message)); }

// The entry point's own length byte, checked against its minimum and the file,
// and its checksum over that length.
HalResult<std::size_t> checked_entry_point(std::span<const std::byte> file, std::string_view anchor,
                                           std::size_t length_offset, std::size_t minimum) {
  const std::string name(anchor);
  if (file.size() < minimum) return std::unexpected(invalid("point d'entrée " + name + " tronqué"));
  const auto length = static_cast<std::size_t>(file[length_offset]);
  if (length < minimum || length > file.size()) {
    return std::unexpected(
        invalid("longueur du point d'entrée " + name + " invalide : " + std::to_string(length)));
  }
  if (!sums_to_zero(file.first(length))) {
    return std::unexpected(invalid("somme de contrôle du point d'entrée " + name + " incorrecte"));
  }
  return length;
}

HalError outside_the_file(std::uint64_t address, std::uint64_t length, std::size_t size) {
  return invalid("table SMBIOS hors du fichier (adresse " + std::to_string(address) +
                 ", longueur " + std::to_string(length) + ", fichier de " + std::to_string(size) +
                 " octets)");
}

std::vector<std::byte> copy_of(std::span<const std::byte> file, std::uint64_t address,
                               std::uint64_t length) {
  const auto table =
      file.subspan(static_cast<std::size_t>(address), static_cast<std::size_t>(length));
  return {table.begin(), table.end()};
}

HalResult<std::vector<std::byte>> table_after_entry_point_32(std::span<const std::byte> file) {
  const auto entry_length = checked_entry_point(file, ANCHOR_32, 0x05, ENTRY_POINT_32_SIZE);
  if (!entry_length) return std::unexpected(entry_length.error());
  const auto intermediate = file.subspan(INTERMEDIATE_OFFSET, INTERMEDIATE_SIZE);
  if (!starts_with(intermediate, INTERMEDIATE_ANCHOR)) {
    return std::unexpected(invalid("ancre _DMI_ absente du point d'entrée _SM_"));
  }
  if (!sums_to_zero(intermediate)) {
    return std::unexpected(invalid("somme de contrôle de l'ancre _DMI_ incorrecte"));
  }
  const std::uint64_t length = little_endian(file, 0x16, 2);
  const std::uint64_t address = little_endian(file, 0x18, 4);
  // The table lies after the entry point, whole, inside the file.
  if (address < *entry_length || address + length > file.size()) {
    return std::unexpected(outside_the_file(address, length, file.size()));
  }
  return copy_of(file, address, length);
}

HalResult<std::vector<std::byte>> table_after_entry_point_64(std::span<const std::byte> file) {
  const auto entry_length = checked_entry_point(file, ANCHOR_64, 0x06, ENTRY_POINT_64_SIZE);
  if (!entry_length) return std::unexpected(entry_length.error());
  const std::uint64_t maximum = little_endian(file, 0x0C, 4);
  const std::uint64_t address = little_endian(file, 0x10, 8);
  if (address < *entry_length || address > file.size() || (address == file.size() && maximum > 0)) {
    return std::unexpected(outside_the_file(address, maximum, file.size()));
  }
  // This entry point gives the table's largest size, not its size: real
  // dumps stop at the end-of-table structure, before that size is reached.
  return copy_of(file, address, std::min<std::uint64_t>(maximum, file.size() - address));
}

}  // namespace

HalResult<std::vector<std::byte>> table_from_smbios_file(std::span<const std::byte> file) {
  if (file.empty()) return std::unexpected(invalid("fichier SMBIOS vide"));
  if (starts_with(file, ANCHOR_64)) return table_after_entry_point_64(file);
  if (starts_with(file, ANCHOR_32)) return table_after_entry_point_32(file);
  if (file.size() >= 2 && static_cast<std::uint8_t>(file[1]) < STRUCTURE_HEADER_SIZE) {
    return table_from_rsmb_buffer(file);
  }
  if (file.size() < STRUCTURE_HEADER_SIZE) {
    return std::unexpected(
        invalid("format de fichier SMBIOS inconnu : ni table brute, ni point d'entrée _SM_ ou "
                "_SM3_, ni tampon RSMB"));
  }
  return std::vector<std::byte>(file.begin(), file.end());
}

}  // namespace nivalto
