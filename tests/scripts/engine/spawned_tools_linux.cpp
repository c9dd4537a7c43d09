#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "simulated_devices.h"

extern char** environ;

namespace nivalto::backlight_engine {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&&) = delete;
  ~FileDescriptor() { reset(); }

  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

struct Pipe {
  FileDescriptor read;
  FileDescriptor write;
};

std::expected<Pipe, int> make_pipe() {
  std::array<int, 2> ends{};
  if (::pipe2(ends.data(), O_CLOEXEC) != 0) return std::unexpected(errno);
  return Pipe{FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

// posix_spawn's file actions and attributes, released on every path.
class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawnattr_init(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }
  posix_spawn_file_actions_t* actions() { return &actions_; }
  posix_spawnattr_t* attributes() { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
};

ProcessFailure failure(ProcessFailure::Kind kind, int error) {
  return ProcessFailure{kind, std::strerror(error)};
}

using Clock = std::chrono::steady_clock;

int milliseconds_until(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

std::uint32_t exit_code_of(int status) {
  if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
  // As a shell reports a signal.
  return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
}

}  // namespace

bool SpawnedVendorTools::exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::expected<ProcessExit, ProcessFailure> SpawnedVendorTools::run(
    const std::string& path, const std::vector<std::string>& arguments,
    std::chrono::milliseconds time_limit) {
  const auto deadline = Clock::now() + time_limit;
  auto out = make_pipe();
  if (!out) return std::unexpected(failure(ProcessFailure::Kind::NotStarted, out.error()));
  auto err = make_pipe();
  if (!err) return std::unexpected(failure(ProcessFailure::Kind::NotStarted, err.error()));

  SpawnSetup setup;
  ::posix_spawn_file_actions_addopen(setup.actions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(setup.actions(), out->write.get(), STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(setup.actions(), err->write.get(), STDERR_FILENO);
  // A group of its own, so that ending it at the time limit also ends
  // whatever it started and no grandchild keeps the pipes open.
  ::posix_spawnattr_setpgroup(setup.attributes(), 0);
  ::posix_spawnattr_setflags(setup.attributes(), POSIX_SPAWN_SETPGROUP);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, path.c_str(), setup.actions(), setup.attributes(),
                                    argv.data(), environ);
  if (spawned != 0) return std::unexpected(failure(ProcessFailure::Kind::NotStarted, spawned));
  out->write.reset();
  err->write.reset();

  ProcessExit result;
  std::array<FileDescriptor*, 2> streams{&out->read, &err->read};
  std::array<std::string*, 2> sinks{&result.standard_output, &result.standard_error};
  int status = 0;
  bool ended = false;
  while (!ended) {
    const int wait = milliseconds_until(deadline);
    if (wait == 0) {
      ::kill(-child, SIGKILL);
      ::waitpid(child, &status, 0);
      return std::unexpected(ProcessFailure{ProcessFailure::Kind::TimedOut, {}});
    }
    std::array<pollfd, 2> polled{};
    nfds_t count = 0;
    std::array<std::size_t, 2> which{};
    for (std::size_t i = 0; i < streams.size(); ++i) {
      if (!streams[i]->valid()) continue;
      polled[count] = pollfd{streams[i]->get(), POLLIN, 0};
      which[count++] = i;
    }
    if (count == 0) {
      // Both streams are closed: the tool is ending, or went on without them.
      const pid_t reaped = ::waitpid(child, &status, WNOHANG);
      if (reaped == child) {
        ended = true;
      } else if (reaped < 0 && errno != EINTR) {
        return std::unexpected(failure(ProcessFailure::Kind::Lost, errno));
      } else {
        ::poll(nullptr, 0, wait < 1 ? wait : 1);
      }
      continue;
    }
    if (::poll(polled.data(), count, wait) < 0 && errno != EINTR) {
      const int error = errno;
      ::kill(-child, SIGKILL);
      ::waitpid(child, &status, 0);
      return std::unexpected(failure(ProcessFailure::Kind::Lost, error));
    }
    for (nfds_t k = 0; k < count; ++k) {
      if (polled[k].revents == 0) continue;
      std::array<char, 4096> chunk{};
      const ssize_t got = ::read(polled[k].fd, chunk.data(), chunk.size());
      if (got > 0) {
        // Drained to the end, kept up to the bound the product keeps.
        std::string& sink = *sinks[which[k]];
        const std::size_t room = MAX_CAPTURED_OUTPUT - std::min(sink.size(), MAX_CAPTURED_OUTPUT);
        sink.append(chunk.data(), std::min(room, static_cast<std::size_t>(got)));
      } else if (got == 0 || errno != EINTR) {
        streams[which[k]]->reset();
      }
    }
  }
  result.exit_code = exit_code_of(status);
  return result;
}

}  // namespace nivalto::backlight_engine
