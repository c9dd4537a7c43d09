#include "nivalto/hal/firmware_table.h"

#include <gtest/gtest.h>

#include <string>

#include "nivalto/hal/sysfs_firmware_table.h"

namespace nivalto {
namespace {

// Whatever this machine exposes, the platform source must give exactly what
// the sysfs DMI table file gives, and must be the same object on every call.
TEST(PlatformFirmwareTable, ReadsTheSysfsDmiTable) {
  FirmwareTableSource& source = platform_firmware_table();
  EXPECT_EQ(&source, &platform_firmware_table());

  SysfsFirmwareTable direct{std::string(SYSFS_DMI_TABLE_PATH)};
  const auto expected = direct.read_smbios_table();
  const auto actual = source.read_smbios_table();
  EXPECT_EQ(actual, expected);
  if (!actual) {
    EXPECT_NE(actual.error().message.find(SYSFS_DMI_TABLE_PATH), std::string::npos)
        << actual.error().message;
  }
}

}  // namespace
}  // namespace nivalto
