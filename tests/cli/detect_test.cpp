#include "cli/detect.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/support/recording_console.h"
#include "tests/support/smbios_builder.h"

namespace nivalto {
namespace {

using testing::FixedFirmwareTable;
using testing::RecordingConsole;
using testing::SmbiosBuilder;

namespace fs = std::filesystem;

class DetectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("nivalto-detect-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "profiles");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write_profile(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / "profiles" / name) << text;
  }

  std::string profiles() const { return (dir_ / "profiles").string(); }

  fs::path dir_;
};

const std::string MODEL =
    "schema_version = 1\nid = \"x1-gen9\"\ndisplay_name = \"X1 Carbon Gen 9\"\n"
    "scope = \"model\"\n[matches]\nmtm = [\"20XW\"]\n";

std::vector<std::byte> x1_table(const std::string& marker = "S") {
  std::array<std::uint8_t, 16> uuid{};
  uuid.fill(0xAB);
  return SmbiosBuilder()
      .bios("LENOVO", "N32ET75W (1.51 )", "01/05/2022")
      .system({.manufacturer = "LENOVO",
               .product_name = "20XWCTO1WW",
               .version = "ThinkPad X1 Carbon Gen 9",
               .serial_number = marker,
               .uuid = uuid,
               .family = "ThinkPad X1 Carbon Gen 9"})
      .baseboard({.manufacturer = "LENOVO",
                  .product = "20XWCTO1WW",
                  .serial_number = marker,
                  .asset_tag = marker})
      .chassis({.manufacturer = "LENOVO", .serial_number = marker, .asset_tag = marker})
      .end_of_table()
      .table();
}

TEST_F(DetectTest, ReportHasTwelveKeysInOrderWithLabels) {
  write_profile("x1.toml", MODEL);
  FixedFirmwareTable firmware(x1_table());
  RecordingConsole console;
  ASSERT_TRUE(run_detect(profiles(), std::nullopt, firmware, "linux-sysfs", console));
  EXPECT_EQ(console.err_text, "");
  ASSERT_TRUE(console.out_text.ends_with("}\n"));

  const auto report = nlohmann::ordered_json::parse(console.out_text);
  std::vector<std::string> keys;
  for (const auto& [key, value] : report.items()) keys.push_back(key);
  EXPECT_EQ(keys,
            (std::vector<std::string>{"notice", "backend", "manufacturer", "mtm", "display_name",
                                      "bios_vendor", "bios_version", "bios_release_date",
                                      "resolution", "profile_id", "profiles_loaded", "sources"}));
  EXPECT_EQ(report["backend"], "linux-sysfs");
  EXPECT_EQ(report["mtm"], "20XW");
  EXPECT_EQ(report["display_name"], "ThinkPad X1 Carbon Gen 9");
  EXPECT_EQ(report["bios_version"], "N32ET75W (1.51 )");
  EXPECT_EQ(report["resolution"], "exact");
  EXPECT_EQ(report["profile_id"], "x1-gen9");
  EXPECT_EQ(report["profiles_loaded"], 1);
  EXPECT_EQ(report["sources"]["display_name"], "SMBIOS type 1 (System) : Version");
  EXPECT_EQ(report["sources"]["bios_release_date"], "SMBIOS type 0 (BIOS) : Release Date");
  // The indented layout, two blanks a level.
  EXPECT_NE(console.out_text.find("\n  \"sources\": {\n    \"manufacturer\": "), std::string::npos);
}

TEST_F(DetectTest, PerUnitIdentifiersNeverReachTheReport) {
  const std::string marker = "UNIT-MARKER-93";
  FixedFirmwareTable firmware(x1_table(marker));
  RecordingConsole console;
  ASSERT_TRUE(run_detect(profiles(), std::nullopt, firmware, "linux-sysfs", console));
  EXPECT_EQ(console.out_text.find(marker), std::string::npos);
  EXPECT_EQ(console.out_text.find("\xAB\xAB"), std::string::npos);
  EXPECT_EQ(console.out_text.find("ABABABAB"), std::string::npos);
  EXPECT_EQ(console.out_text.find("abababab"), std::string::npos);
}

TEST_F(DetectTest, AbsentValuesAreNullAndKeysStay) {
  FixedFirmwareTable firmware(std::vector<std::byte>{});
  RecordingConsole console;
  ASSERT_TRUE(run_detect(profiles(), std::nullopt, firmware, "windows-native", console));
  const auto report = nlohmann::ordered_json::parse(console.out_text);
  EXPECT_EQ(report.size(), 12u);
  for (const char* key : {"manufacturer", "mtm", "display_name", "bios_vendor", "bios_version",
                          "bios_release_date", "profile_id"}) {
    EXPECT_TRUE(report[key].is_null()) << key;
    if (std::string(key) != "profile_id") {
      EXPECT_TRUE(report["sources"][key].is_null()) << key;
    }
  }
  EXPECT_EQ(report["resolution"], "unsupported");
  EXPECT_EQ(report["profiles_loaded"], 0);
  EXPECT_EQ(report["backend"], "windows-native");
}

TEST_F(DetectTest, ProfilesAreLoadedBeforeTheFirmwareIsRead) {
  write_profile("bad.toml", "schema_version = 1\nid = \"\"\n");
  FixedFirmwareTable firmware(std::vector<std::byte>{});
  RecordingConsole console;
  const auto result = run_detect(profiles(), std::nullopt, firmware, "linux-sysfs", console);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("profils (" + profiles() + ") : ")) << result.error();
  EXPECT_EQ(firmware.reads, 0);
  EXPECT_EQ(console.out_text, "");
}

