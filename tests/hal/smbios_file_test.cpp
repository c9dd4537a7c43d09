#include "nivalto/hal/smbios_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <variant>

#include "tests/support/smbios_builder.h"

namespace nivalto {
namespace {

using testing::SmbiosBuilder;
using Bytes = std::vector<std::byte>;
using Edit = std::function<void(Bytes&)>;

const Bytes TABLE =
    SmbiosBuilder().bios("LENOVO", "N22ET52W (1.29 )", "01/16/2019").end_of_table().table();

void put(Bytes& bytes, std::size_t offset, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    bytes[offset + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
  }
}

void fix_checksum(Bytes& bytes, std::size_t from, std::size_t length, std::size_t at) {
  bytes[at] = std::byte{0};
  std::uint8_t sum = 0;
  for (std::size_t i = from; i < from + length; ++i) sum += static_cast<std::uint8_t>(bytes[i]);
  bytes[at] = static_cast<std::byte>(-sum & 0xFF);
}

Bytes text(std::string_view s) {
  Bytes bytes;
  for (char c : s) bytes.push_back(static_cast<std::byte>(c));
  return bytes;
}

// An anchor at offset 0, zeros up to 0x20 and the table from there, in one
// allocation (growing a 4-byte vector makes mingw's GCC 12 warn falsely).
Bytes anchor_then_table(std::string_view anchor) {
  Bytes file(0x20 + TABLE.size(), std::byte{0});
  std::ranges::copy(text(anchor), file.begin());
  std::ranges::copy(TABLE, file.begin() + 0x20);
  return file;
}

// A saved entry point at offset 0, padded to 0x20, and the table behind it.
// `edit` runs before the checksums are made, `spoil` after.
Bytes entry_point_32(const Edit& edit = {}, const Edit& spoil = {}) {
  Bytes file = anchor_then_table("_SM_");
  file[0x05] = std::byte{0x1F};
  file[0x06] = std::byte{2};
  file[0x07] = std::byte{8};
  std::ranges::copy(text("_DMI_"), file.begin() + 0x10);
  put(file, 0x16, TABLE.size(), 2);
  put(file, 0x18, 0x20, 4);
  if (edit) edit(file);
  fix_checksum(file, 0x10, 0x0F, 0x15);
  fix_checksum(file, 0, static_cast<std::size_t>(file[0x05]), 0x04);
  if (spoil) spoil(file);
  return file;
}

Bytes entry_point_64(const Edit& edit = {}, const Edit& spoil = {}) {
  Bytes file = anchor_then_table("_SM3_");
  file[0x06] = std::byte{0x18};
  file[0x07] = std::byte{3};
  file[0x0A] = std::byte{1};
  put(file, 0x0C, TABLE.size(), 4);
  put(file, 0x10, 0x20, 8);
  if (edit) edit(file);
  fix_checksum(file, 0, std::min<std::size_t>(static_cast<std::size_t>(file[0x06]), file.size()),
               0x05);
  if (spoil) spoil(file);
  return file;
}

// Either the table the file must give, or the message of its InvalidData error.
using Expected = std::variant<Bytes, std::string>;

TEST(SmbiosFile, FormatsToldByContentAndEveryFieldCheckedAgainstTheFile) {
  const std::string outside_32 =
      "table SMBIOS hors du fichier (adresse 32, longueur 65535, "
      "fichier de " +
      std::to_string(32 + TABLE.size()) + " octets)";
  const std::vector<std::pair<std::string, std::pair<Bytes, Expected>>> cases = {
      {"bare table", {TABLE, TABLE}},
      {"RSMB buffer", {testing::with_rsmb_header(TABLE), TABLE}},
      {"32-bit entry point", {entry_point_32(), TABLE}},
      {"64-bit entry point", {entry_point_64(), TABLE}},
      {"64-bit largest size beyond the file: cut at the file's end",
       {entry_point_64([](Bytes& f) { put(f, 0x0C, 0xFFFFFFFF, 4); }), TABLE}},
      {"empty", {{}, std::string("fichier SMBIOS vide")}},
      {"shorter than a structure header",
       {text("ab\n"), std::string("format de fichier SMBIOS inconnu : ni table brute, ni point "
                                  "d'entrée _SM_ ou _SM3_, ni tampon RSMB")}},
      {"RSMB length beyond the file",
       {testing::bytes_of({0x00, 0x03, 0x02, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}),
        std::string("longueur RSMB incohérente")}},
      {"64-bit entry point cut short",
       {text("_SM3_\x01\x18"), std::string("point d'entrée _SM3_ tronqué")}},
      {"64-bit entry point length too small",
       {entry_point_64([](Bytes& f) { f[0x06] = std::byte{0x10}; }),
        std::string("longueur du point d'entrée _SM3_ invalide : 16")}},
      {"64-bit entry point length beyond the file",
       {entry_point_64([](Bytes& f) { f[0x06] = std::byte{0xFF}; }),
        std::string("longueur du point d'entrée _SM3_ invalide : 255")}},
      {"64-bit checksum",
       {entry_point_64({}, [](Bytes& f) { f[0x07] ^= std::byte{1}; }),
        std::string("somme de contrôle du point d'entrée _SM3_ incorrecte")}},
      {"64-bit address that would wrap",
       {entry_point_64([](Bytes& f) { put(f, 0x10, ~std::uint64_t{0}, 8); }),
        "table SMBIOS hors du fichier (adresse 18446744073709551615, longueur " +
            std::to_string(TABLE.size()) + ", fichier de " + std::to_string(32 + TABLE.size()) +
            " octets)"}},
      {"64-bit table over the entry point",
       {entry_point_64([](Bytes& f) { put(f, 0x10, 0, 8); }),
        "table SMBIOS hors du fichier (adresse 0, longueur " + std::to_string(TABLE.size()) +
            ", fichier de " + std::to_string(32 + TABLE.size()) + " octets)"}},
      {"32-bit entry point cut short",
       {text("_SM_\x01\x1F"), std::string("point d'entrée _SM_ tronqué")}},
      {"32-bit checksum",
       {entry_point_32({}, [](Bytes& f) { f[0x06] ^= std::byte{1}; }),
        std::string("somme de contrôle du point d'entrée _SM_ incorrecte")}},
      {"32-bit without its _DMI_ anchor",
       {entry_point_32([](Bytes& f) { f[0x10] = std::byte{'-'}; }),
        std::string("ancre _DMI_ absente du point d'entrée _SM_")}},
      {"32-bit _DMI_ checksum",
       {entry_point_32({},
                       [](Bytes& f) {
                         f[0x17] ^= std::byte{1};
                         fix_checksum(f, 0, 0x1F, 0x04);
                       }),
        std::string("somme de contrôle de l'ancre _DMI_ incorrecte")}},
      {"32-bit length beyond the file",
       {entry_point_32([](Bytes& f) { put(f, 0x16, 0xFFFF, 2); }), outside_32}},
      {"32-bit address beyond the file",
       {entry_point_32([](Bytes& f) { put(f, 0x18, 0xFFFFFFFF, 4); }),
        "table SMBIOS hors du fichier (adresse 4294967295, longueur " +
            std::to_string(TABLE.size()) + ", fichier de " + std::to_string(32 + TABLE.size()) +
            " octets)"}},
  };
  for (const auto& [name, file_and_expected] : cases) {
    const auto& [file, expected] = file_and_expected;
    const auto table = table_from_smbios_file(file);
    if (const auto* bytes = std::get_if<Bytes>(&expected)) {
      ASSERT_TRUE(table) << name << ": " << table.error().display();
      EXPECT_EQ(*table, *bytes) << name;
    } else {
      ASSERT_FALSE(table) << name;
      EXPECT_EQ(table.error(), HalError::invalid_data(std::get<std::string>(expected))) << name;
    }
  }
}

}  // namespace
}  // namespace nivalto
