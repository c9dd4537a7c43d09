#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nivalto {

// One argument written so that the Microsoft C runtime's splitting of a
// command line gives it back unchanged: left bare when it is non-empty and has
// no blank, tab, line break or quote; otherwise quoted, with embedded quotes
// escaped and the backslashes before them (or before the closing quote)
// doubled.
[[nodiscard]] std::string quote_argument(std::string_view argument);

// The command line for process creation: the program, quoted when it holds a
// blank, then each argument quoted as above, one blank apart.
[[nodiscard]] std::string build_command_line(std::string_view program,
                                             const std::vector<std::string>& arguments);

}  // namespace nivalto
