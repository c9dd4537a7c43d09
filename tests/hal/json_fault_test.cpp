#include "nivalto/hal/json_fault.h"

#include <gtest/gtest.h>

namespace nivalto {
namespace {

TEST(JsonFaultDescription, TheLibraryPrefixNeverSurvives) {
  const struct {
    const char* what;
    const char* kept;
  } cases[] = {
      {"[json.exception.parse_error.101] parse error at line 1, column 2: syntax error while "
       "parsing value - invalid literal; last read: 'x'",
       "syntax error while parsing value - invalid literal; last read: 'x'"},
      {"[json.exception.out_of_range.406] number overflow parsing '1e400'",
       "number overflow parsing '1e400'"},
      {"[json.exception.type_error.316] invalid UTF-8 byte at index 1: 0xFF",
       "invalid UTF-8 byte at index 1: 0xFF"},
      {"[json.exception.parse_error.101", ""},
      {"réponse incomplète", "réponse incomplète"},
  };
  for (const auto& c : cases) EXPECT_EQ(json_fault_description(c.what), c.kept) << c.what;
}

TEST(JsonHugeNumbers, OnlyNumbersBeyondADoubleAreRewrittenInPlace) {
  const struct {
    const char* text;
    const char* tamed;
  } cases[] = {
      {R"({"level":1e400})", R"({"level":0.000})"},
      {"[-1e400,1e308,1e-400,2]", "[0.0000,1e308,1e-400,2]"},
      {R"(["1e400",1e400])", R"(["1e400",0.000])"},
      {R"(["\"1e400",1e999])", R"(["\"1e400",0.000])"},
      // The library reads "01e400" as 0 then 1e400, a fault that must stay.
      {"01e400", "00.000"},
      {"1e400.5", "0.000.5"},
  };
  for (const auto& c : cases) EXPECT_EQ(with_huge_numbers_tamed(c.text), c.tamed) << c.text;
}

TEST(JsonHugeNumbers, ExcerptsOfTheTamedTextAreQuotedAsReceived) {
  const std::string original = "[1e400 x]";
  const std::string tamed = with_huge_numbers_tamed(original);
  EXPECT_EQ(
      quoted_as_received("invalid literal; last read: '0.000 x'; expected ']'", tamed, original, 7),
      "invalid literal; last read: '1e400 x'; expected ']'");
  EXPECT_EQ(quoted_as_received("invalid literal; last read: '0.000 x'", tamed, original, 7),
            "invalid literal; last read: '1e400 x'");
  // Nothing tamed, no excerpt, or an excerpt that is not the text: unchanged.
  EXPECT_EQ(quoted_as_received("last read: 'x'", original, original, 7), "last read: 'x'");
  EXPECT_EQ(quoted_as_received("unexpected '{'", tamed, original, 7), "unexpected '{'");
  EXPECT_EQ(quoted_as_received("last read: '<U+0000>x'", tamed, original, 7),
            "last read: '<U+0000>x'");
}

}  // namespace
}  // namespace nivalto
