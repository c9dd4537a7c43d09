#include "nivalto/hal/command_line_quoting.h"

namespace nivalto {

std::string quote_argument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(argument);
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      // 2n+1 backslashes: n literal ones, then an escaped quote.
      quoted.append(2 * backslashes + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  // Before the closing quote, each literal backslash must be doubled or the
  // last one would escape it.
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  return quoted;
}

std::string build_command_line(std::string_view program,
                               const std::vector<std::string>& arguments) {
  // The program name is split by a simpler rule (up to the next quote, no
  // escapes), and file names cannot hold quotes, so plain quoting suffices.
  // Appended piece by piece: for `"\"" + std::string(...)` mingw's GCC 12
  // warns of a memcpy that may overlap itself (-Wrestrict), a known false
  // positive of its string code.
  std::string line;
  const bool quoted = program.find_first_of(" \t") != std::string_view::npos;
  line.reserve(program.size() + 2);
  if (quoted) line += '"';
  line += program;
  if (quoted) line += '"';
  for (const auto& argument : arguments) {
    line += ' ';
    line += quote_argument(argument);
  }
  return line;
}

}  // namespace nivalto
