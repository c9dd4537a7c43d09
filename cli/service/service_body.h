#pragma once

#include <cstdint>
#include <expected>
#include <memory>

#include "cli/service/pipe_server.h"
#include "cli/service/stop_signal.h"

namespace nivalto {

// The three states the service ever reports; no stop-pending, no pause.
enum class ServiceState : std::uint8_t { StartPending, Running, Stopped };

// The service manager's side of one run: the control handler registration
// and the status reports.
class ServiceStatusReporter {
 public:
  virtual ~ServiceStatusReporter() = default;
  // RegisterServiceCtrlHandlerExW; false when no status handle came back.
  [[nodiscard]] virtual bool register_control_handler() = 0;
  // SetServiceStatus with the record of `state`. `exit_code` goes into
  // dwWin32ExitCode; it is nonzero only in the stopped report of a service
  // that could not create its pipe, so that `sc query` shows why it ended.
  virtual void report(ServiceState state, std::uint32_t exit_code) = 0;
};

// The stop, connect and work events of one run, closed (stop event first)
// when the object goes.
class ServiceEvents {
 public:
  virtual ~ServiceEvents() = default;
  [[nodiscard]] virtual EventHandle stop_event() const = 0;
  [[nodiscard]] virtual EventHandle connect_event() const = 0;
  [[nodiscard]] virtual EventHandle work_event() const = 0;
};

// Creates the kernel objects of one run.
class PipeServerFactory {
 public:
  virtual ~PipeServerFactory() = default;
  // Three unnamed manual-reset events, non-signalled; null when any fails.
  [[nodiscard]] virtual std::unique_ptr<ServiceEvents> create_events() = 0;
  // The single pipe instance, or the Win32 code of the failed creation (for
  // example when another process holds the name). The pipe is closed when it
  // goes.
  [[nodiscard]] virtual std::expected<std::unique_ptr<ServerPipe>, std::uint32_t> create_pipe(
      const ServiceEvents& events) = 0;
};

// The body of service_main: registers the control handler, reports the
// service running, gives the kept keyboard level back once the pipe exists,
// serves the pipe (and the power work) until stopped, reads the level when
// the stop came with a shutdown, and reports it stopped.
// Every failure of the set-up still ends with the stopped report, except a
// failed registration, after which nothing can be reported at all. A pipe
// that cannot be created (a pipe of that name made earlier by another process
// above all: its owner would answer our clients) ends the service with the
// creation's error code; every other end carries exit code 0.
void run_service_body(ServiceStatusReporter& status, PipeServerFactory& factory, StopSignal& stop,
                      RequestHandler& handler, BacklightKeeper& keeper);

}  // namespace nivalto
