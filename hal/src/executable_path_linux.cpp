#include <unistd.h>

#include "nivalto/hal/executable_path.h"

namespace nivalto {

std::optional<std::string> running_executable_path() {
  // readlink truncates silently: a result that fills the buffer may be cut.
  std::string buffer(256, '\0');
  while (buffer.size() <= 65536) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::nullopt;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
  return std::nullopt;
}

}  // namespace nivalto
