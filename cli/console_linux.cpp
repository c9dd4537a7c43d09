#include <unistd.h>

#include <cerrno>

#include "cli/console.h"

namespace nivalto {
namespace {

void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // A closed stream has no reader left to tell.
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

class PosixConsole final : public Console {
 public:
  void out(std::string_view utf8) override { write_all(STDOUT_FILENO, utf8); }
  void err(std::string_view utf8) override { write_all(STDERR_FILENO, utf8); }
};

}  // namespace

Console& process_console() {
  static PosixConsole console;
  return console;
}

}  // namespace nivalto
