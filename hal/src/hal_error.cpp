#include "nivalto/hal/hal_error.h"

#include <utility>

namespace nivalto {

HalError HalError::unavailable(std::string message) {
  return {HalErrorKind::Unavailable, std::move(message)};
}

HalError HalError::access_denied(std::string message) {
  return {HalErrorKind::AccessDenied, std::move(message)};
}

HalError HalError::invalid_data(std::string message) {
  return {HalErrorKind::InvalidData, std::move(message)};
}

void HalError::display_to(std::string& sink) const {
  switch (kind) {
    case HalErrorKind::Unavailable:
      sink += "ressource non disponible : ";
      break;
    case HalErrorKind::AccessDenied:
      sink += "accès refusé : ";
      break;
    case HalErrorKind::InvalidData:
      sink += "données invalides : ";
      break;
  }
  sink += message;
}

std::string HalError::display() const {
  std::string text;
  display_to(text);
  return text;
}

}  // namespace nivalto
