#include "cli/service/service_host.h"

#include "cli/dispatch.h"
#include "cli/not_available.h"

namespace nivalto {

int run_service_dispatcher(Console& console) {
  console.err("erreur : " + command_not_available() + "\n");
  return EXIT_ERROR;
}

}  // namespace nivalto
