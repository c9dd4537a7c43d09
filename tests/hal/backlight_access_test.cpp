#include "nivalto/hal/backlight_access.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_backlight.h"

namespace nivalto {
namespace {

using namespace testing;

class BacklightAccess : public ::testing::Test, protected FakeBacklight {};

const KeyboardState HID_1_OF_2{true, BacklightSource::Hid, 1, 2};

TEST_F(BacklightAccess, ServiceAnswerIsUsedAndTheScriptNotRun) {
  pipe.reply = {PipeExchange::Outcome::Answered, std::string(GOOD_ANSWER) + "\n"};
  EXPECT_EQ(access_keyboard_backlight("read", 0, platform()), HID_1_OF_2);
  EXPECT_EQ(pipe.requests, std::vector<std::string>{"{\"op\":\"keyboard_read\"}\n"});
  EXPECT_EQ(pipe.requests[0].size(), 23u);
  EXPECT_EQ(log, Log{"pipe"});
}

TEST_F(BacklightAccess, WritesAskTheServiceForTheLevelLimitedToTwo) {
  pipe.reply = {PipeExchange::Outcome::Answered, std::string(GOOD_ANSWER)};
  EXPECT_TRUE(write_keyboard_backlight(5, platform()));
  EXPECT_TRUE(write_keyboard_backlight(1, platform()));
  EXPECT_TRUE(read_keyboard_backlight(platform()));
  EXPECT_EQ(pipe.requests, (std::vector<std::string>{"{\"op\":\"keyboard_write\",\"level\":2}\n",
                                                     "{\"op\":\"keyboard_write\",\"level\":1}\n",
                                                     "{\"op\":\"keyboard_read\"}\n"}));
}

TEST_F(BacklightAccess, ServiceErrorAnswerKeepsItsWholeReason) {
  pipe.reply = {
      PipeExchange::Outcome::Answered,
      R"({"applied":false,"available":false,"known":false,"level":0,"max_level":0,)"
      R"("reason":"ressource non disponible : commande de rétroéclairage en échec","source":""})"
      "\n"};
  EXPECT_EQ(
      access_keyboard_backlight("read", 0, platform()).error(),
      HalError::unavailable("ressource non disponible : commande de rétroéclairage en échec"));
}

TEST_F(BacklightAccess, BrokenExchangeDoesNotFallBackToTheScript) {
  pipe.reply = {PipeExchange::Outcome::Interrupted, ""};
  EXPECT_EQ(access_keyboard_backlight("write", 1, platform()).error(),
            HalError::unavailable("service HAL joignable mais échange interrompu"));
  EXPECT_EQ(log, Log{"pipe"});
}

TEST_F(BacklightAccess, UnopenedPipeRunsTheScriptFromATemporaryFile) {
  EXPECT_EQ(write_keyboard_backlight(5, platform()), HID_1_OF_2);
  EXPECT_EQ(log,
            (Log{"pipe", "temp", "create C:\\Temp\\nivalto-keyboard-4242.ps1", "run", "delete"}));
  EXPECT_EQ(files.written, SCRIPT);
  EXPECT_EQ(runner.program, "powershell.exe");
  EXPECT_EQ(runner.arguments,
            (std::vector<std::string>{"-NoProfile", "-NonInteractive", "-ExecutionPolicy", "Bypass",
                                      "-File", "C:\\Temp\\nivalto-keyboard-4242.ps1", "-Mode",
                                      "write", "-Level", "2", "-FrameworkDir",
                                      "C:\\Program Files\\Nivalto\\framework"}));
  EXPECT_EQ(runner.time_limit, SCRIPT_TIME_LIMIT);
}

TEST_F(BacklightAccess, FrameworkDirectoryFollowsTheExecutable) {
  struct Case {
    std::optional<std::string> executable;
    std::string framework;
  };
  for (const Case& c :
       {Case{std::nullopt, ""}, Case{"nivalto.exe", ""}, Case{"C:\\nivalto.exe", "C:\\framework"},
        Case{"D:/outils/nivalto.exe", "D:/outils/framework"}}) {
    facts.executable = c.executable;
    ASSERT_TRUE(read_keyboard_backlight(platform()));
    EXPECT_EQ(runner.arguments.back(), c.framework) << c.executable.value_or("(aucun)");
    EXPECT_EQ(runner.arguments.size(), 12u);
    EXPECT_EQ(runner.arguments[7], "read");
    EXPECT_EQ(runner.arguments[9], "0");
  }
}

TEST_F(BacklightAccess, TemporaryDirectoryWithoutSeparatorIsJoined) {
  files.directory = "C:\\Windows\\SystemTemp";
  ASSERT_TRUE(read_keyboard_backlight(platform()));
  EXPECT_EQ(runner.arguments[5], "C:\\Windows\\SystemTemp\\nivalto-keyboard-4242.ps1");
}

TEST_F(BacklightAccess, ScriptThatCannotBeWrittenIsNotRun) {
  files.create_error = "Accès refusé.";
  EXPECT_EQ(read_keyboard_backlight(platform()).error(),
            HalError::unavailable("script de rétroéclairage non créé : Accès refusé."));
  files.create_error.reset();
  files.directory = std::unexpected(std::string("chemin introuvable"));
  EXPECT_EQ(read_keyboard_backlight(platform()).error(),
            HalError::unavailable("script de rétroéclairage non créé : chemin introuvable"));
  EXPECT_EQ(std::count(log.begin(), log.end(), "run"), 0);
}

TEST_F(BacklightAccess, FailedRunsAreUnavailableAndTheFileIsDeleted) {
  struct Case {
    std::expected<ProcessExit, ProcessFailure> result;
    std::string message;
  };
  const Case cases[] = {
      {std::unexpected(ProcessFailure{ProcessFailure::Kind::NotStarted, "fichier introuvable"}),
       "PowerShell indisponible : fichier introuvable"},
      {std::unexpected(ProcessFailure{ProcessFailure::Kind::TimedOut, ""}),
       "commande de rétroéclairage sans réponse après 60 s"},
      {std::unexpected(ProcessFailure{ProcessFailure::Kind::Lost, "handle invalide"}),
       "commande de rétroéclairage en échec : handle invalide"},
      // A valid record printed by a failing run is not believed.
      {ProcessExit{1, std::string(GOOD_ANSWER), ""}, "commande de rétroéclairage en échec"},
  };
  for (const Case& c : cases) {
    log.clear();
    runner.result = c.result;
    EXPECT_EQ(read_keyboard_backlight(platform()).error(), HalError::unavailable(c.message));
    EXPECT_EQ(log.back(), "delete") << c.message;
  }
}

TEST_F(BacklightAccess, TimeLimitIsAParameterAndNamedInSeconds) {
  runner.result = std::unexpected(ProcessFailure{ProcessFailure::Kind::TimedOut, ""});
  BacklightPlatform quick = platform();
  quick.time_limit = std::chrono::milliseconds(1500);
  EXPECT_EQ(read_keyboard_backlight(quick).error(),
            HalError::unavailable("commande de rétroéclairage sans réponse après 2 s"));
  EXPECT_EQ(runner.time_limit, std::chrono::milliseconds(1500));
}

TEST_F(BacklightAccess, SilentScriptIsAnUnreadableAnswer) {
  runner.result = ProcessExit{0, "", "Add-Type : erreur"};
  const auto result = read_keyboard_backlight(platform());
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().kind, HalErrorKind::InvalidData);
  EXPECT_TRUE(result.error().message.starts_with("réponse de rétroéclairage illisible : "));
  EXPECT_NE(result.error().message.find("end of input"), std::string::npos);
}

TEST_F(BacklightAccess, OutputIsDecodedWithReplacementBeforeParsing) {
  runner.result = ProcessExit{
      0,
      "{\"available\":false,\"known\":false,\"level\":0,\"max_level\":2,\"source\":\"\","
      "\"applied\":false,\"reason\":\"p\xE9riph\xE9rique\"}\r\n",
      ""};
  EXPECT_EQ(read_keyboard_backlight(platform()).error(),
            HalError::unavailable("p\xEF\xBF\xBDriph\xEF\xBF\xBDrique"));
}

}  // namespace
}  // namespace nivalto

