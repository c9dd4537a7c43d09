#include <gtest/gtest.h>

#include "nivalto/hal/backlight_access.h"
#include "nivalto/hal/keyboard_backlight.h"

namespace nivalto {
namespace {

TEST(BacklightPlatformLinux, EveryAccessSaysTheBacklightNeedsWindows) {
  for (const auto& result : {read_keyboard_backlight(), write_keyboard_backlight(1)}) {
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, HalErrorKind::Unavailable);
    EXPECT_NE(result.error().message.find("que sous Windows"), std::string::npos)
        << result.error().message;
  }
}

}  // namespace
}  // namespace nivalto
