#include "cli/service/service_host.h"

#include <string>

#include "cli/dispatch.h"

namespace nivalto {

int run_service_dispatcher(Console& console, ServiceDispatcher& dispatcher) {
  // The dispatcher returns only once the service has stopped, which always
  // counts as a normal end: the stopped status carries exit code 0 whatever
  // ended the service.
  const auto ran = dispatcher.run();
  if (ran) return EXIT_OK;
  console.err("erreur : démarrage par le Gestionnaire de services refusé (code " +
              std::to_string(ran.error()) + ")\n");
  return EXIT_ERROR;
}

std::uint32_t handle_control(std::uint32_t control, std::uint32_t event_type, StopSignal& signal,
                             EventSetter& setter, std::chrono::milliseconds sleep_answer_limit) {
  switch (control) {
    case CONTROL_STOP:
      signal.request_stop(setter);
      return CONTROL_HANDLED;
    case CONTROL_PRESHUTDOWN:
      // The read before the stop, so that the thread finds it pending once
      // the stop ends its loop; the manager waits for the stopped report.
      signal.request_work(PowerWork::ReadAtShutdown, setter);
      signal.request_stop(setter);
      return CONTROL_HANDLED;
    case CONTROL_POWER_EVENT:
      if (event_type == POWER_RESUME_AUTOMATIC) {
        signal.request_work(PowerWork::GiveBack, setter);
      } else if (event_type == POWER_SUSPEND) {
        // Answering at once would let the machine sleep before the read.
        (void)signal.wait_for_work(signal.request_work(PowerWork::ReadAtSleep, setter),
                                   sleep_answer_limit);
      }
      // Every power event is answered with success: an error to a query
      // would refuse the machine its sleep.
      return CONTROL_HANDLED;
    case CONTROL_INTERROGATE:
      // The manager asks for the current status, which it already holds from
      // the last report; this must not stop the service.
      return CONTROL_HANDLED;
    default:
      return CONTROL_NOT_IMPLEMENTED;
  }
}

}  // namespace nivalto
