#include "nivalto/hal/backlight_platform_windows.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "nivalto/hal/backlight_script.h"
#include "nivalto/hal/pipe_client_windows.h"
#include "nivalto/hal/process_runner_windows.h"
#include "nivalto/hal/script_files_windows.h"
#include "nivalto/hal/win32_text_windows.h"
#include "tests/support/argument_echo_windows.h"

namespace nivalto {
namespace {

using testing::argument_echo_path;
using testing::unique_test_name;

TEST(WindowsProcessFacts, NameThisProcessAndItsExecutable) {
  WindowsProcessFacts facts;
  EXPECT_EQ(facts.process_id(), GetCurrentProcessId());
  const auto path = facts.executable_path();
  ASSERT_TRUE(path.has_value());
  EXPECT_TRUE(path->ends_with("\\unit_tests.exe")) << *path;
}

TEST(WindowsBacklightPlatform, ProductRunsTheEmbeddedScriptWithPowerShellWithinAMinute) {
  const BacklightPlatform& platform = platform_backlight();
  // By full path in the system folder, never by the program search.
  std::wstring system(MAX_PATH, L'\0');
  system.resize(GetSystemDirectoryW(system.data(), MAX_PATH));
  EXPECT_EQ(platform.program, win32::to_utf8(system) + "\\WindowsPowerShell\\v1.0\\powershell.exe");
  EXPECT_EQ(platform.program, powershell_program());
  // The file is there (Wine's placeholder, or the real one).
  EXPECT_NE(GetFileAttributesW(win32::to_wide(platform.program).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(platform.script, backlight_script_text());
  EXPECT_EQ(platform.time_limit, std::chrono::seconds(60));
}

// The real pipe client, files and runner together, with the stand-in
// program playing PowerShell: it reports the arguments it got and what it
// could do with the script file while it ran.
TEST(WindowsBacklightPlatform, ScriptRunEndToEnd) {
  WindowsServicePipeClient pipe(L"\\\\.\\pipe\\" + unique_test_name(L"nivalto-absent"));
  WindowsScriptFiles files;
  WindowsProcessRunner runner;
  WindowsProcessFacts facts;
  const std::string program = argument_echo_path();
  const BacklightPlatform platform{pipe, files, runner, facts, "# script de test", program};

  const auto directory = files.temporary_directory();
  ASSERT_TRUE(directory.has_value());
  const std::string script_path =
      *directory + "nivalto-keyboard-" + std::to_string(GetCurrentProcessId()) + ".ps1";
  const std::string executable = *facts.executable_path();
  const std::string framework =
      executable.substr(0, executable.find_last_of('\\') + 1) + "framework";

  const auto result = write_keyboard_backlight(9, platform);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(),
            HalError::unavailable("-NoProfile|-NonInteractive|-ExecutionPolicy|Bypass|-File|" +
                                  script_path + "|-Mode|write|-Level|2|-FrameworkDir|" + framework +
                                  "|lu:# script de test|écriture refusée|suppression refusée"));
  EXPECT_EQ(GetFileAttributesW(std::wstring(script_path.begin(), script_path.end()).c_str()),
            INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace nivalto
