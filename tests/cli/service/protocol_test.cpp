#include "cli/service/protocol.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "tests/cli/service/recording_backlight.h"

namespace nivalto {
namespace {

using testing::RecordingBacklight;

constexpr const char* HID_LEVEL_1_OF_2 =
    R"({"applied":true,"available":true,"known":true,"level":1,"max_level":2,"reason":"","source":"hid"})";

std::string error_line(const std::string& reason) {
  return R"({"applied":false,"available":false,"known":false,"level":0,"max_level":0,"reason":")" +
         reason + R"(","source":""})";
}

class ProtocolTest : public ::testing::Test {
 protected:
  std::string handle(std::string_view request) { return handle_request(request, backlight); }
  RecordingBacklight backlight;
};

TEST_F(ProtocolTest, ReadAnswersTheStateCompactlyInMemberOrder) {
  EXPECT_EQ(handle(R"({"op":"keyboard_read"})"), HID_LEVEL_1_OF_2);
  EXPECT_EQ(backlight.calls, std::vector<std::string>{"read"});
}

TEST_F(ProtocolTest, SurroundingWhiteSpaceAndTheFinalLineFeedAreHarmless) {
  EXPECT_EQ(handle("{\"op\":\"keyboard_read\"}\n"), HID_LEVEL_1_OF_2);
  // U+00A0 and U+3000 are Unicode white space too.
  EXPECT_EQ(handle(" \t\r\n\xC2\xA0{ \"op\" : \"keyboard_read\" }\xE3\x80\x80\n"),
            HID_LEVEL_1_OF_2);
  EXPECT_EQ(backlight.calls.size(), 2U);
}

TEST_F(ProtocolTest, ReadIgnoresLevelAndOtherMembers) {
  EXPECT_EQ(handle(R"({"level":"x","op":"keyboard_read","extra":[1,2]})"), HID_LEVEL_1_OF_2);
  EXPECT_EQ(backlight.calls, std::vector<std::string>{"read"});
}

TEST_F(ProtocolTest, WriteLimitsTheLevelToTheHighestLevel) {
  for (const auto& [request, call] : std::vector<std::pair<std::string, std::string>>{
           {R"({"op":"keyboard_write","level":0})", "write 0"},
           {R"({"op":"keyboard_write","level":1})", "write 1"},
           {R"({"op":"keyboard_write","level":2})", "write 2"},
           {R"({"op":"keyboard_write","level":7})", "write 2"},
           {R"({"op":"keyboard_write","level":1000})", "write 2"},
           // 256 and 2^64-1 must not wrap around to a low level.
           {R"({"op":"keyboard_write","level":256})", "write 2"},
           {R"({"op":"keyboard_write","level":18446744073709551615})", "write 2"},
       }) {
    backlight.calls.clear();
    EXPECT_EQ(handle(request), HID_LEVEL_1_OF_2) << request;
    EXPECT_EQ(backlight.calls, std::vector<std::string>{call}) << request;
  }
}

TEST_F(ProtocolTest, WriteWithoutAUsableLevelTouchesNothing) {
  for (const char* request : {
           R"({"op":"keyboard_write"})",
           R"({"op":"keyboard_write","level":-1})",
           R"({"op":"keyboard_write","level":-0})",
           R"({"op":"keyboard_write","level":1.5})",
           R"({"op":"keyboard_write","level":1.0})",
           R"({"op":"keyboard_write","level":1e0})",
           R"({"op":"keyboard_write","level":"1"})",
           R"({"op":"keyboard_write","level":null})",
           R"({"op":"keyboard_write","level":true})",
           R"({"op":"keyboard_write","level":[1]})",
           R"({"op":"keyboard_write","level":18446744073709551616})",
           // Too large even for a double: the same answer, never the library's text.
           R"({"op":"keyboard_write","level":1e400})",
           R"({"op":"keyboard_write","level":-1e400})",
       }) {
    EXPECT_EQ(handle(request), error_line("niveau manquant")) << request;
  }
  EXPECT_TRUE(backlight.calls.empty());
}

TEST_F(ProtocolTest, NulByteAnywhereMakesTheRequestUnreadableAtItsPosition) {
  using namespace std::string_literals;
  // Without the check the library stops at the NUL and reads only the first
  // object, so this write would pass as a read.
  EXPECT_EQ(handle("{\"op\":\"keyboard_read\"}\0{\"op\":\"keyboard_write\",\"level\":2}"s),
            error_line("requête illisible : octet NUL at line 1 column 23"));
  EXPECT_EQ(handle("\0"s), error_line("requête illisible : octet NUL at line 1 column 1"));
  EXPECT_EQ(handle("{\"op\":\"keyboard_re\0ad\"}"s),
            error_line("requête illisible : octet NUL at line 1 column 19"));
  // The NUL wins over a syntax fault before it; the position is in the
  // trimmed text.
  EXPECT_EQ(handle("  {\"op\" x\n\0"s),
            error_line("requête illisible : octet NUL at line 2 column 1"));
  EXPECT_TRUE(backlight.calls.empty());
}

TEST_F(ProtocolTest, HugeNumbersElsewhereDoNotStopTheRequest) {
  EXPECT_EQ(handle(R"({"op":"keyboard_read","level":1e400,"x":[-1e999,"1e400"]})"),
            HID_LEVEL_1_OF_2);
  EXPECT_EQ(backlight.calls, std::vector<std::string>{"read"});
}

