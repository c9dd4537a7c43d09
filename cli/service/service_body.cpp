#include "cli/service/service_body.h"

namespace nivalto {

void run_service_body(ServiceStatusReporter& status, PipeServerFactory& factory, StopSignal& stop,
                      RequestHandler& handler, BacklightKeeper& keeper) {
  if (!status.register_control_handler()) return;

  // The service manager waits for these before it lets `net start` return;
  // nothing below takes long enough to need a checkpoint.
  status.report(ServiceState::StartPending, 0);
  status.report(ServiceState::Running, 0);

  std::unique_ptr<ServiceEvents> events = factory.create_events();
  std::unique_ptr<ServerPipe> pipe;
  std::uint32_t exit_code = 0;
  if (events) {
    // Published before the pipe exists, so a stop that arrives once a client
    // could be waited for always reaches the wait.
    stop.publish(events->stop_event(), events->work_event());
    auto created = factory.create_pipe(*events);
    if (created) {
      pipe = std::move(*created);
      // Once the pipe exists, so that a client arriving meanwhile finds the
      // service and waits for its turn instead of finding no service at all.
      // Bounded like one request; a stop meanwhile ends the run right after.
      if (!stop.stop_requested()) keeper.give_back();
      run_connection_loop(*pipe, stop, handler, keeper);
      finish_power_work(stop, keeper);
    } else {
      exit_code = created.error();
    }
  }

  // Shutdown, in this order: no handler call may still signal the stop event
  // once it is closed.
  stop.withdraw();
  pipe.reset();
  events.reset();
  status.report(ServiceState::Stopped, exit_code);
}

}  // namespace nivalto
