#include "cli/keyboard.h"

#include <gtest/gtest.h>

#include "tests/support/fake_backlight.h"
#include "tests/support/recording_console.h"

namespace nivalto {
namespace {

using testing::FakeBacklight;
using testing::GOOD_ANSWER;
using testing::RecordingConsole;

TEST(KeyboardDocument, FourMembersInTheOrderOfTheState) {
  EXPECT_EQ(keyboard_document({false, BacklightSource::LenovoWmi, 0, 1}),
            "{\n  \"known\": false,\n  \"source\": \"lenovo-wmi\",\n  \"level\": 0,\n"
            "  \"max_level\": 1\n}");
}

// The command asks as a user's program (only such a caller names the
// service when there is none) and prints the state or the error's display.
TEST(KeyboardCommand, PrintsTheStateOrTheDisplayedError) {
  using O = PipeExchange::Outcome;
  struct Case {
    std::optional<std::uint8_t> level;
    PipeExchange reply;
    std::string out;
    std::string error;
  };
  const Case cases[] = {
      {std::nullopt,
       {O::Answered, std::string(GOOD_ANSWER)},
       "{\n  \"known\": true,\n  \"source\": \"hid\",\n  \"level\": 1,\n  \"max_level\": 2\n}\n",
       ""},
      {0,
       {O::NoPipe, ""},
       "",
       "ressource non disponible : commande de rétroéclairage en échec ; le service NivaltoHal "
       "n'est pas démarré"},
  };
  for (const Case& c : cases) {
    FakeBacklight fake;
    fake.pipe.reply = c.reply;
    fake.runner.result = ProcessExit{3, "", ""};
    RecordingConsole console;
    const CommandResult result = run_keyboard(c.level, fake.platform(), console);
    EXPECT_EQ(result ? std::string() : result.error(), c.error);
    EXPECT_EQ(console.out_text, c.out);
    EXPECT_EQ(fake.pipe.requests.at(0), c.level ? "{\"op\":\"keyboard_write\",\"level\":0}\n"
                                                : "{\"op\":\"keyboard_read\"}\n");
  }
}

}  // namespace
}  // namespace nivalto
