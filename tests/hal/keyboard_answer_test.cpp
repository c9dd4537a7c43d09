#include "nivalto/hal/keyboard_answer.h"

#include "nivalto/hal/text.h"

#include <gtest/gtest.h>

#include <string>

namespace nivalto {
namespace {

constexpr std::string_view UNREADABLE = "réponse de rétroéclairage illisible : ";

// A complete answer as the script prints it, with `verified` among the members.
std::string answer(std::string_view available = "true", std::string_view level = "1",
                   std::string_view max_level = "2", std::string_view source = "\"hid\"",
                   std::string_view applied = "true", std::string_view reason = "\"\"") {
  return "{\"available\":" + std::string(available) +
         ",\"known\":true,\"level\":" + std::string(level) +
         ",\"max_level\":" + std::string(max_level) + ",\"source\":" + std::string(source) +
         ",\"applied\":" + std::string(applied) +
         ",\"verified\":false,\"reason\":" + std::string(reason) + "}";
}

// The parser's description for an answer that must be unreadable.
std::string unreadable_reason(std::string_view text) {
  const auto result = parse_keyboard_answer(text, "read");
  EXPECT_FALSE(result.has_value()) << text;
  if (result) return {};
  EXPECT_EQ(result.error().kind, HalErrorKind::InvalidData) << text;
  EXPECT_TRUE(result.error().message.starts_with(UNREADABLE)) << result.error().message;
  return result.error().message.substr(UNREADABLE.size());
}

TEST(KeyboardAnswerRecord, ReadsEveryMemberInAnyOrderAndSkipsOthers) {
  const auto record = decode_keyboard_json(
      R"({"reason":"été","applied":false,"source":"thinkpad-pm","max_level":1,)"
      R"("extra":{"deep":[1,2,{"x":null}]},"level":0,"known":false,"available":true})");
  ASSERT_TRUE(record.has_value()) << record.error();
  EXPECT_EQ(*record, (KeyboardJson{true, false, 0, 1, "thinkpad-pm", false, "été"}));
}

TEST(KeyboardAnswerRecord, AbsentReasonIsEmptyAndEscapesAreDecoded) {
  const auto record = decode_keyboard_json(
      R"({"available":true,"known":true,"level":255,"max_level":0,"source":"h\u0069d","applied":true})");
  ASSERT_TRUE(record.has_value()) << record.error();
  EXPECT_EQ(record->reason, "");
  EXPECT_EQ(record->source, "hid");
  EXPECT_EQ(record->level, 255);
}

TEST(KeyboardAnswerRecord, WrongShapesAreUnreadableWithTheirPosition) {
  // reason given as null: the type is wrong even though the member is optional.
  EXPECT_EQ(unreadable_reason(answer("true", "1", "2", "\"hid\"", "true", "null")),
            "type invalide pour « reason » : null, attendu : chaîne at line 1 column 115");
  EXPECT_EQ(unreadable_reason(answer("true", "300")),
            "valeur invalide pour « level » : 300, attendu : entier de 0 à 255 at line 1 "
            "column 42");
  EXPECT_EQ(unreadable_reason(answer("true", "-1")),
            "valeur invalide pour « level » : -1, attendu : entier de 0 à 255 at line 1 "
            "column 41");
  EXPECT_EQ(unreadable_reason(answer("true", "1.5")),
            "type invalide pour « level » : nombre 1.5, attendu : entier de 0 à 255 at line 1 "
            "column 42");
  EXPECT_EQ(unreadable_reason(answer("\"yes\"")),
            "type invalide pour « available » : chaîne, attendu : booléen at line 1 column 18");
  EXPECT_EQ(unreadable_reason(answer("true", "1", "[2]")),
            "type invalide pour « max_level » : tableau, attendu : entier de 0 à 255 at line 1 "
            "column 54");
  EXPECT_EQ(unreadable_reason(answer("true", "1", "2", "7")),
            "type invalide pour « source » : entier 7, attendu : chaîne at line 1 column 65");
}

TEST(KeyboardAnswerRecord, NulByteMakesTheAnswerUnreadableAtItsPosition) {
  using namespace std::string_literals;
  // The library alone would stop at the NUL and accept the object before it.
  EXPECT_EQ(unreadable_reason(answer() + "\0junk"s),
            "octet NUL at line 1 column " + std::to_string(answer().size() + 1));
  EXPECT_EQ(unreadable_reason("\0"s + answer()), "octet NUL at line 1 column 1");
  const std::string in_source = answer("true", "1", "2", "\"h\0id\""s);
  EXPECT_EQ(unreadable_reason(in_source),
            "octet NUL at line 1 column " + std::to_string(in_source.find('\0') + 1));
}

TEST(KeyboardAnswerRecord, HugeNumbersAreRefusedLikeAnyOtherUnusableValue) {
  EXPECT_EQ(unreadable_reason(answer("true", "1e400")),
            "type invalide pour « level » : nombre 1e400, attendu : entier de 0 à 255 at line 1 "
            "column 44");
  EXPECT_EQ(unreadable_reason(answer("true", "1", "-1E+999")),
            "type invalide pour « max_level » : nombre -1E+999, attendu : entier de 0 à 255 at "
            "line 1 column 60");
  // In a member that is skipped it is harmless.
  const auto record = decode_keyboard_json(answer().insert(1, "\"x\":[1e400],"));
  ASSERT_TRUE(record.has_value()) << record.error();
  EXPECT_EQ(record->level, 1);
}

TEST(KeyboardAnswerRecord, MissingOrRepeatedMembersAreUnreadable) {
  EXPECT_EQ(unreadable_reason(
                R"({"available":true,"known":true,"level":1,"source":"hid","applied":true})"),
            "champ « max_level » manquant at line 1 column 71");
  EXPECT_EQ(unreadable_reason("{}"), "champ « available » manquant at line 1 column 2");
  EXPECT_EQ(unreadable_reason(answer().substr(0, answer().size() - 1) + ",\"level\":2}"),
            "champ « level » en double at line 1 column 121");
  // The same name written with an escape is still the same member.
  EXPECT_EQ(unreadable_reason(answer().substr(0, answer().size() - 1) + ",\"lev\\u0065l\":2}"),
            "champ « level » en double at line 1 column 126");
  EXPECT_EQ(unreadable_reason(answer().substr(0, answer().size() - 1) + ",\"verified\":true}"),
            "champ « verified » en double at line 1 column 124");
}

TEST(KeyboardAnswerRecord, AnythingButOneObjectIsUnreadable) {
  EXPECT_EQ(unreadable_reason("[1]"),
            "type invalide : tableau, attendu : struct KeyboardJson at line 1 column 1");
  EXPECT_EQ(unreadable_reason("42"),
            "type invalide : entier 42, attendu : struct KeyboardJson at line 1 column 2");
  EXPECT_EQ(unreadable_reason("\"hid\""),
            "type invalide : chaîne, attendu : struct KeyboardJson at line 1 column 5");
  EXPECT_EQ(unreadable_reason("null"),
            "type invalide : null, attendu : struct KeyboardJson at line 1 column 4");

  const std::string two = unreadable_reason(answer() + answer());
  EXPECT_NE(two.find("expected end of input"), std::string::npos) << two;
  EXPECT_TRUE(two.ends_with(" at line 1 column 115")) << two;

  const std::string truncated = unreadable_reason(answer().substr(0, 40));
  EXPECT_NE(truncated.find("unexpected end of input"), std::string::npos) << truncated;
  EXPECT_TRUE(truncated.ends_with(" at line 1 column 41")) << truncated;

  const std::string comment = unreadable_reason(answer() + " // fin");
  EXPECT_TRUE(comment.ends_with(" at line 1 column 116")) << comment;
}

TEST(KeyboardAnswerRecord, DescriptionStaysUtf8WhenTheFaultSplitsACharacter) {
  const std::string reason = unreadable_reason("{\"available\":\xC3\xA9t\xC3\xA9}");
  EXPECT_TRUE(is_valid_utf8(reason)) << reason;
  EXPECT_TRUE(reason.ends_with(" at line 1 column 14")) << reason;
}

TEST(KeyboardAnswerRecord, EmptyTextReportsTheEndOfInput) {
  for (const std::string_view text : {"", "  \r\n\t "}) {
    const std::string reason = unreadable_reason(text);
    EXPECT_NE(reason.find("unexpected end of input"), std::string::npos) << reason;
    EXPECT_TRUE(reason.ends_with(" at line 1 column 1")) << reason;
  }
}

TEST(KeyboardAnswerRecord, PositionsCountLinesAndCharacters) {
  const std::string reason = unreadable_reason("{\"reason\":\"éé\",\n  \"level\": nul}");
  EXPECT_TRUE(reason.ends_with(" at line 2 column 15")) << reason;
  EXPECT_EQ(unreadable_reason("{\"reason\":\"ééé\",\n\"level\":true}"),
            "type invalide pour « level » : booléen true, attendu : entier de 0 à 255 at line 2 "
            "column 12");
}

TEST(KeyboardAnswerRecord, NestingInSkippedMembersIsBounded) {
  const auto nested = [](std::size_t depth) {
    return answer().substr(0, answer().size() - 1) + ",\"x\":" + std::string(depth, '[') +
           std::string(depth, ']') + "}";
  };
  // The answer object itself is the first level.
  EXPECT_TRUE(decode_keyboard_json(nested(MAX_ANSWER_DEPTH - 1)).has_value());
  const std::string reason = unreadable_reason(nested(MAX_ANSWER_DEPTH));
  EXPECT_TRUE(reason.starts_with("imbrication de plus de 128 niveaux at line 1 column ")) << reason;
  EXPECT_FALSE(decode_keyboard_json(nested(100000)).has_value());
}

TEST(KeyboardAnswer, ValidAnswerGivesItsState) {
  const auto state = parse_keyboard_answer(answer("true", "1", "2", "\"framework\""), "write");
  ASSERT_TRUE(state.has_value()) << state.error().message;
  EXPECT_EQ(*state, (KeyboardState{true, BacklightSource::Framework, 1, 2}));
}

TEST(KeyboardAnswer, LevelsAreClampedToTheSmallScale) {
  struct Case {
    std::string_view level, max_level;
    std::uint8_t want_level, want_max;
  };
  for (const Case& c : {Case{"0", "0", 0, 1}, Case{"2", "0", 1, 1}, Case{"1", "5", 1, 2},
                        Case{"2", "1", 1, 1}, Case{"255", "255", 2, 2}, Case{"2", "2", 2, 2}}) {
    const auto state = parse_keyboard_answer(answer("true", c.level, c.max_level), "read");
    ASSERT_TRUE(state.has_value()) << state.error().message;
    EXPECT_EQ(state->level, c.want_level) << c.level << "/" << c.max_level;
    EXPECT_EQ(state->max_level, c.want_max) << c.level << "/" << c.max_level;
  }
}

TEST(KeyboardAnswer, SurroundingWhiteSpaceIsTrimmed) {
  const auto state = parse_keyboard_answer("\xC2\xA0\r\n " + answer() + "\r\n\xE3\x80\x80", "read");
  EXPECT_TRUE(state.has_value());
}

TEST(KeyboardAnswer, UnavailableBackendWinsOverEverythingAfterIt) {
  auto result =
      parse_keyboard_answer(answer("false", "1", "2", "\"nope\"", "false", "\"x\""), "write");
  EXPECT_EQ(result.error(), HalError::unavailable("x"));

  result = parse_keyboard_answer(answer("false", "1", "2", "\"\"", "true", "\"\""), "read");
  EXPECT_EQ(result.error(),
            HalError::unavailable("aucune interface de rétroéclairage clavier détectée"));

  // An error answer from the service carries the whole display text as reason.
  result = parse_keyboard_answer(
      R"({"applied":false,"available":false,"known":false,"level":0,"max_level":0,)"
      R"("reason":"ressource non disponible : commande de rétroéclairage en échec","source":""})",
      "read");
  EXPECT_EQ(result.error(), HalError::unavailable(
                                "ressource non disponible : commande de rétroéclairage en échec"));
}

TEST(KeyboardAnswer, AppliedMattersOnlyForWrites) {
  EXPECT_TRUE(parse_keyboard_answer(answer("true", "1", "2", "\"hid\"", "false"), "read"));

  auto result = parse_keyboard_answer(answer("true", "1", "2", "\"hid\"", "false"), "write");
  EXPECT_EQ(result.error(),
            HalError::unavailable("la commande de rétroéclairage n'a pas été appliquée"));

  result = parse_keyboard_answer(
      answer("true", "1", "2", "\"nope\"", "false", "\"niveau hors limites\""), "write");
  EXPECT_EQ(result.error(), HalError::unavailable("niveau hors limites"));
}

TEST(KeyboardAnswer, SourceMustBeOneOfTheFourExactly) {
  for (const std::string_view source : {"\"HID\"", "\"\"", "\"hid \"", "\"lenovo_wmi\""}) {
    const auto result = parse_keyboard_answer(answer("true", "1", "2", source), "read");
    ASSERT_FALSE(result.has_value()) << source;
    const std::string inner(source.substr(1, source.size() - 2));
    EXPECT_EQ(result.error(),
              HalError::invalid_data("source de rétroéclairage inconnue : " + inner));
  }
  for (const std::string_view source :
       {"\"hid\"", "\"lenovo-wmi\"", "\"thinkpad-pm\"", "\"framework\""}) {
    EXPECT_TRUE(parse_keyboard_answer(answer("true", "1", "2", source), "read")) << source;
  }
}

}  // namespace
}  // namespace nivalto
