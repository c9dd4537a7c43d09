#include "cli/profiles/toml_guard.h"

#include <gtest/gtest.h>

#include "cli/profiles/decode_profile.h"

namespace nivalto {
namespace {

std::optional<TomlTextFault> refused(std::string_view text) { return scan_toml_text(text).refused; }

std::optional<TomlTextFault> beyond(std::string_view text) {
  return scan_toml_text(text).beyond_toml_11;
}

std::string repeated(std::string_view unit, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += unit;
  return text;
}

TEST(TomlGuard, NestingIsBoundedAtTheLimit) {
  // Keys: one level per segment.
  const std::string deepest_key = "a" + repeated(".a", MAX_TOML_NESTING - 1) + " = 1";
  EXPECT_EQ(refused(deepest_key), std::nullopt);
  EXPECT_EQ(refused("a." + deepest_key),
            (TomlTextFault{{1, 2 * MAX_TOML_NESTING + 1}, "nesting deeper than 128 levels"}));
  // Arrays and inline tables: one level each, on top of their key.
  // The key's value is the outermost array; the element stands one level deeper.
  const std::size_t arrays = MAX_TOML_NESTING - 1;
  const std::string deepest_value = "a = " + repeated("[", arrays) + "1" + repeated("]", arrays);
  EXPECT_EQ(refused(deepest_value), std::nullopt);
  EXPECT_TRUE(refused("a = " + repeated("[", arrays + 1) + "1"));
  EXPECT_TRUE(refused("a = " + repeated("{b = ", MAX_TOML_NESTING)));
  // Table headers: two levels per segment, added to the keys under them.
  EXPECT_EQ(refused("[" + repeated("a.", 62) + "a]\nb.c = 1\n"), std::nullopt);
  EXPECT_TRUE(refused("[" + repeated("a.", 62) + "a]\nb.c.d = 1\n"));
  EXPECT_TRUE(refused("[[" + repeated("a.", 64) + "a]]\n"));
}

TEST(TomlGuard, BracketsInsideStringsAndCommentsDoNotNest) {
  const std::string brackets = repeated("[{", 200);
  EXPECT_EQ(refused("a = \"" + brackets + "\" # " + brackets +
                    "\n"
                    "b = '" +
                    brackets +
                    "'\n"
                    "c = \"\"\"\n" +
                    brackets +
                    "\\\"\"\"\" \"\"\"\n"
                    "d = '''" +
                    brackets +
                    "''''\n"
                    "\"" +
                    brackets + "\" = 1\n"),
            std::nullopt);
}

TEST(TomlGuard, NonAsciiOnlyInStringsAndComments) {
  EXPECT_EQ(refused("\"é\" = 'ü' # ç\nb = \"\"\"\nà\"\"\"\nc = '''\nœ'''\n"), std::nullopt);
  EXPECT_EQ(refused("é = 1"),
            (TomlTextFault{{1, 1}, "non-ASCII character outside a string or comment"}));
  EXPECT_EQ(refused("a = \"é\" # é\nb = 1é"),
            (TomlTextFault{{2, 6}, "non-ASCII character outside a string or comment"}));
  EXPECT_EQ(refused("a = 1\n\xEF\xBB\xBF"),
            (TomlTextFault{{2, 1}, "non-ASCII character outside a string or comment"}));
  EXPECT_EQ(refused("a = [1,\xFF]"), (TomlTextFault{{1, 8}, "invalid UTF-8 sequence"}));
  EXPECT_EQ(refused("\xEF\xBB\xBF"
                    "a = 1"),
            std::nullopt);  // a byte-order mark may lead
}

TEST(TomlGuard, BackslashBeforeNonAsciiIsRefused) {
  EXPECT_EQ(refused("a = \"x\\é\""),
            (TomlTextFault{{1, 8}, "a backslash in a string must start an escape sequence"}));
  EXPECT_EQ(refused("a = \"\"\"x\\  é\n\"\"\""),
            (TomlTextFault{{1, 12}, "only a line break may follow a line-ending backslash"}));
  EXPECT_EQ(refused("a = \"x\\\\é\\\"é\""), std::nullopt);
}

TEST(TomlGuard, TextAfterALineEndingBackslashReachesTheParserEscaped) {
  const std::string text = "a = \"\"\"x\\\n   é, \\\n\n\t\xF0\x9F\x98\x80\"\"\"\nb = 1\n";
  const TomlTextReport report = scan_toml_text(text);
  EXPECT_EQ(report.refused, std::nullopt);
  ASSERT_EQ(report.escapes.size(), 2u);
  EXPECT_EQ(report.escapes[0], (ParserEscape{13, 2, {2, 4}, U'é'}));
  EXPECT_EQ(report.escapes[1], (ParserEscape{21, 4, {4, 2}, U'\U0001F600'}));
  EXPECT_EQ(parser_text(text, report),
            "a = \"\"\"x\\\n   \\u00E9, \\\n\n\t\\U0001F600\"\"\"\nb = 1\n");
  // Columns after an escape come back to the text's own.
  EXPECT_EQ(original_position({2, 3}, report), (TextPosition{2, 3}));
  EXPECT_EQ(original_position({2, 6}, report), (TextPosition{2, 4}));
  EXPECT_EQ(original_position({2, 10}, report), (TextPosition{2, 5}));
  EXPECT_EQ(original_position({4, 12}, report), (TextPosition{4, 3}));
  EXPECT_EQ(original_position({5, 12}, report), (TextPosition{5, 12}));
}

TEST(TomlGuard, EscapedTextDecodesUnchanged) {
  auto profile = decode_profile(
      "schema_version = 1\nid = \"\"\"x\\\n    \xC3\xA9t\xC3\xA9\"\"\"\ndisplay_name = \"\"\n"
      "scope = \"model\"\nmatches = { mtm = [\"\"\"\\\n\xC3\xA9\"\"\", 5] }\n");
  ASSERT_FALSE(profile);
  EXPECT_EQ(profile.error(), "ligne 7, colonne 7 : invalid type: integer `5`, expected a string");
  auto decoded = decode_profile(
      "schema_version = 1\nid = \"\"\"x\\\n    \xC3\xA9t\xC3\xA9\"\"\"\ndisplay_name = \"\"\n"
      "scope = \"model\"\n[matches]\n");
  ASSERT_TRUE(decoded) << decoded.error();
  EXPECT_EQ(decoded->id, "x\xC3\xA9t\xC3\xA9");
}

TEST(TomlGuard, TableHeaderWithoutKeyIsRefused) {
  EXPECT_EQ(refused("[\n"), (TomlTextFault{{1, 2}, "expected a key in the table header"}));
  EXPECT_EQ(refused("[[ \r\n"), (TomlTextFault{{1, 4}, "expected a key in the table header"}));
  EXPECT_EQ(refused("[]"), std::nullopt);  // the parser reports that one itself
  EXPECT_EQ(refused("[ \"a\" . b ]"), std::nullopt);
}

TEST(TomlGuard, Toml11ForbidsPlusInBareKeysAndHexadecimalFloats) {
  EXPECT_EQ(
      beyond("a+b = 1"),
      (TomlTextFault{{1, 1}, "bare keys may only hold ASCII letters, ASCII digits, `_` and `-`"}));
  EXPECT_EQ(
      beyond("[x.a+]"),
      (TomlTextFault{{1, 4}, "bare keys may only hold ASCII letters, ASCII digits, `_` and `-`"}));
  EXPECT_EQ(beyond("a = 0x1p3"),
            (TomlTextFault{{1, 5}, "hexadecimal floating-point values are not allowed"}));
  EXPECT_TRUE(beyond("a = [1, -0x1.8p1]"));
  EXPECT_EQ(beyond("\"a+b\" = 1\nc = 0xDEAD_BEEF\nd = '0x1p3'\n"
                   "e = 1979-05-27 07:32:00+01:00\nf = [1979-05-27 07:32:00.5-07:00]\n"
                   "g = { h = 2024-01-01 00:00:00Z, i = +1.5e+3 }\n"),
            std::nullopt);
  EXPECT_FALSE(check_toml_document("a+b = 1"));
  EXPECT_FALSE(check_toml_document("a = 0x1p3"));
}

TEST(TomlGuard, PositionsCountCodePoints) {
  EXPECT_EQ(refused("a = '«»' x\n\"ü\tü\" = é"),
            (TomlTextFault{{2, 9}, "non-ASCII character outside a string or comment"}));
}

}  // namespace
}  // namespace nivalto
