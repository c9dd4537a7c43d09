#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nivalto/hal/hal_error.h"
#include "nivalto/hal/keyboard_backlight.h"

namespace nivalto {

namespace backlight_engine {
struct BacklightDevices;
}

// What became of one request to the service over its pipe.
struct PipeExchange {
  enum class Outcome : std::uint8_t {
    NotOpened,    // refused, or failed for a reason other than the two below
    NoPipe,       // nobody serves the pipe
    Busy,         // its single instance is serving another client
    Interrupted,  // opened, but the write or the read failed
    Answered,
  };
  Outcome outcome = Outcome::NotOpened;
  std::string answer;  // the bytes of the single read, when Answered

  friend bool operator==(const PipeExchange&, const PipeExchange&) = default;
};

// The service's pipe seen from a client: open, one write, one read of at most
// PIPE_BUFFER_SIZE bytes, close.
class ServicePipeClient {
 public:
  virtual ~ServicePipeClient() = default;
  [[nodiscard]] virtual PipeExchange exchange(std::string_view request) = 0;
  // Waits, at most `limit`, until a busy pipe may be opened again or has
  // gone. False when the limit passed first (or the wait itself failed).
  [[nodiscard]] virtual bool wait_for_pipe(std::chrono::milliseconds limit) = 0;
};

// A written script file. It stays as written, safe from other writers, for as
// long as this object lives; destroying it deletes the file.
class HeldScriptFile {
 public:
  virtual ~HeldScriptFile() = default;
};

// Where the script is written. Failures are the platform's description.
class ScriptFiles {
 public:
  virtual ~ScriptFiles() = default;
  [[nodiscard]] virtual std::expected<std::string, std::string> temporary_directory() = 0;
  // Removes whatever `path` names, then creates a new file there (never
  // opening an existing one or following a link) holding `contents`.
  [[nodiscard]] virtual std::expected<std::unique_ptr<HeldScriptFile>, std::string> create(
      const std::string& path, std::string_view contents) = 0;
};

struct ProcessExit {
  std::uint32_t exit_code = 0;
  std::string standard_output;
  std::string standard_error;
};

struct ProcessFailure {
  enum class Kind : std::uint8_t {
    NotStarted,
    TimedOut,  // ended by us once the time limit passed
    Lost,      // started, but its end could not be awaited
  };
  Kind kind = Kind::NotStarted;
  std::string description;  // the platform's words, for NotStarted and Lost
};

// Beyond this many bytes a stream is still drained but no longer kept: an
// answer is one short line, and a runaway program must not exhaust memory.
inline constexpr std::size_t MAX_CAPTURED_OUTPUT = std::size_t{1} << 20;

// Runs a program with an empty standard input, both output streams captured
// to their end, and no console window.
class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  [[nodiscard]] virtual std::expected<ProcessExit, ProcessFailure> run(
      std::string_view program, const std::vector<std::string>& arguments,
      std::chrono::milliseconds time_limit) = 0;
};

// Facts about the running process that name the script file and locate the
// vendor tools.
class ProcessFacts {
 public:
  virtual ~ProcessFacts() = default;
  [[nodiscard]] virtual std::uint32_t process_id() = 0;
  // Absent when it cannot be obtained.
  [[nodiscard]] virtual std::optional<std::string> executable_path() = 0;
};

// A hung PowerShell would otherwise hold the single service thread forever.
inline constexpr std::chrono::milliseconds SCRIPT_TIME_LIMIT{std::chrono::seconds(60)};
// The program's name; on Windows it is run by its full path in the system
// folder (powershell_program), never found by the program search.
inline constexpr std::string_view POWERSHELL_PROGRAM = "powershell.exe";
inline constexpr std::string_view FRAMEWORK_DIRECTORY_NAME = "framework";

// The service holds its single pipe instance for one request at most while
// it reads the request (a few seconds), runs the script once and answers;
// a client waiting for its turn allows that much before it gives up.
inline constexpr std::chrono::milliseconds PIPE_TURN_WAIT =
    SCRIPT_TIME_LIMIT + std::chrono::seconds(10);
// Each lost turn is another client served first; past this many the queue
// is taken as endless.
inline constexpr unsigned PIPE_WAIT_TURNS = 16;

// The failure of a request whose command outlived `limit`.
[[nodiscard]] HalError backlight_command_timed_out(std::chrono::milliseconds limit);

// Who asks. Inside the service the pipe's single instance is held by the
// very client being served, so the open fails as busy and the service runs
// the script itself. A user's program queues at a busy pipe instead, runs
// the script only when no service serves the pipe at all (an administrator
// console without the service), and then says so if that run fails too.
enum class BacklightCaller : std::uint8_t { Service, User };

struct BacklightPlatform {
  ServicePipeClient& pipe;
  ScriptFiles& files;
  ProcessRunner& runner;
  ProcessFacts& process;
  std::string_view script;  // the backlight script, written byte for byte
  std::string_view program = POWERSHELL_PROGRAM;
  std::chrono::milliseconds time_limit = SCRIPT_TIME_LIMIT;
  BacklightCaller caller = BacklightCaller::Service;
  std::chrono::milliseconds turn_wait = PIPE_TURN_WAIT;
  // The native engine's devices, tried before the script wherever the
  // script would run; null leaves the script alone to answer.
  backlight_engine::BacklightDevices* devices = nullptr;
};

// The platform of this build: the real pipe, files and processes on Windows;
// on other systems every attempt ends as Unavailable.
[[nodiscard]] const BacklightPlatform& platform_backlight();

// The pipe first; the script when the pipe cannot be opened (for a user's
// program: only when there is no pipe). Mode "write" sets `level` (taken as
// given), any other mode reads.
[[nodiscard]] HalResult<KeyboardState> access_keyboard_backlight(std::string_view mode,
                                                                 std::uint8_t level,
                                                                 const BacklightPlatform& platform);

// read_keyboard_backlight and write_keyboard_backlight on a given platform;
// the write limits the level to MAX_BACKLIGHT_LEVEL.
[[nodiscard]] HalResult<KeyboardState> read_keyboard_backlight(const BacklightPlatform& platform);
[[nodiscard]] HalResult<KeyboardState> write_keyboard_backlight(std::uint8_t level,
                                                                const BacklightPlatform& platform);

// The native engine first, when the platform has one; the script when the
// engine hands over, exactly as without it.
[[nodiscard]] HalResult<KeyboardState> answer_backlight_request(std::string_view mode,
                                                                std::uint8_t level,
                                                                const BacklightPlatform& platform);

// Writes the script to "nivalto-keyboard-{pid}.ps1" in the temporary
// directory, runs it, deletes it and reads its answer.
[[nodiscard]] HalResult<KeyboardState> run_backlight_script(std::string_view mode,
                                                            std::uint8_t level,
                                                            const BacklightPlatform& platform);

}  // namespace nivalto
