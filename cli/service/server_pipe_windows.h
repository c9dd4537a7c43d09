#pragma once

#include <cstdint>
#include <expected>
#include <memory>

#include "cli/service/service_body.h"
#include "nivalto/hal/well_known_security_windows.h"

namespace nivalto {

// The events and the single instance of \\.\pipe\NivaltoHal, over Win32
// overlapped I/O.
class WindowsPipeServerFactory final : public PipeServerFactory {
 public:
  [[nodiscard]] std::unique_ptr<ServiceEvents> create_events() override;
  [[nodiscard]] std::expected<std::unique_ptr<ServerPipe>, std::uint32_t> create_pipe(
      const ServiceEvents& events) override;
};

// The pipe's security: LocalSystem and Administrators may do anything with
// it; INTERACTIVE (whoever sits at the keyboard, administrator or not, elevated
// or not) may read and write data and query and set its attributes (the
// client's mode change), but not FILE_APPEND_DATA, which on a pipe is the right
// to create another instance; nobody else may open it. Not inherited by child
// processes.
[[nodiscard]] std::expected<std::unique_ptr<WellKnownSecurity>, unsigned long>
service_pipe_security();

}  // namespace nivalto
