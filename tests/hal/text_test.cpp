#include "nivalto/hal/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nivalto {
namespace {

std::string utf8(char32_t cp) {
  std::string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

// The 25 code points with the Unicode White_Space property.
const std::vector<char32_t> WHITE_SPACE = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                           0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                           0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                           0x2029, 0x202F, 0x205F, 0x3000};

// Look like space or are invisible, but are not White_Space.
const std::vector<char32_t> NOT_WHITE_SPACE = {
    0x00, 0x1C, 0x1F, 0x7F, 0xAD, 0x180E, 0x200B, 0x200C, 0x2060, 0xFEFF, 0x2800, 0xFFFD, 0x1D159};

const std::string REPLACEMENT = "\xEF\xBF\xBD";

TEST(TrimWhiteSpace, RemovesEveryWhiteSpaceCharacterFromBothEnds) {
  for (const char32_t cp : WHITE_SPACE) {
    SCOPED_TRACE(static_cast<unsigned>(cp));
    const std::string ws = utf8(cp);
    EXPECT_EQ(trim_white_space(ws + "a" + ws + "b" + ws), "a" + ws + "b");
    EXPECT_EQ(trim_white_space(ws + ws), "");
  }
  std::string all;
  for (const char32_t cp : WHITE_SPACE) all += utf8(cp);
  EXPECT_EQ(trim_white_space(all + "\xC3\xA9t\xC3\xA9" + all), "\xC3\xA9t\xC3\xA9");
}

TEST(TrimWhiteSpace, KeepsNeighboursWithoutTheProperty) {
  for (const char32_t cp : NOT_WHITE_SPACE) {
    SCOPED_TRACE(static_cast<unsigned>(cp));
    const std::string c = utf8(cp);
    const std::string text = c + " x " + c;
    EXPECT_EQ(trim_white_space(" " + text + "\xE3\x80\x80"), text);
  }
}

TEST(TrimWhiteSpace, StopsAtInvalidBytes) {
  EXPECT_EQ(trim_white_space("  \xFF  "), "\xFF");
  EXPECT_EQ(trim_white_space(" \x80\xC2\xA0"), "\x80");
  // A lead byte cut off before its continuation is not a space.
  EXPECT_EQ(trim_white_space("a \xC2"), "a \xC2");
  EXPECT_EQ(trim_white_space("\xA0 a"), "\xA0 a");
  // A broken sequence ahead of a real space: only the space goes.
  EXPECT_EQ(trim_white_space("a\xE2\xC2\xA0"), "a\xE2");
  EXPECT_EQ(trim_white_space(""), "");
}

TEST(AsciiFold, LowersOnlyAsciiCapitals) {
  EXPECT_EQ(ascii_fold("ThinkPad X1 \xC3\x80\xC3\x89 [Z@]"), "thinkpad x1 \xC3\x80\xC3\x89 [z@]");
}

TEST(DecodeUtf8Lossy, ValidTextPassesThrough) {
  const std::string text =
      "ASCII, \xC3\xA9t\xC3\xA9, \xE2\x82\xAC, \xF0\x9F\x98\x80, \xF4\x8F\xBF\xBF";
  EXPECT_EQ(decode_utf8_lossy(text), text);
  EXPECT_EQ(decode_utf8_lossy(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(DecodeUtf8Lossy, ReplacesEachMaximalInvalidSubpart) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"\xC0\xAF", REPLACEMENT + REPLACEMENT},                    // overlong slash
      {"\xE0\x80\xAF", REPLACEMENT + REPLACEMENT + REPLACEMENT},  // overlong, 3 bytes
      {"\xF0\x80\x80\xAF", REPLACEMENT + REPLACEMENT + REPLACEMENT + REPLACEMENT},
      {"\xED\xA0\x80", REPLACEMENT + REPLACEMENT + REPLACEMENT},  // surrogate D800
      {"\xED\xBF\xBF", REPLACEMENT + REPLACEMENT + REPLACEMENT},  // surrogate DFFF
      {"\xF4\x90\x80\x80", REPLACEMENT + REPLACEMENT + REPLACEMENT + REPLACEMENT},  // > U+10FFFF
      {"\xF5\x80", REPLACEMENT + REPLACEMENT},
      {"\xFF", REPLACEMENT},
      {"\x80x", REPLACEMENT + "x"},
      {"\xE2\x82", REPLACEMENT},  // truncated at the end
      {"\xE2\x82x", REPLACEMENT + "x"},
      {"\xF0\x9F\x98", REPLACEMENT},
      {"\xC3", REPLACEMENT},
      // The example of the Unicode standard, table 3-8.
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + REPLACEMENT + REPLACEMENT + REPLACEMENT + "b" + REPLACEMENT + "c" + REPLACEMENT +
           REPLACEMENT + "d"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode_utf8_lossy(c.input), c.expected) << ::testing::PrintToString(c.input);
    EXPECT_TRUE(is_valid_utf8(decode_utf8_lossy(c.input)));
  }
}

TEST(DecodeUtf8Lossy, ByteSpanOverloadDecodesTheSame) {
  const std::string input = "caf\xE9 \xC3\xA9";
  const auto bytes = std::as_bytes(std::span(input.data(), input.size()));
  EXPECT_EQ(decode_utf8_lossy(bytes), "caf" + REPLACEMENT + " \xC3\xA9");
}

TEST(IsValidUtf8, AcceptsWellFormedRejectsTheRest) {
  for (const std::string_view good :
       {"", "plain", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
        "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF",
        "ASCII read eight bytes at a time, then caf\xC3\xA9 and more of it"}) {
    EXPECT_TRUE(is_valid_utf8(good)) << ::testing::PrintToString(std::string(good));
  }
  EXPECT_TRUE(is_valid_utf8(std::string_view("\0", 1)));
  for (const std::string_view bad :
       {"\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
        "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\x80", "ok\xBF", "\xE2\x82", "\xC3 ",
        "sixteen bytes of\xBF text", "12345678\xC3", "1234567\xC3\xA9 and \xED\xA0\x80 later"}) {
    EXPECT_FALSE(is_valid_utf8(bad)) << ::testing::PrintToString(std::string(bad));
  }
}

}  // namespace
}  // namespace nivalto

namespace nivalto {
namespace {

TEST(LineColumnSuffix, CountsLinesAfterLineFeedsAndColumnsInCharacters) {
  EXPECT_EQ(line_column_suffix("", 0), " at line 1 column 1");
  EXPECT_EQ(line_column_suffix("ab\ncd", 4), " at line 2 column 2");
  // "é" is two bytes and one column.
  EXPECT_EQ(line_column_suffix("\xC3\xA9x", 2), " at line 1 column 2");
  // Past the end: the end.
  EXPECT_EQ(line_column_suffix("a\n", 99), " at line 2 column 1");
}

}  // namespace
}  // namespace nivalto
