#include "nivalto/hal/backlight_access.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace nivalto {
namespace {

constexpr std::string_view SCRIPT = "param([string]$Mode)\n# é\n";
constexpr std::string_view GOOD_ANSWER =
    R"({"available":true,"known":true,"level":1,"max_level":2,"source":"hid","applied":true,"verified":true,"reason":""})";

// Every call the fakes see, in order, so that tests can check what happened
// when (the script must exist while it runs and be gone afterwards).
using Log = std::vector<std::string>;

class FakePipe final : public ServicePipeClient {
 public:
  explicit FakePipe(Log& log) : log_(log) {}
  PipeExchange exchange(std::string_view request) override {
    log_.push_back("pipe");
    requests.emplace_back(request);
    return reply;
  }
  std::vector<std::string> requests;
  PipeExchange reply;  // NotOpened unless a test says otherwise

 private:
  Log& log_;
};

class FakeHeldFile final : public HeldScriptFile {
 public:
  explicit FakeHeldFile(Log& log) : log_(log) {}
  ~FakeHeldFile() override { log_.push_back("delete"); }

 private:
  Log& log_;
};

class FakeFiles final : public ScriptFiles {
 public:
  explicit FakeFiles(Log& log) : log_(log) {}
  std::expected<std::string, std::string> temporary_directory() override {
    log_.push_back("temp");
    return directory;
  }
  std::expected<std::unique_ptr<HeldScriptFile>, std::string> create(
      const std::string& path, std::string_view contents) override {
    log_.push_back("create " + path);
    written = contents;
    if (create_error) return std::unexpected(*create_error);
    return std::make_unique<FakeHeldFile>(log_);
  }
  std::expected<std::string, std::string> directory = std::string("C:\\Temp\\");
  std::optional<std::string> create_error;
  std::string written;

 private:
  Log& log_;
};

class FakeRunner final : public ProcessRunner {
 public:
  explicit FakeRunner(Log& log) : log_(log) {}
  std::expected<ProcessExit, ProcessFailure> run(std::string_view program,
                                                 const std::vector<std::string>& arguments,
                                                 std::chrono::milliseconds time_limit) override {
    log_.push_back("run");
    this->program = program;
    this->arguments = arguments;
    this->time_limit = time_limit;
    return result;
  }
  std::string program;
  std::vector<std::string> arguments;
  std::chrono::milliseconds time_limit{};
  std::expected<ProcessExit, ProcessFailure> result = ProcessExit{0, std::string(GOOD_ANSWER), ""};

 private:
  Log& log_;
};

class FakeFacts final : public ProcessFacts {
 public:
  std::uint32_t process_id() override { return 4242; }
  std::optional<std::string> executable_path() override { return executable; }
  std::optional<std::string> executable = std::string("C:\\Program Files\\Nivalto\\nivalto.exe");
};

class BacklightAccess : public ::testing::Test {
 protected:
  [[nodiscard]] BacklightPlatform platform() const {
    return BacklightPlatform{pipe, files, runner, facts, SCRIPT};
  }
  Log log;
  mutable FakePipe pipe{log};
  mutable FakeFiles files{log};
  mutable FakeRunner runner{log};
  mutable FakeFacts facts;
};

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
