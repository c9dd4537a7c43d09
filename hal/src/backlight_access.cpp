#include "nivalto/hal/backlight_access.h"

#include <variant>

#include "nivalto/hal/backlight_engine/engine.h"
#include "nivalto/hal/keyboard_answer.h"
#include "nivalto/hal/service_pipe.h"
#include "nivalto/hal/text.h"

namespace nivalto {
namespace {

// The script run, ended once `limit` passes; a timeout still names the
// request's whole bound.
HalResult<KeyboardState> run_script_within(std::string_view mode, std::uint8_t level,
                                           const BacklightPlatform& platform,
                                           std::chrono::milliseconds limit);

std::string pipe_request(std::string_view mode, std::uint8_t level) {
  if (mode == "write") {
    return "{\"op\":\"keyboard_write\",\"level\":" + std::to_string(level) + "}\n";
  }
  return "{\"op\":\"keyboard_read\"}\n";
}

bool ends_in_separator(std::string_view path) {
  return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

std::string joined(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && !ends_in_separator(path)) path += '\\';
  path += name;
  return path;
}

// The directory holding the executable, joined with "framework"; the empty
// text (which switches the vendor tools off) when there is no such directory.
std::string framework_directory(const std::optional<std::string>& executable) {
  if (!executable) return {};
  const auto separator = executable->find_last_of("\\/");
  if (separator == std::string::npos) return {};
  return executable->substr(0, separator + 1) + std::string(FRAMEWORK_DIRECTORY_NAME);
}

std::string seconds_text(std::chrono::milliseconds limit) {
  const auto seconds = (limit.count() + 999) / 1000;
  return std::to_string(seconds) + " s";
}

// A user's program at a busy pipe: waits for each turn and asks again, so
// that a client served first never makes it run the script unprivileged.
// The error when the queue does not move.
std::optional<HalError> queue_at_busy_pipe(std::string_view request, PipeExchange& exchange,
                                           const BacklightPlatform& platform) {
  for (unsigned turns = 0; exchange.outcome == PipeExchange::Outcome::Busy; ++turns) {
    if (turns == PIPE_WAIT_TURNS) {
      return HalError::unavailable("service HAL toujours occupé après " +
                                   std::to_string(PIPE_WAIT_TURNS) + " tours d'attente");
    }
    if (!platform.pipe.wait_for_pipe(platform.turn_wait)) {
      return HalError::unavailable("service HAL toujours occupé après " +
                                   seconds_text(platform.turn_wait) + " d'attente");
    }
    exchange = platform.pipe.exchange(request);
  }
  return std::nullopt;
}

// Without a service the user's own run is the last resort; when it fails,
// a stopped service is the likeliest cause and the first thing to mend.
HalResult<KeyboardState> noting_absent_service(HalResult<KeyboardState> result) {
  if (!result) {
    result.error().message += " ; le service " + std::string(SERVICE_NAME) + " n'est pas démarré";
  }
  return result;
}

}  // namespace

HalResult<KeyboardState> access_keyboard_backlight(std::string_view mode, std::uint8_t level,
                                                   const BacklightPlatform& platform) {
  const std::string request = pipe_request(mode, level);
  PipeExchange exchange = platform.pipe.exchange(request);
  if (platform.caller == BacklightCaller::User) {
    if (auto stuck = queue_at_busy_pipe(request, exchange, platform)) {
      return std::unexpected(std::move(*stuck));
    }
    if (exchange.outcome == PipeExchange::Outcome::NoPipe) {
      return noting_absent_service(answer_backlight_request(mode, level, platform));
    }
    if (exchange.outcome == PipeExchange::Outcome::NotOpened) {
      return std::unexpected(
          HalError::unavailable("canal du service HAL présent mais inaccessible"));
    }
  }
  switch (exchange.outcome) {
    case PipeExchange::Outcome::NotOpened:
    case PipeExchange::Outcome::NoPipe:
    case PipeExchange::Outcome::Busy:
      return answer_backlight_request(mode, level, platform);
    case PipeExchange::Outcome::Interrupted:
      return std::unexpected(
          HalError::unavailable("service HAL joignable mais échange interrompu"));
    case PipeExchange::Outcome::Answered:
      break;
  }
  return parse_keyboard_answer(decode_utf8_lossy(exchange.answer), mode);
}

HalError backlight_command_timed_out(std::chrono::milliseconds limit) {
  return HalError::unavailable("commande de rétroéclairage sans réponse après " +
                               seconds_text(limit));
}

HalResult<KeyboardState> answer_backlight_request(std::string_view mode, std::uint8_t level,
                                                  const BacklightPlatform& platform) {
  if (platform.devices == nullptr) return run_backlight_script(mode, level, platform);
  const auto started = std::chrono::steady_clock::now();
  auto outcome = backlight_engine::run_backlight_engine(
      mode, level, framework_directory(platform.process.executable_path()), *platform.devices,
      platform.time_limit);
  if (!outcome) return std::unexpected(std::move(outcome.error()));
  if (const auto* answer = std::get_if<backlight_engine::EngineAnswer>(&*outcome)) {
    return parse_keyboard_answer(answer->line, mode);
  }
  // The script gets what the engine left of the request's time: slow vendor
  // tools read before a handover must not stretch one request past the bound
  // that clients waiting for their turn rely on.
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  if (spent >= platform.time_limit) {
    return std::unexpected(backlight_command_timed_out(platform.time_limit));
  }
  return run_script_within(mode, level, platform, platform.time_limit - spent);
}

HalResult<KeyboardState> run_backlight_script(std::string_view mode, std::uint8_t level,
                                              const BacklightPlatform& platform) {
  return run_script_within(mode, level, platform, platform.time_limit);
}

namespace {

HalResult<KeyboardState> run_script_within(std::string_view mode, std::uint8_t level,
                                           const BacklightPlatform& platform,
                                           std::chrono::milliseconds limit) {
  const auto not_created = [](const std::string& why) {
    return std::unexpected(HalError::unavailable("script de rétroéclairage non créé : " + why));
  };
  const auto directory = platform.files.temporary_directory();
  if (!directory) return not_created(directory.error());
  const std::string path = joined(
      *directory, "nivalto-keyboard-" + std::to_string(platform.process.process_id()) + ".ps1");

  auto held = platform.files.create(path, platform.script);
  if (!held) return not_created(held.error());

  const std::vector<std::string> arguments = {
      "-NoProfile",
      "-NonInteractive",
      "-ExecutionPolicy",
      "Bypass",
      "-File",
      path,
      "-Mode",
      std::string(mode),
      "-Level",
      std::to_string(level),
      "-FrameworkDir",
      framework_directory(platform.process.executable_path())};
  auto run = platform.runner.run(platform.program, arguments, limit);
  held->reset();  // deletes the script whatever the run's outcome

  if (!run) {
    switch (run.error().kind) {
      case ProcessFailure::Kind::NotStarted:
        return std::unexpected(
            HalError::unavailable("PowerShell indisponible : " + run.error().description));
      case ProcessFailure::Kind::TimedOut:
        return std::unexpected(backlight_command_timed_out(platform.time_limit));
      case ProcessFailure::Kind::Lost:
        break;
    }
    return std::unexpected(
        HalError::unavailable("commande de rétroéclairage en échec : " + run.error().description));
  }
  if (run->exit_code != 0) {
    return std::unexpected(HalError::unavailable("commande de rétroéclairage en échec"));
  }
  return parse_keyboard_answer(decode_utf8_lossy(run->standard_output), mode);
}

}  // namespace

}  // namespace nivalto
