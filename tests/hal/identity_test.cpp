#include "nivalto/hal/identity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/smbios_builder.h"

namespace nivalto {
namespace {

using testing::FixedFirmwareTable;
using testing::SmbiosBuilder;

TEST(NormalizeField, EveryPlaceholderIsAbsentInAnyCaseAndPadding) {
  const std::vector<std::string> placeholders = {"n/a",
                                                 "none",
                                                 "undefined",
                                                 "not specified",
                                                 "system version",
                                                 "not applicable",
                                                 "default string",
                                                 "system product name",
                                                 "to be filled by o.e.m."};
  for (const std::string& p : placeholders) {
    std::string upper = p;
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    std::string mixed = p;
    mixed[0] = upper[0];
    for (const std::string& text :
         {p, upper, mixed, " \t" + p + "\xC2\xA0 ", "\xE3\x80\x80" + upper + "\n"}) {
      EXPECT_EQ(normalize_field(text), std::nullopt) << text;
    }
  }
}

TEST(NormalizeField, NearPlaceholdersAreRealValues) {
  const std::vector<std::string> values = {"To Be Filled By O.E.M",  // no final full stop
                                           "not  specified",  // inner white space is not collapsed
                                           "n.a",
                                           "none.",
                                           "N/A N/A",
                                           "\xC3\x91ONE",  // non-ASCII letters are not folded
                                           "System Version 2",
                                           "default_string"};
  for (const std::string& v : values) EXPECT_EQ(normalize_field(v), v);
}

TEST(NormalizeField, TrimsButKeepsLetterCase) {
  EXPECT_EQ(normalize_field(std::string("  ThinkPad X1 Carbon\t\xE2\x80\xA8")),
            "ThinkPad X1 Carbon");
  EXPECT_EQ(normalize_field(std::nullopt), std::nullopt);
  EXPECT_EQ(normalize_field(std::string()), std::nullopt);
  EXPECT_EQ(normalize_field(std::string(" \t\xC2\x85 ")), std::nullopt);
}

TEST(MachineTypeOf, FirstFourCharactersUpperCased) {
  EXPECT_EQ(machine_type_of("20XWCTO1WW"), "20XW");
  EXPECT_EQ(machine_type_of("20xw"), "20XW");
  EXPECT_EQ(machine_type_of("431924G"), "4319");
  EXPECT_EQ(machine_type_of("1234"), "1234");
  EXPECT_EQ(machine_type_of(" \xC2\xA0"
                            "20l8s07a14 "),
            "20L8");
  // Whatever follows the first four is not examined.
  EXPECT_EQ(machine_type_of("20L8-\xFF\xC3\xA9 !"), "20L8");
}

TEST(MachineTypeOf, RejectsShortNonAlphanumericOrLetterFirst) {
  for (const std::string_view text :
       {"", "20X", " 20X ", "20-X", "2 0X", "20X.", "X20W", "ThinkPad",
        "2\xC3\xA9"
        "0W",
        "20\xC3\xA9",
        "\xEF\xBC\x92"
        "0XW",
        "20X\xFF"}) {
    EXPECT_EQ(machine_type_of(text), std::nullopt) << text;
  }
}

SmbiosSummary system_summary(std::optional<std::string> product, std::optional<std::string> version,
                             std::optional<std::string> family, std::optional<std::string> board) {
  SmbiosSummary summary;
  summary.system_product_name = std::move(product);
  summary.system_version = std::move(version);
  summary.system_family = std::move(family);
  summary.baseboard_product = std::move(board);
  return summary;
}

TEST(BuildIdentity, MachineTypeCodeWithCommercialNameInVersion) {
  const auto identity = build_identity(
      system_summary("20XWCTO1WW", "ThinkPad X1 Carbon Gen 9", "ThinkPad X1", "20XWCTO1WW"));
  EXPECT_EQ(identity.mtm, "20XW");
  EXPECT_EQ(identity.sources.mtm, LABEL_PRODUCT_NAME);
  EXPECT_EQ(identity.display_name, "ThinkPad X1 Carbon Gen 9");
  EXPECT_EQ(identity.sources.display_name, LABEL_VERSION);
}

TEST(BuildIdentity, DisplayNameCandidatesInOrder) {
  struct Case {
    SmbiosSummary summary;
    std::optional<std::string> display_name;
    std::optional<std::string_view> label;
  };
  const Case cases[] = {
      {system_summary("20XWCTO1WW", "System Version", "ThinkPad X1", "B"), "ThinkPad X1",
       LABEL_FAMILY},
      // A product name that gave a machine type is never shown.
      {system_summary("20XWCTO1WW", std::nullopt, " none ", "SDK0J40697 WIN"), "SDK0J40697 WIN",
       LABEL_BASEBOARD_PRODUCT},
      {system_summary("20XWCTO1WW", std::nullopt, std::nullopt, std::nullopt), std::nullopt,
       std::nullopt},
      {system_summary("Surface Laptop 3", std::nullopt, std::nullopt, "Board"), "Surface Laptop 3",
       LABEL_PRODUCT_NAME},
      {system_summary("Surface Laptop 3", std::nullopt, "Surface", "Board"), "Surface",
       LABEL_FAMILY},
      // Three characters or a hyphen: no machine type, so the product is a name.
      {system_summary("X13", std::nullopt, std::nullopt, "Board"), "X13", LABEL_PRODUCT_NAME},
      {system_summary("20-XW", std::nullopt, std::nullopt, "Board"), "20-XW", LABEL_PRODUCT_NAME},
      {system_summary("SYSTEM PRODUCT NAME", "system version", std::nullopt, "Default String"),
       std::nullopt, std::nullopt},
      {system_summary(std::nullopt, std::nullopt, std::nullopt, " Board "), "Board",
       LABEL_BASEBOARD_PRODUCT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.summary.system_product_name.value_or("<absent>"));
    const auto identity = build_identity(c.summary);
    EXPECT_EQ(identity.display_name, c.display_name);
    EXPECT_EQ(identity.sources.display_name, c.label);
    EXPECT_EQ(identity.summary, c.summary);
  }
}

TEST(BuildIdentity, PlaceholderOnlyMachineHasNoTypeNoNameNoLabels) {
  const auto identity = build_identity(
      system_summary("System Product Name", "SYSTEM VERSION", std::nullopt, "default string"));
  EXPECT_EQ(identity.mtm, std::nullopt);
  EXPECT_EQ(identity.display_name, std::nullopt);
  EXPECT_EQ(identity.sources, IdentitySources{});
}

TEST(BuildIdentity, ManufacturerIsFilteredAndLabelledOnlyWhenPresent) {
  SmbiosSummary summary;
  summary.system_manufacturer = "   ";
  auto identity = build_identity(summary);
  EXPECT_EQ(identity.manufacturer, std::nullopt);
  EXPECT_EQ(identity.sources.manufacturer, std::nullopt);

  summary.system_manufacturer = "TO BE FILLED BY O.E.M.";
  EXPECT_EQ(build_identity(summary).manufacturer, std::nullopt);

  summary.system_manufacturer = " LENOVO ";
  identity = build_identity(summary);
  EXPECT_EQ(identity.manufacturer, "LENOVO");
  EXPECT_EQ(identity.sources.manufacturer, LABEL_MANUFACTURER);
}

TEST(BuildIdentity, BiosValuesAreKeptUnfilteredWithTheirLabels) {
  SmbiosSummary summary;
  summary.bios_vendor = "Not Specified";
  summary.bios_release_date = "01/16/2019";
  const auto identity = build_identity(summary);
  EXPECT_EQ(identity.summary.bios_vendor, "Not Specified");
  EXPECT_EQ(identity.summary.bios_release_date, "01/16/2019");
  IdentitySources expected;
  expected.bios_vendor = LABEL_BIOS_VENDOR;
  expected.bios_release_date = LABEL_BIOS_RELEASE_DATE;
  EXPECT_EQ(identity.sources, expected);
}

TEST(ReadMachineIdentity, EmptyTableGivesAnIdentityWithNothingPresent) {
  FixedFirmwareTable source(std::vector<std::byte>{});
  EXPECT_EQ(read_machine_identity(source), MachineIdentity{});
  EXPECT_EQ(source.reads, 1);
}

TEST(ReadMachineIdentity, PassesSourceAndParserErrorsOnUnchanged) {
  const HalError refused = HalError::access_denied("lecture de la table RSMB refusée");
  FixedFirmwareTable failing{std::unexpected(refused)};
  EXPECT_EQ(read_machine_identity(failing), std::unexpected(refused));

  FixedFirmwareTable malformed(testing::bytes_of({0x01, 0x03, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(read_machine_identity(malformed),
            std::unexpected(HalError::invalid_data("structure SMBIOS invalide à l'offset 0")));
}

TEST(ReadMachineIdentity, BuiltTableEndToEnd) {
  FixedFirmwareTable source(SmbiosBuilder()
                                .bios("LENOVO", "N2HET77W (1.60 )", "02/06/2024")
                                .system({.manufacturer = "LENOVO",
                                         .product_name = "21BR001BFR",
                                         .version = "ThinkPad T14s Gen 3",
                                         .serial_number = "PF-SERIAL",
                                         .family = "ThinkPad T14s Gen 3"})
                                .end_of_table()
                                .table());
  const auto identity = read_machine_identity(source);
  ASSERT_TRUE(identity.has_value()) << identity.error().display();
  EXPECT_EQ(identity->manufacturer, "LENOVO");
  EXPECT_EQ(identity->mtm, "21BR");
  EXPECT_EQ(identity->display_name, "ThinkPad T14s Gen 3");
  const IdentitySources expected{LABEL_MANUFACTURER, LABEL_PRODUCT_NAME, LABEL_VERSION,
                                 LABEL_BIOS_VENDOR,  LABEL_BIOS_VERSION, LABEL_BIOS_RELEASE_DATE};
  EXPECT_EQ(identity->sources, expected);
}

struct RealMachine {
  const char* file;
  std::optional<std::string> manufacturer;
  std::optional<std::string> mtm;
  std::optional<std::string> display_name;
  std::optional<std::string_view> display_label;
};

TEST(ReadMachineIdentityRealTables, IdentitiesOfTheSharedTables) {
  const RealMachine machines[] = {
      {"uroot_Lenovo-ThinkPad-T480.bin", "LENOVO", "20L8", "ThinkPad T480s", LABEL_VERSION},
      {"uroot_Lenovo-ThinkPad-W510.bin", "LENOVO", "4319", "ThinkPad W510", LABEL_VERSION},
      {"uroot_VMWare.bin", "VMware, Inc.", std::nullopt, "VMware Virtual Platform",
       LABEL_PRODUCT_NAME},
      {"uroot_Gigabyte-GA-MA74GMT-S2.bin", "Gigabyte Technology Co., Ltd.", std::nullopt,
       "GA-MA74GMT-S2", LABEL_PRODUCT_NAME},
      {"siderolabs_Beelink-EQ12.dmi", "AZW", std::nullopt, "EQ", LABEL_PRODUCT_NAME},
      {"uroot_Asus-UX307LA.bin", "ASUSTeK COMPUTER INC.", std::nullopt, "1.0", LABEL_VERSION},
  };
  for (const RealMachine& m : machines) {
    SCOPED_TRACE(m.file);
    FixedFirmwareTable source(testing::shared_raw_table(m.file));
    const auto identity = read_machine_identity(source);
    ASSERT_TRUE(identity.has_value()) << identity.error().display();
    EXPECT_EQ(identity->manufacturer, m.manufacturer);
    EXPECT_EQ(identity->mtm, m.mtm);
    EXPECT_EQ(identity->display_name, m.display_name);
    EXPECT_EQ(identity->sources.display_name, m.display_label);
    EXPECT_EQ(identity->sources.mtm.has_value(), m.mtm.has_value());
  }
}

}  // namespace
}  // namespace nivalto
