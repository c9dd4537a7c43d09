#pragma once

#include <memory>

#include "cli/service/service_body.h"

namespace nivalto {

// The events and the single instance of \\.\pipe\NivaltoHal, over Win32
// overlapped I/O.
class WindowsPipeServerFactory final : public PipeServerFactory {
 public:
  [[nodiscard]] std::unique_ptr<ServiceEvents> create_events() override;
  [[nodiscard]] std::unique_ptr<ServerPipe> create_pipe(const ServiceEvents& events) override;
};

}  // namespace nivalto
