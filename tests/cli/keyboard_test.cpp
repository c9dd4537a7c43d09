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

// The command asks as a user's program: it waits at a busy pipe and names
// the service when there is none.
TEST(KeyboardCommand, AsksAsAUserAndPrintsTheState) {
  using O = PipeExchange::Outcome;
  struct Case {
    std::optional<std::uint8_t> level;
    std::vector<PipeExchange> replies;
    std::uint32_t script_exit;
    std::string request;
    std::string out;
    std::string error;
  };
  const std::string state =
      "{\n  \"known\": true,\n  \"source\": \"hid\",\n  \"level\": 1,\n  \"max_level\": 2\n}\n";
  const Case cases[] = {
      {std::nullopt,
       {{O::Answered, std::string(GOOD_ANSWER)}},
       0,
       "{\"op\":\"keyboard_read\"}\n",
       state,
       ""},
      {2,
       {{O::Busy, ""}, {O::Answered, std::string(GOOD_ANSWER)}},
       0,
       "{\"op\":\"keyboard_write\",\"level\":2}\n",
       state,
       ""},
      {0,
       {{O::NoPipe, ""}},
       3,
       "{\"op\":\"keyboard_write\",\"level\":0}\n",
       "",
       "ressource non disponible : commande de rétroéclairage en échec ; le service NivaltoHal "
       "n'est pas démarré"},
  };
  for (const Case& c : cases) {
    FakeBacklight fake;
    fake.pipe.replies.assign(c.replies.begin(), c.replies.end());
    fake.pipe.waits = {true};
    fake.runner.result = ProcessExit{c.script_exit, "", ""};
    RecordingConsole console;
    const CommandResult result = run_keyboard(c.level, fake.platform(), console);
    EXPECT_EQ(result ? std::string() : result.error(), c.error) << c.request;
    EXPECT_EQ(console.out_text, c.out) << c.request;
    EXPECT_EQ(console.err_text, "");
    EXPECT_EQ(fake.pipe.requests.front(), c.request);
  }
}

}  // namespace
}  // namespace nivalto
