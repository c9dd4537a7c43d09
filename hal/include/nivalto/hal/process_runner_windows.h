#pragma once

#include "nivalto/hal/backlight_access.h"

namespace nivalto {

// CreateProcessW with CREATE_NO_WINDOW; `program` is a full path, given as
// the application name too, so the system's program search never chooses
// which file runs. Standard input is the NUL device; standard output and standard
// error are read together on this thread until both end, so that a child
// filling one stream cannot stall on it while we wait on the other. The
// child and everything it starts run in a job that is ended when the time
// limit passes, and whatever the child leaves behind is ended with it.
class WindowsProcessRunner final : public ProcessRunner {
 public:
  [[nodiscard]] std::expected<ProcessExit, ProcessFailure> run(
      std::string_view program, const std::vector<std::string>& arguments,
      std::chrono::milliseconds time_limit) override;
};

}  // namespace nivalto
