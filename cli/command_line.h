#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nivalto {

// 15 lines, 719 bytes, no final line feed.
extern const std::string_view USAGE_TEXT;

inline constexpr std::string_view DEFAULT_PROFILES_DIR = "profiles";

struct CommandLine {
  std::string command;
  // Absent when `--profiles` was not typed: the command then chooses its
  // default folder (default_profiles_dir).
  std::optional<std::string> profiles_dir;
  std::optional<std::string> service_action;
  std::optional<std::string> out;
  std::optional<std::string> smbios;  // a saved table for `detect`, in place of the firmware's
};

// Reads the options that follow the command as (name, value) pairs. The error
// is a usage-error message without the "erreur : " prefix. Only called when
// the first argument is none of "--service", "-h", "--help", "service".
[[nodiscard]] std::expected<CommandLine, std::string> parse_command_line(
    const std::vector<std::string>& arguments);

// `keyboard` and what follows it: no level (read), or exactly "0", "1" or
// "2" and nothing after it. The error is a usage-error message without the
// "erreur : " prefix, naming the argument as typed.
[[nodiscard]] std::expected<std::optional<std::uint8_t>, std::string> parse_keyboard_arguments(
    const std::vector<std::string>& arguments);

}  // namespace nivalto
