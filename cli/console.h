#pragma once

#include <string_view>

namespace nivalto {

// Where the program's text goes. Every text is UTF-8 with bare line feeds;
// the platform console decides how the bytes reach the user.
class Console {
 public:
  virtual ~Console() = default;
  virtual void out(std::string_view utf8) = 0;
  virtual void err(std::string_view utf8) = 0;
};

// The process's standard output and error. On Windows a stream that is a
// console gets UTF-16 through WriteConsoleW (so accents show whatever the code
// page); a redirected stream gets the exact UTF-8 bytes, never "\r\n".
Console& process_console();

}  // namespace nivalto
