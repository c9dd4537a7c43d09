// What the differential runner over the case table cannot reach: hostile
// replies, handles released on every path, the no-double-write rule and the
// engine's place in the backlight access.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>

#include "nivalto/hal/backlight_engine/backends.h"
#include "nivalto/hal/backlight_engine/engine.h"
#include "nivalto/hal/backlight_engine/guards.h"
#include "tests/support/fake_backlight.h"
#include "tests/support/fake_backlight_devices.h"

namespace nivalto::testing {
namespace {

constexpr std::chrono::milliseconds LIMIT{60000};
constexpr std::uint32_t READY_LEVEL_1 = 0x50201;  // level 1 of 2, ready

std::string line(std::string_view members) {
  return "{\"available\":true,\"known\":true," + std::string(members) + "}\n";
}

struct Case {
  std::string name;
  std::function<void(FakeMachine&)> setup;
  std::string mode;
  int level;
  std::optional<std::string> answer;  // nothing: handed over
  std::vector<std::string> writes;    // the calls that change the device, in order
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

bool is_write(const std::string& call) {
  return call.starts_with("control 2238084") || call.starts_with("write ") ||
         call.starts_with("set_") ||
         (call.starts_with("run ") && std::isdigit(static_cast<unsigned char>(call.back())));
}

const Case CASES[] = {
    {"nothing present hands over after reads only", [](FakeMachine&) {}, "write", 1, {}, {}},
    {"an unknown mode hands over before any call",
     [](FakeMachine& m) { m.thinkpad_words = {1}; },
     "x",
     0,
     {},
     {}},
    {"a short driver reply keeps the zeros of the bytes it did not return",
     [](FakeMachine& m) {
       m.thinkpad_words = {READY_LEVEL_1};
       m.thinkpad_returned = 2;  // the ready marker lies in the bytes not returned
     },
     "read",
     0,
     {},
     {}},
    {"a driver claiming more than four bytes is read from four",
     [](FakeMachine& m) {
       m.thinkpad_words = {READY_LEVEL_1};
       m.thinkpad_returned = 1u << 31;
     },
     "read",
     0,
     line(
         R"("level":1,"max_level":2,"source":"thinkpad-pm","applied":false,"verified":false,"reason":"")"),
     {}},
    {"a ThinkPad write is sent once and read back",
     [](FakeMachine& m) {
       m.thinkpad_words = {READY_LEVEL_1, READY_LEVEL_1, 0x50202};
     },
     "write",
     2,
     line(
         R"("level":2,"max_level":2,"source":"thinkpad-pm","applied":true,"verified":true,"reason":"")"),
     {"control 2238084 2"}},
    {"a refused ThinkPad write is not tried again elsewhere",
     [](FakeMachine& m) {
       m.thinkpad_words = {READY_LEVEL_1};
       m.thinkpad_set_error = 5;
       m.hid.emplace_back();
     },
     "write",
     0,
     R"j({"available":true,"known":false,"level":1,"max_level":2,"source":"thinkpad-pm","applied":false,"verified":false,"reason":"DeviceIoControl 2238084 (erreur 5)"})j"
     "\n",
     {"control 2238084 0"}},
    {"a detail size no path needs fails the search, which the script then makes",
     [](FakeMachine& m) { m.hid.emplace_back().detail_size = 2147483656u; },
     "write",
     1,
     {},
     {}},
    {"a detail size below its own header skips the interface",
     [](FakeMachine& m) { m.hid.emplace_back().detail_size = 3; },
     "read",
     0,
     {},
     {}},
    {"a device path without terminator ends with its buffer",
     [](FakeMachine& m) { m.hid.emplace_back().detail_unterminated = true; },
     "read",
     0,
     {},
     {}},
    {"value caps claimed beyond the buffer are not read",
     [](FakeMachine& m) {
       FakeHidDevice& device = m.hid.emplace_back();
       device.output_caps = device.feature_caps = value_caps_record(0x0C, 0x7A, 0, 255);
       device.claimed_count = 60000;
     },
     "read",
     0,
     {},
     {}},
    {"a HID write falls back from WriteFile to SetOutputReport, once each",
     [](FakeMachine& m) { m.hid.emplace_back().write_error = 1; },
     "write",
     1,
     line(R"("level":1,"max_level":2,"source":"hid","applied":true,"verified":true,"reason":"")"),
     {"write 102", "set_output 102"}},
    {"a HID device nobody accepts a report from reports the last error",
     [](FakeMachine& m) {
       FakeHidDevice& device = m.hid.emplace_back();
       device.write_error = 1;
       device.set_output_error = 31;
       device.set_feature_error = 0x80000001;
     },
     "write",
     2,
     R"j({"available":true,"known":false,"level":0,"max_level":2,"source":"hid","applied":false,"verified":false,"reason":"aucun rapport HID accepte (erreur -2147483647)"})j"
     "\n",
     {"write 255", "set_output 255", "set_feature 255"}},
    {"a tool that cannot start leaves the engine's own text in the reason",
     [](FakeMachine& m) {
       m.tools["framework_tool.exe"] = {
           std::unexpected(ProcessFailure{ProcessFailure::Kind::NotStarted, "système"})};
       m.thinkpad_words = {READY_LEVEL_1};
     },
     "read",
     0,
     line(R"("level":1,"max_level":2,"source":"thinkpad-pm","applied":false,"verified":false,)"
          R"("reason":"Framework : framework_tool.exe ne demarre pas")"),
     {}},
    {"a percentage beyond the output bound is not seen",
     [](FakeMachine& m) {
       m.tools["framework_tool.exe"] = {
           ProcessExit{0, std::string(MAX_CAPTURED_OUTPUT, 'x') + "50 %", ""}};
     },
     "read",
     0,
     {},
     {}},
};

class BacklightEngine : public ::testing::TestWithParam<Case> {};

TEST_P(BacklightEngine, AnswersOrHandsOverAndReleasesEverything) {
  const Case& c = GetParam();
  FakeMachine machine;
  c.setup(machine);
  BacklightDevices devices{machine, machine, machine, machine};
  const auto outcome =
      backlight_engine::run_backlight_engine(c.mode, c.level, "C:\\N\\framework", devices, LIMIT);
  ASSERT_TRUE(outcome.has_value());
  if (c.answer) {
    ASSERT_TRUE(std::holds_alternative<EngineAnswer>(*outcome));
    EXPECT_EQ(std::get<EngineAnswer>(*outcome).line, *c.answer);
  } else {
    EXPECT_TRUE(std::holds_alternative<HandOver>(*outcome));
  }
  std::vector<std::string> writes;
  std::copy_if(machine.calls.begin(), machine.calls.end(), std::back_inserter(writes), is_write);
  EXPECT_EQ(writes, c.writes);
  EXPECT_TRUE(machine.all_released())
      << machine.open_handles.size() << " open, " << machine.bad_releases << " bad releases";
  for (const auto& call : machine.calls) {
    if (call.starts_with("detail ")) {
      EXPECT_LE(std::stoull(call.substr(7)), 65540u);
    }
  }
  if (c.mode == "x") {
    EXPECT_TRUE(machine.calls.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, BacklightEngine, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(BacklightEngineTools, ToolOutlivingTheRequestIsTheScriptRunsTimeoutAfterItsWrite) {
  FakeMachine machine;
  machine.tools["qmk_hid.exe"] = {
      ProcessExit{0, "", "40 %"},
      std::unexpected(ProcessFailure{ProcessFailure::Kind::TimedOut, {}})};
  BacklightDevices devices{machine, machine, machine, machine};
  const auto outcome =
      backlight_engine::run_backlight_engine("write", 2, "C:\\N\\framework", devices, LIMIT);
  EXPECT_EQ(outcome.error(),
            HalError::unavailable("commande de rétroéclairage sans réponse après 60 s"));
  EXPECT_EQ(machine.calls,
            (std::vector<std::string>{
                "exists C:\\N\\framework\\framework_tool.exe",
                "exists C:\\N\\framework\\qmk_hid.exe", "run qmk_hid.exe via --backlight",
                "exists C:\\N\\framework\\qmk_hid.exe", "run qmk_hid.exe via --backlight 100"}));
}

TEST(BacklightEngineJson, EscapesAsTheScriptsSerialiser) {
  BacklightResult result;
  result.reason = "a\"b\\c\n\x01\t\xE2\x80\xA8\xC2\x85\xC3\xA9/<";
  EXPECT_EQ(
      compact_json(result),
      R"({"available":false,"known":false,"level":0,"max_level":2,"source":"","applied":false,"verified":false,"reason":"a\"b\\c\n\u0001\t\u2028\u0085)"
      "\xC3\xA9/<\"}\n");
  result.add_error("ignored");
  EXPECT_TRUE(compact_json(result).find("ignored") == std::string::npos);
  result.reason = " \t";
  result.add_error("first");
  EXPECT_EQ(result.reason, "first");
}

TEST(BacklightEngineGuards, ReleaseOnceWhateverTheMoves) {
  FakeMachine machine;
  {
    DeviceHandle first(machine, *machine.open_set({}, 0));
    DeviceHandle second(machine, *machine.preparsed_data(first.get()));
    DeviceHandle moved(std::move(first));
    second = std::move(moved);  // releases what `second` held
    EXPECT_EQ(machine.open_handles.size(), 1u);
    DeviceHandle self(std::move(second));
    DeviceHandle& alias = self;
    self = std::move(alias);
  }
  EXPECT_TRUE(machine.all_released());
}

// The engine within the backlight access: its answer, its handover, its error.
class EngineInAccess : public ::testing::Test, protected FakeBacklight {
 protected:
  BacklightPlatform with_engine() {
    BacklightPlatform platform = this->platform();
    platform.devices = &devices;
    return platform;
  }
  FakeMachine machine;
  BacklightDevices devices{machine, machine, machine, machine};
};

TEST_F(EngineInAccess, EngineAnswerIsReadAndTheScriptNeverWritten) {
  machine.thinkpad_words = {READY_LEVEL_1, READY_LEVEL_1, 0x50200};
  EXPECT_EQ(write_keyboard_backlight(0, with_engine()),
            (KeyboardState{true, BacklightSource::ThinkpadPm, 0, 2}));
  EXPECT_EQ(log, Log{"pipe"});
  EXPECT_TRUE(machine.all_released());
}

TEST_F(EngineInAccess, HandOverRunsTheScriptAsBefore) {
  EXPECT_EQ(read_keyboard_backlight(with_engine()),
            (KeyboardState{true, BacklightSource::Hid, 1, 2}));
  EXPECT_EQ(log,
            (Log{"pipe", "temp", "create C:\\Temp\\nivalto-keyboard-4242.ps1", "run", "delete"}));
  // The tools were looked for beside the executable.
  EXPECT_EQ(machine.calls.front(),
            "exists C:\\Program Files\\Nivalto\\framework\\framework_tool.exe");
}

TEST_F(EngineInAccess, HandOverLeavesTheScriptOnlyWhatTheToolsLeftOfTheRequest) {
  machine.tools["framework_tool.exe"] = {ProcessExit{0, "pas de pourcentage", ""}};
  machine.tool_delay = std::chrono::milliseconds(150);
  BacklightPlatform platform = with_engine();
  platform.time_limit = std::chrono::milliseconds(400);
  ASSERT_TRUE(read_keyboard_backlight(platform));
  EXPECT_GT(runner.time_limit.count(), 0);
  EXPECT_LE(runner.time_limit, std::chrono::milliseconds(250));

  // Tools that used the whole bound leave no time for the script at all.
  platform.time_limit = std::chrono::milliseconds(100);
  log.clear();
  EXPECT_EQ(read_keyboard_backlight(platform).error(),
            HalError::unavailable("commande de rétroéclairage sans réponse après 1 s"));
  EXPECT_EQ(log, Log{"pipe"});
}

TEST_F(EngineInAccess, EngineErrorIsTheAnswerForTheUserWithoutService) {
  pipe.reply = {PipeExchange::Outcome::NoPipe, ""};
  machine.tools["framework_tool.exe"] = {
      std::unexpected(ProcessFailure{ProcessFailure::Kind::TimedOut, {}})};
  const BacklightPlatform platform = [this] {
    BacklightPlatform p = with_engine();
    p.caller = BacklightCaller::User;
    return p;
  }();
  EXPECT_EQ(read_keyboard_backlight(platform).error(),
            HalError::unavailable("commande de rétroéclairage sans réponse après 60 s ; le service "
                                  "NivaltoHal n'est pas démarré"));
  EXPECT_EQ(log, Log{"pipe"});
}

}  // namespace
}  // namespace nivalto::testing
