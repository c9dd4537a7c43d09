#include "cli/service/bounded_json.h"

#include <gtest/gtest.h>

#include <string>

namespace nivalto {
namespace {

std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(BoundedJsonTest, ParsesOneValueOfAnyKind) {
  EXPECT_EQ(parse_bounded_json(R"({"op":"keyboard_read","level":[1,{"a":null}]})")->at("op"),
            "keyboard_read");
  EXPECT_TRUE(parse_bounded_json("[]")->is_array());
  EXPECT_TRUE(parse_bounded_json("\"texte\"")->is_string());
  EXPECT_TRUE(parse_bounded_json("18446744073709551615")->is_number_unsigned());
  EXPECT_TRUE(parse_bounded_json("null")->is_null());
}

TEST(BoundedJsonTest, FaultsCarryTheParserDescriptionAndPosition) {
  // The library's own prefix and byte position give way to ours.
  EXPECT_EQ(parse_bounded_json("").error(),
            "syntax error while parsing value - unexpected end of input; expected '[', '{', or "
            "a literal at line 1 column 1");
  EXPECT_EQ(parse_bounded_json("{} {}").error(),
            "syntax error while parsing value - unexpected '{'; expected end of input at line 1 "
            "column 4");
}

TEST(BoundedJsonTest, NulBytesAreFaultsAtTheirPosition) {
  using namespace std::string_literals;
  const struct {
    std::string text;
    std::string fault;
  } cases[] = {
      {"{}\0"s, "octet NUL at line 1 column 3"},
      {"\0{}"s, "octet NUL at line 1 column 1"},
      {"[\"a\0b\"]"s, "octet NUL at line 1 column 4"},
      {"[1,\n\"é\", \0"s, "octet NUL at line 2 column 6"},
      // Before a syntax fault or after one: the NUL is what is reported.
      {"\0 x"s, "octet NUL at line 1 column 1"},
      {"x \0"s, "octet NUL at line 1 column 3"},
  };
  for (const auto& c : cases) {
    const auto parsed = parse_bounded_json(c.text);
    ASSERT_FALSE(parsed) << c.fault;
    EXPECT_EQ(parsed.error(), c.fault);
  }
}

TEST(BoundedJsonTest, NumbersTooLargeForADoubleAreReadAsZeroFractions) {
  for (const char* text : {"1e400", "-1e400", "1E+309", "123.5e99999999999999999999"}) {
    const auto parsed = parse_bounded_json(text);
    ASSERT_TRUE(parsed) << text << ": " << parsed.error();
    EXPECT_TRUE(parsed->is_number_float()) << text;
    EXPECT_EQ(parsed->get<double>(), 0.0) << text;
  }
  const auto digits = parse_bounded_json(std::string(400, '9'));
  ASSERT_TRUE(digits);
  EXPECT_TRUE(digits->is_number_float());
  // Large but finite numbers, tiny ones and text inside strings are untouched.
  EXPECT_EQ(parse_bounded_json("1e308")->get<double>(), 1e308);
  EXPECT_EQ(parse_bounded_json("1e-400")->get<double>(), 0.0);
  EXPECT_EQ(parse_bounded_json(R"(["1e400","\"1e400"])")->dump(), R"(["1e400","\"1e400"])");
  // Faults around a huge number keep their place and their wording.
  EXPECT_EQ(parse_bounded_json("[1e400 x]").error(),
            "syntax error while parsing array - invalid literal; last read: '1e400 x'; "
            "expected ']' at line 1 column 8");
  EXPECT_EQ(parse_bounded_json("01e400").error(),
            "syntax error while parsing value - unexpected number literal; expected end of "
            "input at line 1 column 6");
}

TEST(BoundedJsonTest, PositionCountsLinesAndCharacters) {
  // Line 3; each accented letter before the fault is one column, not two.
  const auto fault = parse_bounded_json("{\n\"a\": 1,\n\"éé\": tru }");
  ASSERT_FALSE(fault);
  EXPECT_TRUE(fault.error().ends_with(" at line 3 column 10")) << fault.error();

  const auto end = parse_bounded_json("[1,\n2,");
  ASSERT_FALSE(end);
  EXPECT_TRUE(
      end.error().ends_with("unexpected end of input; expected '[', '{', or a literal at "
                            "line 2 column 3"))
      << end.error();
}

TEST(BoundedJsonTest, NestingIsLimitedTo128Levels) {
  EXPECT_TRUE(parse_bounded_json(nested(128)));
  // Depth is nesting, not the number of brackets: siblings each get 128.
  EXPECT_TRUE(parse_bounded_json("[" + nested(127) + "," + nested(127) + "]"));

  const auto deep = parse_bounded_json(nested(129));
  ASSERT_FALSE(deep);
  EXPECT_EQ(deep.error(), "imbrication de plus de 128 niveaux at line 1 column 129");

  // Objects and arrays count alike.
  std::string mixed;
  for (int i = 0; i < 65; ++i) mixed += "{\"k\":[";
  const auto mixed_fault = parse_bounded_json(mixed);
  ASSERT_FALSE(mixed_fault);
  EXPECT_EQ(mixed_fault.error(), "imbrication de plus de 128 niveaux at line 1 column 385");
}

TEST(BoundedJsonTest, BracketsInsideStringsDoNotCountAsNesting) {
  const std::string text = "[\"" + std::string(300, '[') + "\\\"{\"," + nested(127) + "]";
  EXPECT_TRUE(parse_bounded_json(text));
  const auto fault = parse_bounded_json("[\"]]]\"," + nested(128) + "]");
  ASSERT_FALSE(fault);
  EXPECT_EQ(fault.error(), "imbrication de plus de 128 niveaux at line 1 column 135");
}

TEST(BoundedJsonTest, HugeNestingFailsWithoutExhaustingTheStack) {
  const auto fault = parse_bounded_json(std::string(100000, '['));
  ASSERT_FALSE(fault);
  EXPECT_TRUE(fault.error().starts_with("imbrication de plus de 128 niveaux")) << fault.error();
}

TEST(BoundedJsonTest, SyntaxErrorBeforeTheBoundIsReportedFirst) {
  const auto fault = parse_bounded_json("[x" + std::string(200, '['));
  ASSERT_FALSE(fault);
  EXPECT_TRUE(fault.error().starts_with("syntax error")) << fault.error();
  EXPECT_TRUE(fault.error().ends_with(" at line 1 column 2")) << fault.error();
}

}  // namespace
}  // namespace nivalto
