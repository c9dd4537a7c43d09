#pragma once

#include <chrono>
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

// The control codes the service manager can send this service: stop, the
// power events and the shutdown's preshutdown are accepted; interrogate
// reaches every service whatever it accepts.
inline constexpr std::uint32_t CONTROL_STOP = 1;               // SERVICE_CONTROL_STOP
inline constexpr std::uint32_t CONTROL_INTERROGATE = 4;        // SERVICE_CONTROL_INTERROGATE
inline constexpr std::uint32_t CONTROL_POWER_EVENT = 0xD;      // SERVICE_CONTROL_POWEREVENT
inline constexpr std::uint32_t CONTROL_PRESHUTDOWN = 0xF;      // SERVICE_CONTROL_PRESHUTDOWN
inline constexpr std::uint32_t CONTROL_HANDLED = 0;            // NO_ERROR
inline constexpr std::uint32_t CONTROL_NOT_IMPLEMENTED = 120;  // ERROR_CALL_NOT_IMPLEMENTED

// The power events the service acts on (the event type of CONTROL_POWER_EVENT).
inline constexpr std::uint32_t POWER_SUSPEND = 0x4;            // PBT_APMSUSPEND
inline constexpr std::uint32_t POWER_RESUME_AUTOMATIC = 0x12;  // PBT_APMRESUMEAUTOMATIC

// Windows gives a program about two seconds to answer PBT_APMSUSPEND before
// the machine sleeps. The handler holds its answer until the service thread
// has read the level, this long at most; the read itself is bounded alike.
inline constexpr std::chrono::milliseconds SLEEP_ANSWER_LIMIT{1800};

// The body of the control handler, which runs on the dispatcher's thread.
// It only signals the service thread, which does the work: a stop sets the
// flag and signals the stop event; a resume asks for the kept level to be
// given back; a suspend asks for the level to be read and waits for that, at
// most `sleep_answer_limit`; a preshutdown asks for the level to be read,
// then for the stop. It never reports a status.
[[nodiscard]] std::uint32_t handle_control(
    std::uint32_t control, std::uint32_t event_type, StopSignal& signal, EventSetter& setter,
    std::chrono::milliseconds sleep_answer_limit = SLEEP_ANSWER_LIMIT);

}  // namespace nivalto
