#include "cli/service/service_body.h"

namespace nivalto {

void run_service_body(ServiceStatusReporter& status, PipeServerFactory& factory, StopSignal& stop,
                      RequestHandler& handler) {
  if (!status.register_control_handler()) return;

  // The service manager waits for these before it lets `net start` return;
  // nothing below takes long enough to need a checkpoint.
  status.report(ServiceState::StartPending);
  status.report(ServiceState::Running);

  std::unique_ptr<ServiceEvents> events = factory.create_events();
  std::unique_ptr<ServerPipe> pipe;
  if (events) {
    // Published before the pipe exists, so a stop that arrives once a client
    // could be waited for always reaches the wait.
    stop.publish(events->stop_event());
    pipe = factory.create_pipe(*events);
    if (pipe) run_connection_loop(*pipe, stop, handler);
  }

  // Shutdown, in this order: no handler call may still signal the stop event
  // once it is closed.
  stop.withdraw();
  pipe.reset();
  events.reset();
  status.report(ServiceState::Stopped);
}

}  // namespace nivalto
