#include "cli/dispatch.h"

#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "tests/support/recording_console.h"

namespace nivalto {
namespace {

using testing::RecordingConsole;

struct Call {
  std::string what;
  std::optional<std::string> profiles_dir{};
  std::optional<std::string> out{};
  std::optional<std::string> smbios{};
  bool operator==(const Call&) const = default;
};

class FakeCommands final : public Commands {
 public:
  int run_service_dispatcher(Console&) override {
    calls.push_back({"service-dispatcher"});
    return dispatcher_status;
  }
  CommandResult install_service(Console&) override {
    calls.push_back({"install"});
    return result;
  }
  CommandResult uninstall_service(Console&) override {
    calls.push_back({"uninstall"});
    return result;
  }
  CommandResult run_detect(const std::optional<std::string>& dir,
                           const std::optional<std::string>& out,
                           const std::optional<std::string>& smbios, Console& console) override {
    calls.push_back({"detect", dir, out, smbios});
    if (result) console.out("{}\n");
    return result;
  }
  CommandResult run_profiles(const std::optional<std::string>& dir,
                             const std::optional<std::string>& out, Console&) override {
    calls.push_back({"profiles", dir, out});
    return result;
  }
  CommandResult run_keyboard(std::optional<std::uint8_t> level, Console&) override {
    calls.push_back({"keyboard"});
    keyboard_levels.emplace_back(level);
    return result;
  }

  std::vector<Call> calls;
  std::vector<std::optional<int>> keyboard_levels;
  CommandResult result;
  int dispatcher_status = 0;
};

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome run(FakeCommands& commands, std::vector<std::string> args) {
  RecordingConsole console;
  const int status = dispatch(args, commands, console);
  return {status, console.out_text, console.err_text};
}

const std::string USAGE_LINE = std::string(USAGE_TEXT) + "\n";

TEST(UsageText, IsFifteenLinesOf719Bytes) {
  EXPECT_EQ(USAGE_TEXT.size(), 719u);
  EXPECT_EQ(std::count(USAGE_TEXT.begin(), USAGE_TEXT.end(), '\n'), 14);
  EXPECT_NE(USAGE_TEXT.back(), '\n');
  // The parentheses of the command lines stand in one column.
  const auto keyboard = USAGE_TEXT.find("  nivalto keyboard ");
  const auto line4 = USAGE_TEXT.find("  nivalto service ");
  const auto line5 = USAGE_TEXT.find("  nivalto --service");
  EXPECT_EQ(USAGE_TEXT.find('(', line4) - line4, USAGE_TEXT.find('(', line5) - line5);
  EXPECT_EQ(USAGE_TEXT.find('(', keyboard) - keyboard, USAGE_TEXT.find('(', line5) - line5);
}

TEST(DispatchUsage, NoArgumentsPrintsUsageAndExitsTwo) {
  FakeCommands commands;
  const auto r = run(commands, {});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, USAGE_LINE);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(commands.calls.empty());
}

TEST(DispatchUsage, HelpFirstPrintsUsageAndIgnoresTheRest) {
  for (const char* help : {"-h", "--help"}) {
    FakeCommands commands;
    const auto r = run(commands, {help, "detect", "--bogus"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, USAGE_LINE);
    EXPECT_TRUE(commands.calls.empty());
  }
}

TEST(DispatchUsage, HelpIsOnlyRecognisedFirst) {
  FakeCommands commands;
  const auto r = run(commands, {"detect", "--help"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "erreur : valeur manquante pour --help\n\n" + USAGE_LINE);
  EXPECT_TRUE(commands.calls.empty());
}

TEST(DispatchUsage, OptionErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"detect", "--foo"}, "erreur : valeur manquante pour --foo"},
      {{"detect", "--foo", "bar"}, "erreur : option inconnue : --foo"},
      {{"detect", "--out=rapport.json"}, "erreur : valeur manquante pour --out=rapport.json"},
      {{"frobnicate", "--out"}, "erreur : valeur manquante pour --out"},
      {{"profiles", "--profiles", "x", "--out"}, "erreur : valeur manquante pour --out"},
      {{"detect", "-p", "x"}, "erreur : option inconnue : -p"},
      {{"detect", "--smbios"}, "erreur : valeur manquante pour --smbios"},
  };
  for (const auto& c : cases) {
    FakeCommands commands;
    const auto r = run(commands, c.args);
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.message + "\n\n" + USAGE_LINE);
    EXPECT_TRUE(commands.calls.empty());
  }
}

TEST(DispatchUsage, UnknownCommandsHaveNoErrorPrefix) {
  for (const char* command : {"frobnicate", "Detect", "-H", ""}) {
    FakeCommands commands;
    const auto r = run(commands, {command});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, std::string("commande inconnue : ") + command + "\n\n" + USAGE_LINE);
    EXPECT_TRUE(commands.calls.empty());
  }
}

