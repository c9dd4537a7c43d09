#include "nivalto/hal/sysfs_firmware_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace nivalto {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~FileDescriptor() { reset(); }

  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }

 private:
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_;
};

constexpr std::size_t READ_CHUNK = 64 * 1024;

}  // namespace

HalError sysfs_read_error(int error_number, std::string_view path) {
  const std::string where(path);
  switch (error_number) {
    case ENOENT:
    case ENOTDIR:
      return HalError::unavailable("table SMBIOS absente (" + where + ")");
    case EACCES:
    case EPERM:
      return HalError::access_denied("lecture de " + where + " refusée");
    default:
      return HalError::unavailable("lecture de " + where + " impossible (erreur système " +
                                   std::to_string(error_number) + ")");
  }
}

SysfsFirmwareTable::SysfsFirmwareTable(std::string path) : path_(std::move(path)) {}

HalResult<std::vector<std::byte>> SysfsFirmwareTable::read_smbios_table() {
  FileDescriptor file(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return std::unexpected(sysfs_read_error(errno, path_));

  // The size sysfs reports is not trusted; the file is read until its end.
  std::vector<std::byte> table;
  std::size_t filled = 0;
  for (;;) {
    table.resize(filled + READ_CHUNK);
    const ssize_t got = ::read(file.get(), table.data() + filled, READ_CHUNK);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(sysfs_read_error(errno, path_));
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  table.resize(filled);
  return table;
}

}  // namespace nivalto
