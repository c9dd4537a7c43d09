#include "nivalto/hal/sysfs_firmware_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "nivalto/hal/smbios.h"
#include "tests/support/smbios_builder.h"

namespace nivalto {
namespace {

namespace fs = std::filesystem;
using testing::SmbiosBuilder;

class SysfsFirmwareTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("nivalto-sysfs-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string write_file(const std::string& name, const std::vector<std::byte>& bytes) {
    const fs::path path = dir / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }

  fs::path dir;
};

TEST_F(SysfsFirmwareTableTest, ReadsTheWholeFileAsTheStructureTable) {
  const auto table = SmbiosBuilder()
                         .bios("LENOVO", "N22ET52W (1.29 )", "01/16/2019")
                         .system({.manufacturer = "LENOVO", .product_name = "20L8S07A14"})
                         .end_of_table()
                         .table();
  SysfsFirmwareTable source(write_file("DMI", table));

  const auto read = source.read_smbios_table();
  EXPECT_EQ(read, table);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(parse_smbios(*read)->system_product_name, "20L8S07A14");
}

TEST_F(SysfsFirmwareTableTest, ReadsFilesLargerThanOneReadAndEmptyFiles) {
  std::vector<std::byte> big(200'003);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::byte>(i * 7);
  SysfsFirmwareTable big_source(write_file("big", big));
  EXPECT_EQ(big_source.read_smbios_table(), big);

  SysfsFirmwareTable empty_source(write_file("empty", {}));
  EXPECT_EQ(empty_source.read_smbios_table(), std::vector<std::byte>{});
}

TEST_F(SysfsFirmwareTableTest, MissingFileIsUnavailableAndNamesThePath) {
  for (const fs::path& path : {dir / "missing", dir / "missing-dir" / "DMI"}) {
    SysfsFirmwareTable source(path.string());
    EXPECT_EQ(
        source.read_smbios_table(),
        std::unexpected(HalError::unavailable("table SMBIOS absente (" + path.string() + ")")));
  }
}

TEST_F(SysfsFirmwareTableTest, PathThroughARegularFileIsAMissingTable) {
  const std::string file = write_file("plain", {std::byte{1}});
  SysfsFirmwareTable source(file + "/DMI");
  EXPECT_EQ(source.read_smbios_table(),
            std::unexpected(HalError::unavailable("table SMBIOS absente (" + file + "/DMI)")));
}

TEST_F(SysfsFirmwareTableTest, DirectoryInsteadOfAFileIsUnavailable) {
  SysfsFirmwareTable source(dir.string());
  EXPECT_EQ(source.read_smbios_table(),
            std::unexpected(HalError::unavailable("lecture de " + dir.string() +
                                                  " impossible (erreur système " +
                                                  std::to_string(EISDIR) + ")")));
}

TEST(SysfsReadError, RefusalsAreAccessDeniedAndOtherFailuresUnavailable) {
  const std::string path = "/sys/firmware/dmi/tables/DMI";
  EXPECT_EQ(sysfs_read_error(EACCES, path),
            HalError::access_denied("lecture de /sys/firmware/dmi/tables/DMI refusée"));
  EXPECT_EQ(sysfs_read_error(EPERM, path),
            HalError::access_denied("lecture de /sys/firmware/dmi/tables/DMI refusée"));
  EXPECT_EQ(sysfs_read_error(ENOENT, path),
            HalError::unavailable("table SMBIOS absente (/sys/firmware/dmi/tables/DMI)"));
  EXPECT_EQ(sysfs_read_error(EIO, path),
            HalError::unavailable("lecture de /sys/firmware/dmi/tables/DMI impossible "
                                  "(erreur système " +
                                  std::to_string(EIO) + ")"));
}

}  // namespace
}  // namespace nivalto
