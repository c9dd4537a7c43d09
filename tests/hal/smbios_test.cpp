#include "nivalto/hal/smbios.h"

#include <gtest/gtest.h>

#include "tests/support/smbios_builder.h"

namespace nivalto {
namespace {

using testing::bytes_of;
using testing::SmbiosBuilder;

const HalError UNTERMINATED = HalError::invalid_data("section de chaînes SMBIOS non terminée");

HalError invalid_at(std::size_t position) {
  return HalError::invalid_data("structure SMBIOS invalide à l'offset " + std::to_string(position));
}

SmbiosSummary parsed(std::span<const std::byte> table) {
  auto result = parse_smbios(table);
  if (!result) {
    ADD_FAILURE() << result.error().display();
    return {};
  }
  return *std::move(result);
}

std::vector<std::byte> concat(std::vector<std::byte> a, const std::vector<std::byte>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// 01 08 00 00 01 02 00 00 41 00 42 00 00 7F 04 01 00 00 00: a type-1
// structure (manufacturer 1, product name 2, version 0) with the strings A and
// B, then an end-of-table structure at offset 13.
const std::vector<std::byte> SMALL_TABLE =
    bytes_of({0x01, 0x08, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x41, 0x00, 0x42, 0x00, 0x00, 0x7F,
              0x04, 0x01, 0x00, 0x00, 0x00});

TEST(ParseSmbios, SmallSystemTableGivesManufacturerAndProductOnly) {
  SmbiosSummary expected;
  expected.system_manufacturer = "A";
  expected.system_product_name = "B";
  EXPECT_EQ(parse_smbios(SMALL_TABLE), expected);
}

TEST(ParseSmbios, ShortOrOverlongStructureHeaderNamesItsOffset) {
  auto broken = SMALL_TABLE;
  broken[14] = std::byte{0x02};
  EXPECT_EQ(parse_smbios(broken), std::unexpected(invalid_at(13)));

  EXPECT_EQ(parse_smbios(bytes_of({0x00, 0x03, 0x00, 0x00, 0x00, 0x00})),
            std::unexpected(invalid_at(0)));
  EXPECT_EQ(parse_smbios(bytes_of({0x00, 0x00, 0x00, 0x00, 0x00, 0x00})),
            std::unexpected(invalid_at(0)));
  // The formatted area would run one byte past the end.
  EXPECT_EQ(parse_smbios(bytes_of({0x00, 0x07, 0x00, 0x00, 0x00, 0x00})),
            std::unexpected(invalid_at(0)));
  auto past_end = SMALL_TABLE;
  past_end[14] = std::byte{0xFF};
  EXPECT_EQ(parse_smbios(past_end), std::unexpected(invalid_at(13)));
}

TEST(ParseSmbios, OffsetIsWrittenInDecimalWithoutSeparators) {
  SmbiosBuilder builder;
  for (int i = 0; i < 4; ++i) builder.structure(200, std::vector<std::uint8_t>(251, 0x11));
  auto table = builder.table();  // four structures of 255 + 2 bytes
  ASSERT_EQ(table.size(), 1028u);
  table = concat(table, bytes_of({0x01, 0x02, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(parse_smbios(table), std::unexpected(invalid_at(1028)));
}

TEST(ParseSmbios, TablesShorterThanAHeaderAreEmpty) {
  const std::vector<std::vector<std::byte>> tables = {
      {}, bytes_of({0x01}), bytes_of({0x01, 0x02}), bytes_of({0x01, 0x02, 0xFF})};
  for (const auto& table : tables) {
    EXPECT_EQ(parse_smbios(table), SmbiosSummary{}) << table.size();
  }
}

TEST(ParseSmbios, TableWithoutEndStructureGivesWhatWasGathered) {
  const auto table = SmbiosBuilder().bios("Vendor", "1.0", "01/02/2003").table();
  SmbiosSummary expected;
  expected.bios_vendor = "Vendor";
  expected.bios_version = "1.0";
  expected.bios_release_date = "01/02/2003";
  EXPECT_EQ(parse_smbios(table), expected);
}

TEST(ParseSmbios, FewerThanFourTrailingBytesAreIgnoredFourOrMoreAreAStructure) {
  const auto base = SmbiosBuilder().system({.manufacturer = "M"}).table();
  EXPECT_EQ(parsed(concat(base, bytes_of({0x01, 0x02, 0x03}))).system_manufacturer, "M");
  // Four trailing bytes: a header whose string set has no room.
  EXPECT_EQ(parse_smbios(concat(base, bytes_of({0x05, 0x04, 0x00, 0x00}))),
            std::unexpected(UNTERMINATED));
  EXPECT_EQ(parse_smbios(concat(base, bytes_of({0x05, 0x02, 0x00, 0x00}))),
            std::unexpected(invalid_at(base.size())));
  EXPECT_EQ(
      parsed(concat(base, bytes_of({0x05, 0x04, 0x00, 0x00, 0x00, 0x00}))).system_manufacturer,
      "M");
}

TEST(ParseSmbios, StringSetMustEndWithTwoNulsInsideTheTable) {
  // Only one byte after the formatted area.
  EXPECT_EQ(parse_smbios(bytes_of({0x7F, 0x04, 0x00, 0x00, 0x00})), std::unexpected(UNTERMINATED));
  // Two bytes, but not both NUL.
  EXPECT_EQ(parse_smbios(bytes_of({0x7F, 0x04, 0x00, 0x00, 0x41, 0x00})),
            std::unexpected(UNTERMINATED));
  // A string set whose last string is terminated but the set is not.
  auto missing_final_nul = SMALL_TABLE;
  missing_final_nul.resize(12);
  EXPECT_EQ(parse_smbios(missing_final_nul), std::unexpected(UNTERMINATED));
  // The same for the end-of-table structure itself.
  auto end_unterminated = SMALL_TABLE;
  end_unterminated.pop_back();
  EXPECT_EQ(parse_smbios(end_unterminated), std::unexpected(UNTERMINATED));
}

TEST(ParseSmbios, NothingAfterTheEndStructureIsLookedAt) {
  const auto table = SmbiosBuilder()
                         .system({.manufacturer = "First"})
                         .end_of_table()
                         .raw(bytes_of({0x01, 0x02, 0x00, 0x00, 0x00}))
                         .table();
  EXPECT_EQ(parsed(table).system_manufacturer, "First");

  const auto after_end = SmbiosBuilder().end_of_table().bios("Late", "1", "2").table();
  EXPECT_EQ(parse_smbios(after_end), SmbiosSummary{});
}

TEST(ParseSmbios, IgnoredAndRepeatedStructuresAreStillChecked) {
  const auto good = SmbiosBuilder().bios("V", "1", "D").table();
  // A malformed vendor-specific structure.
  EXPECT_EQ(parse_smbios(concat(good, bytes_of({0x85, 0x03, 0x00, 0x00, 0x00, 0x00}))),
            std::unexpected(invalid_at(good.size())));
  // A second, unterminated BIOS structure.
  EXPECT_EQ(parse_smbios(concat(good, bytes_of({0x00, 0x05, 0x00, 0x00, 0x01, 0x41, 0x00}))),
            std::unexpected(UNTERMINATED));
}

TEST(ParseSmbios, OnlyTheFirstStructureOfEachTypeCounts) {
  const auto table = SmbiosBuilder()
                         .bios("First vendor", std::nullopt, "01/01/2001")
                         .system({.manufacturer = "M"})
                         .bios("Second vendor", "2.0", "02/02/2002")
                         .system({.manufacturer = "Other", .product_name = "P", .family = "F"})
                         .baseboard({.product = "Board one"})
                         .baseboard({.product = "Board two"})
                         .end_of_table()
                         .table();
  SmbiosSummary expected;
  expected.bios_vendor = "First vendor";
  expected.bios_release_date = "01/01/2001";
  expected.system_manufacturer = "M";
  expected.baseboard_product = "Board one";
  EXPECT_EQ(parse_smbios(table), expected);
}

TEST(ParseSmbios, ReadsEveryFieldOfTheCurrentLayouts) {
  const auto table =
      SmbiosBuilder()
          .chassis({.manufacturer = "Chassis maker", .serial_number = "CHASSIS-SERIAL"})
          .baseboard({.manufacturer = "Board maker",
                      .product = "Board",
                      .version = "B1",
                      .serial_number = "BOARD-SERIAL",
                      .asset_tag = "TAG"})
          .system({.manufacturer = "LENOVO",
                   .product_name = "20L8S07A14",
                   .version = "ThinkPad T480s",
                   .serial_number = "SERIAL",
                   .uuid = {1, 2, 3, 4},
                   .sku_number = "SKU",
                   .family = "ThinkPad T480s family"})
          .bios("LENOVO", "N22ET52W (1.29 )", "01/16/2019")
          .end_of_table()
          .table();
  const SmbiosSummary expected{
      "LENOVO",         "N22ET52W (1.29 )",      "01/16/2019", "LENOVO", "20L8S07A14",
      "ThinkPad T480s", "ThinkPad T480s family", "Board"};
  EXPECT_EQ(parse_smbios(table), expected);
}

TEST(ParseSmbios, FieldsNeedTheirMinimumFormattedLength) {
  // Type 1 of length 8 (SMBIOS 2.0): no family, although offset 0x1A exists in the table.
  const auto old_system = SmbiosBuilder()
                              .structure(1, {0x01, 0x02, 0x03, 0x00}, {"M", "P", "V"})
                              .structure(200, std::vector<std::uint8_t>(30, 0x01), {"X"})
                              .table();
  SmbiosSummary expected;
  expected.system_manufacturer = "M";
  expected.system_product_name = "P";
  expected.system_version = "V";
  EXPECT_EQ(parse_smbios(old_system), expected);

  // Each length one short of a field's minimum: the index byte would be the
  // first string byte, 0x01, which must not be read as an index.
  const std::string first_string = "\x01 string";
  const struct {
    std::uint8_t type;
    std::size_t length;
  } cases[] = {{0, 4}, {0, 5}, {0, 8}, {1, 4}, {1, 5}, {1, 6}, {1, 26}, {2, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.length));
    std::vector<std::uint8_t> body(c.length - 4, 0x01);
    const auto table = SmbiosBuilder().structure(c.type, body, {first_string}).table();
    const SmbiosSummary summary = parsed(table);
    const std::size_t present = (c.type == 0) ? (c.length >= 5) + (c.length >= 6) + (c.length >= 9)
                                : (c.type == 1)
                                    ? (c.length >= 5) + (c.length >= 6) + (c.length >= 7)
                                    : 0;
    const std::size_t counted =
        summary.bios_vendor.has_value() + summary.bios_version.has_value() +
        summary.bios_release_date.has_value() + summary.system_manufacturer.has_value() +
        summary.system_product_name.has_value() + summary.system_version.has_value() +
        summary.system_family.has_value() + summary.baseboard_product.has_value();
    EXPECT_EQ(counted, present);
  }

  // At exactly the minimum the field is read.
  EXPECT_EQ(parsed(SmbiosBuilder().structure(0, {0x01}, {"V"}).table()).bios_vendor, "V");
  EXPECT_EQ(
      parsed(SmbiosBuilder().structure(0, {0, 0, 0, 0, 0x01}, {"D"}).table()).bios_release_date,
      "D");
  EXPECT_EQ(parsed(SmbiosBuilder().structure(2, {0, 0x01}, {"B"}).table()).baseboard_product, "B");
  std::vector<std::uint8_t> family_body(23, 0);
  family_body[0x1A - 4] = 0x01;
  EXPECT_EQ(parsed(SmbiosBuilder().structure(1, family_body, {"F"}).table()).system_family, "F");
}

TEST(ParseSmbios, MissingEmptyAndOutOfRangeStringsLeaveFieldsAbsent) {
  // Two-NUL string set: every index is out of range.
  const auto no_strings = SmbiosBuilder().structure(1, {0x01, 0x02, 0x03, 0x01}).table();
  EXPECT_EQ(parse_smbios(no_strings), SmbiosSummary{});

  // Index 0, an index past the set, and blank strings.
  const auto table = SmbiosBuilder()
                         .structure(1, {0x00, 0x03, 0x01, 0x02}, {"   ", "\t\r\n"})
                         .bios(" \xC2\xA0\xE3\x80\x80 ", std::nullopt, std::nullopt)
                         .table();
  EXPECT_EQ(parse_smbios(table), SmbiosSummary{});
}

TEST(ParseSmbios, EmptyPiecesKeepTheirIndex) {
  // String set 00 41 00 00: the first string is empty, the second is A.
  const auto table = bytes_of({0x01, 0x06, 0x00, 0x00, 0x01, 0x02, 0x00, 0x41, 0x00, 0x00});
  SmbiosSummary expected;
  expected.system_product_name = "A";
  EXPECT_EQ(parse_smbios(table), expected);
}

TEST(ParseSmbios, StringsAreTrimmedAndDecodedLossily) {
  const auto table = SmbiosBuilder()
                         .bios("  Phoenix  Technologies \t",
                               "\xC2\xA0"
                               "1.0\xE2\x80\xAF",
                               " caf\xE9 ")
                         .system({.manufacturer = "\xE2\x80\x8B"
                                                  "Zero width\xE2\x80\x8B",
                                  .product_name = "Bad \xED\xA0\x80 surrogate",
                                  .version = "Trunc\xE2\x82"})
                         .table();
  const SmbiosSummary summary = parsed(table);
  EXPECT_EQ(summary.bios_vendor, "Phoenix  Technologies");
  EXPECT_EQ(summary.bios_version, "1.0");
  EXPECT_EQ(summary.bios_release_date, "caf\xEF\xBF\xBD");
  // U+200B is not white space.
  EXPECT_EQ(summary.system_manufacturer,
            "\xE2\x80\x8B"
            "Zero width\xE2\x80\x8B");
  EXPECT_EQ(summary.system_product_name, "Bad \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD surrogate");
  EXPECT_EQ(summary.system_version, "Trunc\xEF\xBF\xBD");
}

// Real tables; the expected values were read from the bytes with a separate tool.
TEST(ParseSmbiosRealTables, ThinkPadT480s) {
  const SmbiosSummary expected{"LENOVO",     "N22ET52W (1.29 )", "01/16/2019",     "LENOVO",
                               "20L8S07A14", "ThinkPad T480s",   "ThinkPad T480s", "20L8S07A14"};
  EXPECT_EQ(parse_smbios(testing::shared_raw_table("uroot_Lenovo-ThinkPad-T480.bin")), expected);
}

TEST(ParseSmbiosRealTables, ThinkPadW510WithInactiveStructures) {
  const SmbiosSummary expected{"LENOVO",  "6NET84WW (1.45 )", "10/03/2012",    "LENOVO",
                               "431924G", "ThinkPad W510",    "ThinkPad W510", "431924G"};
  EXPECT_EQ(parse_smbios(testing::shared_raw_table("uroot_Lenovo-ThinkPad-W510.bin")), expected);
}

TEST(ParseSmbiosRealTables, VmwareWithSixHundredStructures) {
  SmbiosSummary expected{
      "Phoenix Technologies LTD", "6.00", "05/19/2017", "VMware, Inc.",
      "VMware Virtual Platform",  "None", std::nullopt, "440BX Desktop Reference Platform"};
  EXPECT_EQ(parse_smbios(testing::shared_raw_table("uroot_VMWare.bin")), expected);
}

TEST(ParseSmbiosRealTables, AsusVersionPaddedWithBlanks) {
  const SmbiosSummary expected{"American Megatrends Inc.",
                               "UX305LA.206",
                               "08/03/2015",
                               "ASUSTeK COMPUTER INC.",
                               "UX305LA",
                               "1.0",
                               "UX",
                               "UX305LA"};
  EXPECT_EQ(parse_smbios(testing::shared_raw_table("uroot_Asus-UX307LA.bin")), expected);
}

TEST(ParseSmbiosRealTables, GigabyteSingleBlankFieldsAreAbsent) {
  const SmbiosSummary expected{"Award Software International, Inc.",
                               "F8",
                               "08/03/2010",
                               "Gigabyte Technology Co., Ltd.",
                               "GA-MA74GMT-S2",
                               std::nullopt,
                               std::nullopt,
                               "GA-MA74GMT-S2"};
  EXPECT_EQ(parse_smbios(testing::shared_raw_table("uroot_Gigabyte-GA-MA74GMT-S2.bin")), expected);
}

TEST(ParseSmbiosRealTables, BeelinkPlaceholdersAreKeptByTheParser) {
  const SmbiosSummary expected{"American Megatrends International, LLC.",
                               "N95V106",
                               "12/15/2023",
                               "AZW",
                               "EQ",
                               "Default string",
                               "Default string",
                               "EQ"};
  EXPECT_EQ(parse_smbios(testing::shared_raw_table("siderolabs_Beelink-EQ12.dmi")), expected);
}

TEST(ParseSmbiosRealTables, SurfaceLaptopFromTheRsmbBuffer) {
  const SmbiosSummary expected{"Microsoft Corporation",
                               "1.2238.140",
                               "01/16/2020",
                               "Microsoft Corporation",
                               "Surface Laptop 3",
                               "124I:00044T:000M:0400000B:07",
                               "Surface",
                               "Surface Laptop 3"};
  EXPECT_EQ(parse_smbios(testing::shared_raw_table("smbioslib_jeffgerlap_3_2_0.dat")), expected);
}

TEST(ParseSmbiosRealTables, HyperVStructureOfLengthZero) {
  EXPECT_EQ(parse_smbios(testing::shared_raw_table("siderolabs_HyperV.dmi")),
            std::unexpected(invalid_at(478)));
}

}  // namespace
}  // namespace nivalto
