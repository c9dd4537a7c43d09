#include "nivalto/hal/win32_text_windows.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace nivalto::win32 {
namespace {

TEST(Win32Text, Utf8AndUtf16RoundTrip) {
  const std::string text = "Nivalto : rétroéclairage « été » \xF0\x9F\x92\xA1";
  const std::wstring wide = to_wide(text);
  EXPECT_EQ(wide, L"Nivalto : rétroéclairage « été » \U0001F4A1");
  EXPECT_EQ(to_utf8(wide), text);
  EXPECT_EQ(to_wide(""), L"");
  EXPECT_EQ(to_utf8(L""), "");
}

TEST(Win32Text, BrokenInputBecomesReplacementCharacters) {
  EXPECT_EQ(to_wide("a\xFF"
                    "b"),
            L"a\uFFFDb");
  EXPECT_EQ(to_utf8(std::wstring(L"a") + wchar_t(0xD800) + L"b"),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(Win32Text, ErrorTextIsTheSystemsWithoutLineBreak) {
  const std::string text = error_text(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '\r');
  EXPECT_NE(text.back(), ' ');
  EXPECT_EQ(error_text(0x2FFFFFFF), "erreur système 805306367");
}

}  // namespace
}  // namespace nivalto::win32
