#pragma once

#include <cstdint>
#include <expected>

#include "cli/console.h"
#include "cli/service/stop_signal.h"

namespace nivalto {

// `nivalto --service`: hands the process to the service control dispatcher and
// returns the exit status (0 after a normal stop, 1 when refused).
[[nodiscard]] int run_service_dispatcher(Console& console);

// StartServiceCtrlDispatcherW with the one entry {SERVICE_NAME, service_main}:
// blocks until the service has stopped. Fails with the platform's code, for
// instance 1063 (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) when the program
// was started from a console rather than by the service manager.
class ServiceDispatcher {
 public:
  virtual ~ServiceDispatcher() = default;
  [[nodiscard]] virtual std::expected<void, std::uint32_t> run() = 0;
};

[[nodiscard]] int run_service_dispatcher(Console& console, ServiceDispatcher& dispatcher);

// The control codes the service manager can send this service. Only stop is
// accepted; interrogate reaches every service whatever it accepts.
inline constexpr std::uint32_t CONTROL_STOP = 1;               // SERVICE_CONTROL_STOP
inline constexpr std::uint32_t CONTROL_INTERROGATE = 4;        // SERVICE_CONTROL_INTERROGATE
inline constexpr std::uint32_t CONTROL_HANDLED = 0;            // NO_ERROR
inline constexpr std::uint32_t CONTROL_NOT_IMPLEMENTED = 120;  // ERROR_CALL_NOT_IMPLEMENTED

// The body of the control handler, which runs on the dispatcher's thread:
// a stop sets the flag and signals the stop event; it never reports a status.
[[nodiscard]] std::uint32_t handle_control(std::uint32_t control, StopSignal& stop,
                                           EventSetter& setter);

}  // namespace nivalto