TEST(DispatchService, SubActions) {
  {
    FakeCommands commands;
    const auto r = run(commands, {"service"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "erreur : sous-action manquante pour service : install ou uninstall\n\n" +
                         USAGE_LINE);
  }
  {
    FakeCommands commands;
    const auto r = run(commands, {"service", "--profiles", "x"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "commande service inconnue (install ou uninstall)\n\n" + USAGE_LINE);
    EXPECT_TRUE(commands.calls.empty());
  }
  {
    FakeCommands commands;
    const auto r = run(commands, {"service", "install", "--profiles", "x", "--bogus"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(commands.calls.size(), 1u);
    EXPECT_EQ(commands.calls[0].what, "install");
  }
  {
    FakeCommands commands;
    commands.result = std::unexpected(std::string("suppression du service refusée (code 5)"));
    const auto r = run(commands, {"service", "uninstall"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "erreur : suppression du service refusée (code 5)\n");
  }
}

TEST(DispatchService, ServiceFlagReturnsTheDispatcherStatus) {
  FakeCommands commands;
  commands.dispatcher_status = 1;
  const auto r = run(commands, {"--service", "anything"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(commands.calls.size(), 1u);
  EXPECT_EQ(commands.calls[0].what, "service-dispatcher");
}

// Exactly "0", "1" or "2", as typed, and nothing after it; anything else
// is a usage error and reaches no command.
TEST(DispatchKeyboard, LevelsAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    std::optional<int> level;  // when the command runs
    std::string usage_error;   // empty: it runs
  };
  const auto unknown = [](const std::string& level) {
    return "niveau inconnu pour keyboard : " + level + " (0, 1 ou 2)";
  };
  const std::vector<Case> cases = {
      {{"keyboard"}, std::nullopt, ""},
      {{"keyboard", "0"}, 0, ""},
      {{"keyboard", "1"}, 1, ""},
      {{"keyboard", "2"}, 2, ""},
      {{"keyboard", "3"}, std::nullopt, unknown("3")},
      {{"keyboard", "-1"}, std::nullopt, unknown("-1")},
      {{"keyboard", "01"}, std::nullopt, unknown("01")},
      {{"keyboard", ""}, std::nullopt, unknown("")},
      {{"keyboard", "deux"}, std::nullopt, unknown("deux")},
      {{"keyboard", "1.0"}, std::nullopt, unknown("1.0")},
      {{"keyboard", " 1"}, std::nullopt, unknown(" 1")},
      {{"keyboard", "--profiles", "x"}, std::nullopt, unknown("--profiles")},
      {{"keyboard", "1", "2"}, std::nullopt, "argument en trop pour keyboard : 2"},
      {{"keyboard", "0", "--out", "f"}, std::nullopt, "argument en trop pour keyboard : --out"},
  };
  for (const auto& c : cases) {
    FakeCommands commands;
    const auto r = run(commands, c.args);
    if (c.usage_error.empty()) {
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(commands.calls, (std::vector<Call>{{"keyboard"}}));
      EXPECT_EQ(commands.keyboard_levels, std::vector<std::optional<int>>{c.level});
    } else {
      EXPECT_EQ(r.status, 2) << c.usage_error;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "erreur : " + c.usage_error + "\n\n" + USAGE_LINE);
      EXPECT_TRUE(commands.calls.empty()) << c.usage_error;
    }
  }
  FakeCommands failing;
  failing.result = std::unexpected(std::string("ressource non disponible : x"));
  const auto r = run(failing, {"keyboard", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "erreur : ressource non disponible : x\n");
}

TEST(DispatchService, UnquotedServicePathIsNeverTheService) {
  // A service registered as C:\Program Files\Nivalto\nivalto.exe --service,
  // without quotes, reaches the program split at the blank: the service
  // role starts only from the quoted form the installers register.
  FakeCommands commands;
  const auto r = run(commands, {"Files\\Nivalto\\nivalto.exe", "--service"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "erreur : valeur manquante pour --service\n\n" + USAGE_LINE);
  EXPECT_TRUE(commands.calls.empty());
}

TEST(DispatchCommands, OptionsReachTheCommand) {
  FakeCommands commands;
  const auto r = run(
      commands, {"detect", "--profiles", "a", "--out", "", "--smbios", "t.bin", "--profiles", "b"});
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(commands.calls.size(), 1u);
  EXPECT_EQ(commands.calls[0], (Call{"detect", "b", std::string(""), "t.bin"}));
}

TEST(DispatchCommands, DefaultsAndValuesTakenVerbatim) {
  FakeCommands commands;
  (void)run(commands, {"profiles"});
  (void)run(commands, {"profiles", "--out", "--profiles"});
  ASSERT_EQ(commands.calls.size(), 2u);
  // No folder typed: the command chooses its default (default_profiles_dir).
  EXPECT_EQ(commands.calls[0], (Call{"profiles"}));
  EXPECT_EQ(commands.calls[1], (Call{"profiles", std::nullopt, std::string("--profiles")}));
}

TEST(DispatchCommands, ErrorBecomesExitOneWithPrefix) {
  FakeCommands commands;
  commands.result = std::unexpected(std::string("profils (X) : introuvable"));
  const auto r = run(commands, {"detect", "--profiles", "X"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "erreur : profils (X) : introuvable\n");
}

}  // namespace
}  // namespace nivalto
