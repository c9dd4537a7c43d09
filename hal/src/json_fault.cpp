#include "nivalto/hal/json_fault.h"

namespace nivalto {

std::string json_fault_description(std::string_view what) {
  const auto lead = what.find("parse error");
  if (lead == std::string_view::npos) return std::string(what);
  const auto colon = what.find(": ", lead);
  if (colon == std::string_view::npos) return std::string(what);
  return std::string(what.substr(colon + 2));
}

}  // namespace nivalto