namespace nivalto {
namespace {

using namespace testing;

class BacklightCallers : public ::testing::Test, protected FakeBacklight {};

// Who asks and what the pipe does decide between the service's answer, a
// wait for the next turn, the script and an error.
TEST_F(BacklightCallers, BusyAbsentAndRefusedPipes) {
  using O = PipeExchange::Outcome;
  const PipeExchange answered{O::Answered, std::string(GOOD_ANSWER)};
  const PipeExchange busy{O::Busy, ""};
  const PipeExchange absent{O::NoPipe, ""};
  const std::string script_run[] = {"temp", "create C:\\Temp\\nivalto-keyboard-4242.ps1", "run",
                                    "delete"};
  const auto then_script = [&](Log steps) {
    steps.insert(steps.end(), std::begin(script_run), std::end(script_run));
    return steps;
  };
  const std::string wait = "wait " + std::to_string(PIPE_TURN_WAIT.count());
  struct Case {
    std::string name;
    BacklightCaller caller;
    std::vector<PipeExchange> replies;  // then NotOpened
    std::deque<bool> waits;             // then the limit passes
    std::uint32_t script_exit;
    Log steps;
    std::string error;  // empty: the hid state at level 1 of 2
  };
  Log seventeen_busy;
  for (unsigned turn = 0; turn < PIPE_WAIT_TURNS; ++turn) {
    seventeen_busy.insert(seventeen_busy.end(), {"pipe", wait});
  }
  seventeen_busy.push_back("pipe");
  const Case cases[] = {
      {"user served at once", BacklightCaller::User, {answered}, {}, 0, {"pipe"}, ""},
      {"user served after two turns",
       BacklightCaller::User,
       {busy, busy, answered},
       {true, true},
       0,
       {"pipe", wait, "pipe", wait, "pipe"},
       ""},
      {"user queue that never moves",
       BacklightCaller::User,
       {busy},
       {},
       0,
       {"pipe", wait},
       "service HAL toujours occupé après 70 s d'attente"},
      {"user always served last", BacklightCaller::User, std::vector<PipeExchange>(17, busy),
       std::deque<bool>(17, true), 0, seventeen_busy,
       "service HAL toujours occupé après 16 tours d'attente"},
      {"user without service", BacklightCaller::User, {absent}, {}, 0, then_script({"pipe"}), ""},
      {"user without service, failing script",
       BacklightCaller::User,
       {absent},
       {},
       1,
       then_script({"pipe"}),
       "commande de rétroéclairage en échec ; le service NivaltoHal n'est pas démarré"},
      {"service gone while waiting",
       BacklightCaller::User,
       {busy, absent},
       {true},
       0,
       then_script({"pipe", wait, "pipe"}),
       ""},
      {"user refused by the pipe",
       BacklightCaller::User,
       {},
       {},
       0,
       {"pipe"},
       "canal du service HAL présent mais inaccessible"},
      // Inside the service its own pipe is busy: the script at once, as ever.
      {"service, busy pipe", BacklightCaller::Service, {busy}, {}, 0, then_script({"pipe"}), ""},
      {"service, no pipe, failing script",
       BacklightCaller::Service,
       {absent},
       {},
       1,
       then_script({"pipe"}),
       "commande de rétroéclairage en échec"},
  };
  for (const Case& c : cases) {
    log.clear();
    pipe.replies.assign(c.replies.begin(), c.replies.end());
    pipe.waits = c.waits;
    runner.result = ProcessExit{c.script_exit, std::string(GOOD_ANSWER), ""};
    BacklightPlatform asking = platform();
    asking.caller = c.caller;
    const auto result = write_keyboard_backlight(1, asking);
    if (c.error.empty()) {
      EXPECT_EQ(result, HID_1_OF_2) << c.name;
    } else {
      EXPECT_EQ(result, std::unexpected(HalError::unavailable(c.error))) << c.name;
    }
    EXPECT_EQ(log, c.steps) << c.name;
    // Every attempt asks the same thing.
    for (const std::string& request : pipe.requests) {
      EXPECT_EQ(request, "{\"op\":\"keyboard_write\",\"level\":1}\n") << c.name;
    }
  }
}

}  // namespace
}  // namespace nivalto
