#pragma once

// Recording fakes of every platform operation of the backlight access.
#include <chrono>
#include <deque>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nivalto/hal/backlight_access.h"

namespace nivalto::testing {

constexpr std::string_view SCRIPT = "param([string]$Mode)\n# é\n";
constexpr std::string_view GOOD_ANSWER =
    R"({"available":true,"known":true,"level":1,"max_level":2,"source":"hid","applied":true,"verified":true,"reason":""})";

// Every call the fakes see, in order, so that tests can check what happened
// when (the script must exist while it runs and be gone afterwards).
using Log = std::vector<std::string>;

// Answers with `replies` in turn, then with `reply` (NotOpened unless a test
// says otherwise); waits end as `waits` says in turn, then at the limit.
class FakePipe final : public ServicePipeClient {
 public:
  explicit FakePipe(Log& log) : log_(log) {}
  PipeExchange exchange(std::string_view request) override {
    log_.push_back("pipe");
    requests.emplace_back(request);
    if (replies.empty()) return reply;
    PipeExchange next = replies.front();
    replies.pop_front();
    return next;
  }
  bool wait_for_pipe(std::chrono::milliseconds limit) override {
    log_.push_back("wait " + std::to_string(limit.count()));
    if (waits.empty()) return false;
    const bool free = waits.front();
    waits.pop_front();
    return free;
  }
  std::vector<std::string> requests;
  std::deque<PipeExchange> replies;
  PipeExchange reply;
  std::deque<bool> waits;

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

// The platform the fakes make up, with every call they see in `log`.
struct FakeBacklight {
  [[nodiscard]] BacklightPlatform platform() const {
    return BacklightPlatform{pipe, files, runner, facts, SCRIPT};
  }
  Log log;
  mutable FakePipe pipe{log};
  mutable FakeFiles files{log};
  mutable FakeRunner runner{log};
  mutable FakeFacts facts;
};

}  // namespace nivalto::testing
