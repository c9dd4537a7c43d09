#include "cli/service/service_host.h"

#include <gtest/gtest.h>

#include "tests/support/recording_console.h"

namespace nivalto {
namespace {

TEST(ServiceHostLinuxTest, ServiceRoleNeedsWindows) {
  testing::RecordingConsole console;
  EXPECT_EQ(run_service_dispatcher(console), 1);
  EXPECT_EQ(console.err_text, "erreur : le service NivaltoHal n'existe que sous Windows\n");
  EXPECT_EQ(console.out_text, "");
}

}  // namespace
}  // namespace nivalto
