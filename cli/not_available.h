#pragma once

#include <string>

namespace nivalto {

// What a command that this build does not carry yet answers.
inline std::string command_not_available() {
  return "commande non disponible dans cette version";
}

}  // namespace nivalto