TEST_F(ProtocolTest, UnknownOperationsQuoteTheOperationUnchanged) {
  EXPECT_EQ(handle(R"({"op":"KEYBOARD_READ"})"), error_line("opération inconnue : KEYBOARD_READ"));
  EXPECT_EQ(handle(R"({"op":"éteindre"})"), error_line("opération inconnue : éteindre"));
  // Missing, not a string, or not an object at all: nothing after the blank.
  for (const char* request :
       {R"({})", R"({"op":5})", R"({"op":null})", R"([{"op":"keyboard_read"}])",
        R"("keyboard_read")", "42", R"({"op":""})"}) {
    EXPECT_EQ(handle(request), error_line("opération inconnue : ")) << request;
  }
  EXPECT_TRUE(backlight.calls.empty());
}

TEST_F(ProtocolTest, BytesThatAreNotUtf8AreRefusedBeforeParsing) {
  for (const std::string& request :
       {std::string("{\"op\":\"keyboard_read\"}\xFF"),
        std::string("\xFF{\"op\":\"keyboard_read\"}"), std::string("{\"op\":\"\xC3\"}"),
        // An encoded surrogate and an overlong slash.
        std::string("{\"op\":\"\xED\xA0\x80\"}"), std::string("{\"op\":\"\xC0\xAF\"}")}) {
    EXPECT_EQ(handle(request), error_line("requête non UTF-8"));
  }
  EXPECT_TRUE(backlight.calls.empty());
}

TEST_F(ProtocolTest, UnreadableRequestsGiveTheParserFaultAndItsPosition) {
  EXPECT_EQ(handle(""), error_line("requête illisible : syntax error while parsing value - "
                                   "unexpected end of input; expected '[', '{', or a literal at "
                                   "line 1 column 1"));
  // Only white space trims to the same empty text.
  EXPECT_EQ(handle(" \n\t "), handle(""));

  // Neither operation of two objects runs; the position is within the
  // trimmed text, so the leading blanks do not count.
  const std::string two = handle("  {\"op\":\"keyboard_read\"}{\"op\":\"keyboard_read\"}\n");
  EXPECT_EQ(two, error_line("requête illisible : syntax error while parsing value - unexpected "
                            "'{'; expected end of input at line 1 column 23"));

  const std::string deep = handle(std::string(100000, '['));
  EXPECT_EQ(deep, error_line("requête illisible : imbrication de plus de 128 niveaux at line 1 "
                             "column 129"));
  EXPECT_TRUE(backlight.calls.empty());
}

TEST_F(ProtocolTest, ParserTextsThatQuoteTheRequestStayValidJson) {
  // The parser quotes the last token; a control character is escaped in the
  // answer, and a token cut inside a multi-byte letter becomes U+FFFD.
  const std::string control = handle("{\"op\":\"a\x01\"}");
  EXPECT_TRUE(control.starts_with(R"({"applied":false,"available":false,"known":false,"level":0,)"
                                  R"("max_level":0,"reason":"requête illisible : )"))
      << control;
  EXPECT_EQ(control.find('\x01'), std::string::npos);

  const std::string cut = handle("[tru\xC3\xA9]");
  EXPECT_NE(cut.find("\xEF\xBF\xBD"), std::string::npos) << cut;
  EXPECT_TRUE(nlohmann::json::accept(cut)) << cut;
}

TEST_F(ProtocolTest, HardwareErrorsBecomeErrorAnswersWithTheirDisplayText) {
  backlight.result =
      std::unexpected(HalError::unavailable("aucune interface de rétroéclairage clavier détectée"));
  EXPECT_EQ(handle(R"({"op":"keyboard_read"})"),
            error_line("ressource non disponible : aucune interface de rétroéclairage clavier "
                       "détectée"));
  backlight.result =
      std::unexpected(HalError::invalid_data("réponse de rétroéclairage illisible : \"x\"\\y\n"));
  EXPECT_EQ(handle(R"({"op":"keyboard_write","level":1})"),
            error_line(R"(données invalides : réponse de rétroéclairage illisible : \"x\"\\y\n)"));
}

TEST(AnswerTest, SuccessAnswerNamesEachSource) {
  const std::vector<std::pair<BacklightSource, std::string>> sources = {
      {BacklightSource::Hid, "hid"},
      {BacklightSource::LenovoWmi, "lenovo-wmi"},
      {BacklightSource::ThinkpadPm, "thinkpad-pm"},
      {BacklightSource::Framework, "framework"}};
  for (const auto& [source, text] : sources) {
    EXPECT_EQ(success_answer({.known = false, .source = source, .level = 0, .max_level = 1}),
              R"({"applied":true,"available":true,"known":false,"level":0,"max_level":1,)"
              R"("reason":"","source":")" +
                  text + "\"}");
  }
}

TEST(AnswerTest, ErrorAnswerWritesAccentsAsTheyAre) {
  EXPECT_EQ(error_answer("accès refusé : é"),
            R"({"applied":false,"available":false,"known":false,"level":0,"max_level":0,)"
            R"("reason":"accès refusé : é","source":""})");
}

}  // namespace
}  // namespace nivalto
