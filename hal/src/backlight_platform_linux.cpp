#include "nivalto/hal/backlight_access.h"

namespace nivalto {
namespace {

constexpr std::string_view NEEDS_WINDOWS =
    "le rétroéclairage clavier ne se pilote que sous Windows (service NivaltoHal ou PowerShell)";

// There is no service pipe and no PowerShell here: nothing is opened, written
// or run, and the first step that would need Windows says so.
class NoServicePipe final : public ServicePipeClient {
 public:
  PipeExchange exchange(std::string_view) override { return {PipeExchange::Outcome::NoPipe, {}}; }
  bool wait_for_pipe(std::chrono::milliseconds) override { return true; }
};

class NoScriptFiles final : public ScriptFiles {
 public:
  std::expected<std::string, std::string> temporary_directory() override {
    return std::unexpected(std::string(NEEDS_WINDOWS));
  }
  std::expected<std::unique_ptr<HeldScriptFile>, std::string> create(const std::string&,
                                                                     std::string_view) override {
    return std::unexpected(std::string(NEEDS_WINDOWS));
  }
};

class NoProcessRunner final : public ProcessRunner {
 public:
  std::expected<ProcessExit, ProcessFailure> run(std::string_view, const std::vector<std::string>&,
                                                 std::chrono::milliseconds) override {
    return std::unexpected(
        ProcessFailure{ProcessFailure::Kind::NotStarted, std::string(NEEDS_WINDOWS)});
  }
};

class NoProcessFacts final : public ProcessFacts {
 public:
  std::uint32_t process_id() override { return 0; }
  std::optional<std::string> executable_path() override { return std::nullopt; }
};

}  // namespace

const BacklightPlatform& platform_backlight() {
  static NoServicePipe pipe;
  static NoScriptFiles files;
  static NoProcessRunner runner;
  static NoProcessFacts process;
  // No script travels with this build: nothing here could run it.
  static const BacklightPlatform platform{pipe, files, runner, process, {}};
  return platform;
}

}  // namespace nivalto
