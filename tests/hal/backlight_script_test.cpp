#include "nivalto/hal/backlight_script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/file_bytes.h"

namespace nivalto {
namespace {

constexpr const char* SCRIPT_PATH = NIVALTO_SOURCE_DIR "/hal/scripts/keyboard_backlight.ps1";

using testing::file_bytes;

TEST(BacklightScript, EmbeddedTextIsTheFileInTheTreeByteForByte) {
  const std::string file = file_bytes(SCRIPT_PATH);
  const std::string_view embedded = backlight_script_text();
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(embedded.size(), file.size());
  // Report where the copies part rather than printing 40 kB twice.
  const auto [in_embedded, in_file] =
      std::mismatch(embedded.begin(), embedded.end(), file.begin(), file.end());
  const auto offset = static_cast<std::size_t>(in_embedded - embedded.begin());
  EXPECT_TRUE(in_embedded == embedded.end() && in_file == file.end())
      << "first difference at offset " << offset << ": embedded \"" << embedded.substr(offset, 40)
      << "\", file \"" << file.substr(offset, 40) << "\"";
}

// The text is written to disk unchanged and read by powershell.exe, whose
// default code page would garble anything but ASCII; Nivalto adds no byte
// order mark and expects bare line feeds.
TEST(BacklightScript, IsAsciiWithBareLineFeedsAndNoByteOrderMark) {
  const std::string_view text = backlight_script_text();
  ASSERT_FALSE(text.empty());
  EXPECT_FALSE(text.starts_with("\xEF\xBB\xBF"));
  const auto non_ascii = std::find_if(text.begin(), text.end(),
                                      [](char c) { return static_cast<unsigned char>(c) > 0x7F; });
  EXPECT_TRUE(non_ascii == text.end()) << "non-ASCII byte at offset " << (non_ascii - text.begin());
  EXPECT_EQ(text.find('\r'), std::string_view::npos)
      << "carriage return at offset " << text.find('\r');
  EXPECT_EQ(text.find('\0'), std::string_view::npos);
  EXPECT_EQ(text.back(), '\n');
}

// The access routine passes -Mode, -Level and -FrameworkDir by name; the
// script must declare exactly those parameters with those types.
TEST(BacklightScript, DeclaresTheParametersTheAccessRoutinePasses) {
  const std::string_view text = backlight_script_text();
  EXPECT_NE(text.find("[ValidateSet('read', 'write')]"), std::string_view::npos);
  EXPECT_NE(text.find("[string]$Mode = 'read'"), std::string_view::npos);
  EXPECT_NE(text.find("[int]$Level = 0"), std::string_view::npos);
  EXPECT_NE(text.find("[string]$FrameworkDir = ''"), std::string_view::npos);
}

}  // namespace
}  // namespace nivalto
