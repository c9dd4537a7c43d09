#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "cli/console.h"

namespace nivalto {

// Success, or the message the dispatcher prints after "erreur : ".
using CommandResult = std::expected<void, std::string>;

// The actions the command line can reach, one operation each. The product
// binds them to the real commands; tests bind recording fakes.
class Commands {
 public:
  virtual ~Commands() = default;
  // Returns the process exit status itself (0 or 1).
  virtual int run_service_dispatcher(Console& console) = 0;
  virtual CommandResult install_service(Console& console) = 0;
  virtual CommandResult uninstall_service(Console& console) = 0;
  // `profiles_dir` is absent when `--profiles` was not typed; `smbios` names a
  // saved table to read instead of the firmware's.
  virtual CommandResult run_detect(const std::optional<std::string>& profiles_dir,
                                   const std::optional<std::string>& out,
                                   const std::optional<std::string>& smbios, Console& console) = 0;
  virtual CommandResult run_profiles(const std::optional<std::string>& profiles_dir,
                                     const std::optional<std::string>& out, Console& console) = 0;
  // Reads the keyboard backlight, or sets it when a level (0 to 2) is given.
  virtual CommandResult run_keyboard(std::optional<std::uint8_t> level, Console& console) = 0;
};

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_ERROR = 1;
inline constexpr int EXIT_USAGE = 2;

// Turns the arguments (without the program name, UTF-8) into exactly one
// action and returns the process exit status. This is the one place where
// errors become exit codes.
[[nodiscard]] int dispatch(const std::vector<std::string>& arguments, Commands& commands,
                           Console& console);

// The commands of this build.
Commands& product_commands();

}  // namespace nivalto
