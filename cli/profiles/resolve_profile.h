#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "cli/profiles/machine_profile.h"
#include "nivalto/hal/identity.h"

namespace nivalto {

enum class ResolutionKind : std::uint8_t { Exact, Family, DynamicProbe, Unsupported };

[[nodiscard]] constexpr std::string_view resolution_spelling(ResolutionKind kind) {
  switch (kind) {
    case ResolutionKind::Exact:
      return "exact";
    case ResolutionKind::Family:
      return "family";
    case ResolutionKind::DynamicProbe:
      return "dynamic_probe";
    case ResolutionKind::Unsupported:
      break;
  }
  return "unsupported";
}

struct Resolution {
  ResolutionKind kind = ResolutionKind::Unsupported;
  // The matching profile inside the loaded list for "exact" and "family"
  // (valid as long as the list), null otherwise.
  const MachineProfile* profile = nullptr;

  friend bool operator==(const Resolution&, const Resolution&) = default;
};

// Manufacturer fragments (lower case) whose machines are worth probing
// without a profile. Lenovo is not among them: it qualifies only for ThinkPads.
inline constexpr std::array<std::string_view, 19> DYNAMIC_PROBE_VENDORS{
    "framework", "asus",       "asustek", "hp",        "hewlett-packard", "dell",     "acer",
    "msi",       "micro-star", "razer",   "samsung",   "lg electronics",  "gigabyte", "huawei",
    "microsoft", "toshiba",    "fujitsu", "panasonic", "alienware"};

// Exact model match on the machine type first, then a family match on
// fragments of the display name, then the ThinkPad and vendor rules. Letter
// case is ignored for ASCII letters only. Reads only the identity's
// manufacturer, mtm and display_name.
[[nodiscard]] Resolution resolve_profile(std::span<const MachineProfile> profiles,
                                         const MachineIdentity& identity);

}  // namespace nivalto
