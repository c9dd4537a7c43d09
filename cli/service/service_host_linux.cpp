#include "cli/dispatch.h"
#include "cli/service/service_host.h"
#include "cli/service/windows_only.h"

namespace nivalto {

int run_service_dispatcher(Console& console) {
  console.err("erreur : " + service_needs_windows() + "\n");
  return EXIT_ERROR;
}

}  // namespace nivalto
