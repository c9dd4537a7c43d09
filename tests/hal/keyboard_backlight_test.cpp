#include "nivalto/hal/keyboard_backlight.h"

#include <gtest/gtest.h>

namespace nivalto {
namespace {

TEST(BacklightSourceText, EachSourceHasItsOwnTextBothWays) {
  const std::pair<BacklightSource, std::string_view> all[] = {
      {BacklightSource::Hid, "hid"},
      {BacklightSource::LenovoWmi, "lenovo-wmi"},
      {BacklightSource::ThinkpadPm, "thinkpad-pm"},
      {BacklightSource::Framework, "framework"}};
  for (const auto& [source, text] : all) {
    EXPECT_EQ(source_text(source), text);
    EXPECT_EQ(source_from_text(text), source);
  }
}

TEST(BacklightSourceText, OnlyExactTextsAreRecognised) {
  for (const std::string_view text : {"", "HID", "Framework", "thinkpad_pm", "hid\n", " hid"}) {
    EXPECT_EQ(source_from_text(text), std::nullopt) << text;
  }
  EXPECT_EQ(source_text(static_cast<BacklightSource>(9)), "");
}

}  // namespace
}  // namespace nivalto
