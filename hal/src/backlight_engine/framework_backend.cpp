// The Framework vendor tools: framework_tool.exe, then qmk_hid.exe, run by
// absolute path from the framework folder beside the executable; the level
// is read from the percentage they print.
#include <array>
#include <optional>
#include <vector>

#include "nivalto/hal/backlight_engine/backends.h"

namespace nivalto::backlight_engine {
namespace {

struct Tool {
  std::string_view file;
  std::vector<std::string> read_arguments;
};

// What one run of a tool gave: nothing when the file is not there, else
// everything it printed, or why it could not run.
struct ToolRun {
  std::optional<std::string> output;
  std::optional<std::string> failure;
};

// The folder's own separator, so that the path reads as the platform wrote
// the folder.
std::string tool_path(const std::string& folder, std::string_view file) {
  const auto last = folder.find_last_of("\\/");
  const char separator = last == std::string::npos ? '\\' : folder[last];
  std::string path = folder;
  if (path.back() != '\\' && path.back() != '/' && path.back() != ':') path += separator;
  path += file;
  return path;
}

std::expected<ToolRun, HalError> run_tool(VendorTools& tools, const std::string& folder,
                                          const Tool& tool, std::vector<std::string> arguments,
                                          const RequestDeadline& deadline) {
  const std::string path = tool_path(folder, tool.file);
  if (!tools.exists(path)) return ToolRun{};
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline.end - std::chrono::steady_clock::now());
  const auto timed_out = [&deadline] {
    return std::unexpected(backlight_command_timed_out(deadline.limit));
  };
  if (left.count() <= 0) return timed_out();
  const auto run = tools.run(path, arguments, left);
  if (!run) {
    if (run.error().kind == ProcessFailure::Kind::TimedOut) return timed_out();
    return ToolRun{std::nullopt, std::string(tool.file) + " ne demarre pas"};
  }
  // Standard output and standard error together, each kept within the
  // bound of captured output whatever the runner delivered.
  std::string text = run->standard_output.substr(0, MAX_CAPTURED_OUTPUT);
  text += '\n';
  text += std::string_view(run->standard_error).substr(0, MAX_CAPTURED_OUTPUT);
  return ToolRun{std::move(text), std::nullopt};
}

// The length of the white space character (in the regular-expression sense
// of the script's runtime: \f\n\r\t\v, U+0085 and the Unicode separators)
// at the start of `text`, or 0.
std::size_t white_space_length(std::string_view text) {
  if (text.empty()) return 0;
  const auto byte = static_cast<unsigned char>(text[0]);
  if (byte == ' ' || (byte >= '\t' && byte <= '\r')) return 1;
  static constexpr std::array<std::string_view, 18> WIDE = {
      "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81",
      "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86",
      "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8",
      "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F"};
  for (const std::string_view wide : WIDE) {
    if (text.starts_with(wide)) return wide.size();
  }
  return text.starts_with("\xE3\x80\x80") ? 3 : 0;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The first match of ([0-9]{1,3})\s*% : its digits as a number.
std::optional<int> percent_of(const std::optional<std::string>& output) {
  if (!output) return std::nullopt;
  const std::string_view text = *output;
  for (std::size_t start = 0; start < text.size(); ++start) {
    if (!is_digit(text[start])) continue;
    // More digits than the three matched would stand between them and the
    // sign, so only the longest run of up to three can match here.
    std::size_t end = start;
    int value = 0;
    while (end < text.size() && end - start < 3 && is_digit(text[end])) {
      value = value * 10 + (text[end] - '0');
      ++end;
    }
    while (const std::size_t skip = white_space_length(text.substr(end))) end += skip;
    if (end < text.size() && text[end] == '%') return value;
  }
  return std::nullopt;
}

int level_of(int percent) {
  if (percent >= 75) return 2;
  if (percent >= 25) return 1;
  return 0;
}

}  // namespace

std::expected<BackendStep, HalError> try_framework(const BacklightRequest& request,
                                                   const std::string& framework_dir,
                                                   VendorTools& tools,
                                                   const RequestDeadline& deadline,
                                                   BacklightResult& result) {
  const std::array<Tool, 2> candidates = {Tool{"framework_tool.exe", {"--kblight"}},
                                          Tool{"qmk_hid.exe", {"via", "--backlight"}}};
  const Tool* tool = nullptr;
  std::optional<int> percent;
  for (const Tool& candidate : candidates) {
    const auto run = run_tool(tools, framework_dir, candidate, candidate.read_arguments, deadline);
    if (!run) return std::unexpected(run.error());
    if (run->failure) {
      // The script leaves its Framework attempt at the first failure, and
      // the failure stays in the reason of whichever backend answers.
      result.add_error("Framework : " + *run->failure);
      return BackendStep::PassedOver;
    }
    percent = percent_of(run->output);
    if (percent) {
      tool = &candidate;
      break;
    }
  }
  if (!percent) return BackendStep::PassedOver;

  result.available = true;
  result.source = "framework";
  result.max_level = 2;
  result.known = true;
  result.level = level_of(*percent);
  if (!request.write) return BackendStep::Answered;

  // Once a tool has answered, Framework is the backend of this request: a
  // failure while writing is reported, not a reason to try another one.
  if (!level_in_range(request.level, 2)) {
    result.add_error("niveau hors limites");
    return BackendStep::Answered;
  }
  constexpr std::array<std::string_view, 3> TARGETS = {"0", "50", "100"};
  auto write_arguments = tool->read_arguments;
  write_arguments.emplace_back(TARGETS[static_cast<std::size_t>(request.level)]);
  const auto written = run_tool(tools, framework_dir, *tool, write_arguments, deadline);
  if (!written) return std::unexpected(written.error());
  if (written->failure) {
    result.add_error("Framework : " + *written->failure);
    return BackendStep::Answered;
  }
  result.applied = true;
  const auto after = run_tool(tools, framework_dir, *tool, tool->read_arguments, deadline);
  if (!after) return std::unexpected(after.error());
  if (after->failure) {
    result.add_error("Framework : " + *after->failure);
    return BackendStep::Answered;
  }
  if (const auto read_back = percent_of(after->output)) {
    result.level = level_of(*read_back);
    result.verified = result.level == request.level;
  } else {
    result.level = request.level;
    result.add_error("commande Framework envoyee ; confirmation indisponible");
  }
  return BackendStep::Answered;
}

}  // namespace nivalto::backlight_engine
