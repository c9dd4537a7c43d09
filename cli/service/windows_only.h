#pragma once

#include <string>

#include "cli/service/service_name.h"

namespace nivalto {

// What the service commands answer on a system without a service manager.
inline std::string service_needs_windows() {
  return "le service " + std::string(SERVICE_NAME) + " n'existe que sous Windows";
}

}  // namespace nivalto
