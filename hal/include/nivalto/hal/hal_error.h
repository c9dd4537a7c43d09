#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace nivalto {

// The three classes of hardware failure. Nothing branches on the kind; it only
// selects the prefix shown to the user.
enum class HalErrorKind : std::uint8_t { Unavailable = 0, AccessDenied = 1, InvalidData = 2 };

// The error of every hardware access: a kind and a French detail text that
// never carries the kind's prefix itself.
struct HalError {
  HalErrorKind kind;
  std::string message;

  [[nodiscard]] static HalError unavailable(std::string message);
  [[nodiscard]] static HalError access_denied(std::string message);
  [[nodiscard]] static HalError invalid_data(std::string message);

  // The prefix of the kind followed directly by the message, e.g.
  // "accès refusé : lecture de la table RSMB refusée".
  [[nodiscard]] std::string display() const;
  void display_to(std::string& sink) const;

  friend bool operator==(const HalError&, const HalError&) = default;
};

template <typename T>
using HalResult = std::expected<T, HalError>;

}  // namespace nivalto
