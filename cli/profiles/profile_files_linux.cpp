#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "cli/profiles/profile_files.h"
#include "nivalto/hal/text.h"

namespace nivalto {
namespace {

std::string system_text(int error) { return std::system_category().message(error); }

// Closes the descriptor on every path out of read_file.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::expected<std::vector<DirectoryEntry>, std::string> list_directory(
    const std::filesystem::path& directory) {
  DIR* stream = ::opendir(directory.c_str());
  if (stream == nullptr) return std::unexpected(system_text(errno));
  // Each path is the directory's text, a separator unless it already ends
  // with one (or is empty), and the name: as `directory / name` forms it, but
  // without going over the directory's components for every entry.
  std::string prefix = directory.native();
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';
  std::vector<DirectoryEntry> entries;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream);
    if (entry == nullptr) {
      const int error = errno;
      ::closedir(stream);
      // A listing cut short would load a subset of the profiles as if it
      // were all of them.
      if (error != 0) return std::unexpected(system_text(error));
      return entries;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string joined;
    joined.reserve(prefix.size() + name.size());
    joined.append(prefix).append(name);
    entries.push_back({decode_utf8_lossy(name), std::move(joined)});
  }
}

std::expected<std::string, ReadFailure> read_file(const std::filesystem::path::string_type& file,
                                                  std::size_t max_bytes) {
  // Non-blocking, so that opening a named pipe does not wait for a writer.
  const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) return std::unexpected(SystemFailure{system_text(errno)});
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return std::unexpected(SystemFailure{system_text(errno)});
  if (S_ISDIR(status.st_mode)) return std::unexpected(SystemFailure{system_text(EISDIR)});
  if (!S_ISREG(status.st_mode)) return std::unexpected(NotRegularFile{});
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size > max_bytes) return std::unexpected(FileTooLarge{size});

  // The file may grow while it is read: read at most one byte past the limit.
  // The room is not filled beforehand: only the bytes read are kept.
  std::string bytes;
  std::size_t room = static_cast<std::size_t>(size) + 1;
  std::size_t filled = 0;
  for (;;) {
    if (filled == room) {
      if (room > max_bytes) return std::unexpected(FileTooLarge{filled});
      room = std::min(room * 2, max_bytes + 1);
    }
    ssize_t n = 0;
    int error = 0;
    bytes.resize_and_overwrite(room, [&](char* data, std::size_t) {
      n = ::read(fd.get(), data + filled, room - filled);
      if (n < 0) error = errno;
      return filled + (n > 0 ? static_cast<std::size_t>(n) : 0);
    });
    if (n < 0) {
      if (error == EINTR) continue;
      return std::unexpected(SystemFailure{system_text(error)});
    }
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  return bytes;
}

std::filesystem::path path_from_utf8(std::string_view utf8) {
  return std::filesystem::path(std::string(utf8));
}

std::string path_to_utf8(const std::filesystem::path& path) {
  return decode_utf8_lossy(path.native());
}

}  // namespace nivalto