TEST_F(DetectTest, FirmwareErrorIsShownWithItsPrefix) {
  FixedFirmwareTable firmware(std::unexpected(HalError::unavailable("table RSMB absente")));
  RecordingConsole console;
  const auto result = run_detect(profiles(), std::nullopt, firmware, "windows-native", console);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "ressource non disponible : table RSMB absente");
  EXPECT_EQ(console.out_text, "");

  FixedFirmwareTable broken(testing::bytes_of({0x01, 0x03, 0x00, 0x00}));
  const auto parse_failure =
      run_detect(profiles(), std::nullopt, broken, "windows-native", console);
  ASSERT_FALSE(parse_failure);
  EXPECT_EQ(parse_failure.error(), "données invalides : structure SMBIOS invalide à l'offset 0");
}

TEST_F(DetectTest, OutFileGetsTheBytesStandardOutputWouldGet) {
  write_profile("x1.toml", MODEL);
  FixedFirmwareTable firmware(x1_table());
  RecordingConsole plain;
  ASSERT_TRUE(run_detect(profiles(), std::nullopt, firmware, "linux-sysfs", plain));

  RecordingConsole redirected;
  const std::string out = (dir_ / "rapport.json").string();
  ASSERT_TRUE(run_detect(profiles(), out, firmware, "linux-sysfs", redirected));
  EXPECT_EQ(redirected.out_text, "");
  std::ifstream file(out, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(file)), {});
  EXPECT_EQ(written, plain.out_text);

  const std::string missing = (dir_ / "absent" / "rapport.json").string();
  const auto failure = run_detect(profiles(), missing, firmware, "linux-sysfs", redirected);
  ASSERT_FALSE(failure);
  EXPECT_TRUE(failure.error().starts_with("écriture de " + missing + " : ")) << failure.error();
}

TEST(DetectionReport, EscapesOnlyWhatJsonRequires) {
  MachineIdentity identity;
  identity.manufacturer = "Fab \"é\" \\ \x01\t/";
  identity.sources.manufacturer = LABEL_MANUFACTURER;
  const auto text = detection_report_document(identity, Resolution{}, 0, "linux-sysfs");
  ASSERT_TRUE(text);
  EXPECT_NE(text->find(R"("manufacturer": "Fab \"é\" \\ \u0001\t/",)"), std::string::npos) << *text;
  EXPECT_FALSE(text->ends_with("\n"));
}

}  // namespace
}  // namespace nivalto
