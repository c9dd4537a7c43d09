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

std::uint32_t handle_control(std::uint32_t control, StopSignal& stop, EventSetter& setter) {
  switch (control) {
    case CONTROL_STOP:
      stop.request_stop(setter);
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
