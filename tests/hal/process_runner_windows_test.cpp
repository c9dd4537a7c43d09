#include "nivalto/hal/process_runner_windows.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "nivalto/hal/unique_handle_windows.h"
#include "nivalto/hal/win32_text_windows.h"
#include "tests/support/argument_echo_windows.h"

namespace nivalto {
namespace {

using namespace std::chrono_literals;
using testing::argument_echo_path;
using testing::ScratchDirectory;
using Clock = std::chrono::steady_clock;

std::vector<std::string> split_at_nul(const std::string& output) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = output.find('\0', start)) != std::string::npos; start = end + 1) {
    parts.push_back(output.substr(start, end - start));
  }
  return parts;
}

class WindowsProcessRunnerTest : public ::testing::Test {
 protected:
  std::expected<ProcessExit, ProcessFailure> run_echo(std::vector<std::string> arguments,
                                                      std::chrono::milliseconds limit = 30s) {
    return runner.run(argument_echo_path(), arguments, limit);
  }
  WindowsProcessRunner runner;
};

TEST_F(WindowsProcessRunnerTest, EveryArgumentArrivesWhole) {
  const std::vector<std::string> awkward = {"",
                                            "plain",
                                            "two words",
                                            "C:\\Users\\Jean Dupont\\AppData\\Local\\Temp\\",
                                            "C:\\Program Files\\Nivalto\\framework",
                                            "say \"hi\"",
                                            "\"",
                                            "\\\"",
                                            "a\\\\\"b",
                                            "back\\\\slashes\\\\",
                                            "tab\there",
                                            "\\\\server\\share\\file.ps1",
                                            "été à Noël",
                                            " ",
                                            "\\",
                                            "\"\"",
                                            "end\\\\\\",
                                            "-FrameworkDir",
                                            ""};
  std::vector<std::string> arguments = {"echo"};
  arguments.insert(arguments.end(), awkward.begin(), awkward.end());
  const auto run = run_echo(arguments);
  ASSERT_TRUE(run.has_value()) << run.error().description;
  EXPECT_EQ(run->exit_code, 0u);
  EXPECT_EQ(split_at_nul(run->standard_output), awkward);
}

TEST_F(WindowsProcessRunnerTest, ExitCodeAndOutputAreReported) {
  const auto run = run_echo({"exit", "7"});
  ASSERT_TRUE(run.has_value()) << run.error().description;
  EXPECT_EQ(run->exit_code, 7u);
  EXPECT_EQ(run->standard_output, "bye");
  EXPECT_EQ(run->standard_error, "");
}

TEST_F(WindowsProcessRunnerTest, StandardInputIsEmpty) {
  const auto run = run_echo({"stdin"}, 10s);
  ASSERT_TRUE(run.has_value()) << run.error().description;
  EXPECT_EQ(run->standard_output, "0");
}

TEST_F(WindowsProcessRunnerTest, BothStreamsAreDrainedTogether) {
  static_assert(200 * 4096 < MAX_CAPTURED_OUTPUT);
  // Far more than a pipe buffer on each stream, written alternately: reading
  // one stream to its end before the other would stall both processes.
  const auto run = run_echo({"flood", std::to_string(200 * 4096)});
  ASSERT_TRUE(run.has_value()) << run.error().description;
  EXPECT_EQ(run->standard_output.size(), 200u * 4096);
  EXPECT_EQ(run->standard_error.size(), 200u * 4096);
  EXPECT_TRUE(run->standard_output == std::string(200 * 4096, 'o'));
  EXPECT_TRUE(run->standard_error == std::string(200 * 4096, 'e'));
}

TEST_F(WindowsProcessRunnerTest, CapturedOutputIsBounded) {
  const auto run = run_echo({"flood", std::to_string(MAX_CAPTURED_OUTPUT + 64 * 4096)});
  ASSERT_TRUE(run.has_value()) << run.error().description;
  EXPECT_EQ(run->exit_code, 0u);
  EXPECT_EQ(run->standard_output.size(), MAX_CAPTURED_OUTPUT);
  EXPECT_EQ(run->standard_error.size(), MAX_CAPTURED_OUTPUT);
}

TEST_F(WindowsProcessRunnerTest, MissingProgramIsNotStarted) {
  const auto run = runner.run("nivalto-no-such-program.exe", {"-x"}, 10s);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error().kind, ProcessFailure::Kind::NotStarted);
  EXPECT_FALSE(run.error().description.empty());
}

TEST_F(WindowsProcessRunnerTest, NameWithoutFolderIsNeverSearchedFor) {
  // argument_echo.exe stands beside unit_tests.exe, the first folder the
  // program search would look in; the runner takes the name as it is.
  std::wstring previous(MAX_PATH, L'\0');
  previous.resize(GetCurrentDirectoryW(MAX_PATH, previous.data()));
  std::wstring temporary(MAX_PATH, L'\0');
  temporary.resize(GetTempPathW(MAX_PATH, temporary.data()));
  ASSERT_TRUE(SetCurrentDirectoryW(temporary.c_str()));
  const auto run = runner.run("argument_echo.exe", {"-x"}, 10s);
  SetCurrentDirectoryW(previous.c_str());
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error().kind, ProcessFailure::Kind::NotStarted);
}

TEST_F(WindowsProcessRunnerTest, HungProgramIsEndedAtTheTimeLimit) {
  const auto started = Clock::now();
  const auto run = run_echo({"sleep", "600000"}, 500ms);
  const auto waited = Clock::now() - started;
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error().kind, ProcessFailure::Kind::TimedOut);
  EXPECT_GE(waited, 450ms);
  EXPECT_LT(waited, 10s);
}

DWORD read_process_id(const std::wstring& file) {
  std::ifstream in{std::filesystem::path(file)};
  DWORD id = 0;
  in >> id;
  return id;
}

bool has_ended(DWORD process_id) {
  UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, process_id));
  // Gone altogether, or still known but finished.
  return !process || WaitForSingleObject(process.get(), 5000) == WAIT_OBJECT_0;
}

TEST_F(WindowsProcessRunnerTest, TimeLimitAlsoEndsWhatTheProgramStarted) {
  ScratchDirectory scratch;
  const std::wstring id_file = scratch.wide() + L"child.txt";
  const auto run = run_echo({"spawn-and-sleep", win32::to_utf8(id_file), "600000"}, 1500ms);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error().kind, ProcessFailure::Kind::TimedOut);
  const DWORD child = read_process_id(id_file);
  ASSERT_NE(child, 0u);
  EXPECT_TRUE(has_ended(child));
}

TEST_F(WindowsProcessRunnerTest, LeftoverChildDoesNotHoldTheResultBack) {
  ScratchDirectory scratch;
  const std::wstring id_file = scratch.wide() + L"child.txt";
  const auto started = Clock::now();
  const auto run = run_echo({"spawn-and-exit", win32::to_utf8(id_file)}, 20s);
  ASSERT_TRUE(run.has_value()) << run.error().description;
  EXPECT_LT(Clock::now() - started, 10s);
  EXPECT_EQ(run->exit_code, 3u);
  EXPECT_EQ(run->standard_output, "parent done");
  const DWORD child = read_process_id(id_file);
  ASSERT_NE(child, 0u);
  EXPECT_TRUE(has_ended(child));
}

}  // namespace
}  // namespace nivalto
