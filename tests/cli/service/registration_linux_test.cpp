#include "cli/service/registration.h"

#include <gtest/gtest.h>

#include "tests/support/recording_console.h"

namespace nivalto {
namespace {

TEST(RegistrationLinuxTest, InstallAndUninstallNeedWindows) {
  testing::RecordingConsole console;
  EXPECT_EQ(install_service(console).error(), "le service NivaltoHal n'existe que sous Windows");
  EXPECT_EQ(uninstall_service(console).error(), "le service NivaltoHal n'existe que sous Windows");
  EXPECT_EQ(console.out_text, "");
}

}  // namespace
}  // namespace nivalto
