#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "cli/document.h"

namespace nivalto {

std::expected<void, std::string> write_whole_file(const std::string& path, std::string_view bytes) {
  const auto failure = [](int error) {
    return std::unexpected(std::system_category().message(error));
  };
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return failure(errno);
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      return failure(error);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  // A full disk may only show when the data is handed over at close.
  if (::close(fd) != 0) return failure(errno);
  return {};
}

}  // namespace nivalto
