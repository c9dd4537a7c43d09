#include "cli/profiles/resolve_profile.h"

#include <algorithm>
#include <string>

#include "nivalto/hal/text.h"

namespace nivalto {
namespace {

constexpr std::string_view LENOVO = "lenovo";
constexpr std::string_view THINKPAD = "thinkpad";

bool contains(std::string_view haystack, std::string_view needle) {
  return haystack.find(needle) != std::string_view::npos;
}

const MachineProfile* exact_match(std::span<const MachineProfile> profiles, std::string_view mtm) {
  const std::string folded = ascii_fold(mtm);
  for (const MachineProfile& profile : profiles) {
    if (profile.scope != ProfileScope::Model) continue;
    for (const std::string& candidate : profile.matches.mtm) {
      // Folding keeps lengths, so equal folded texts also have equal lengths.
      if (ascii_fold(candidate) == folded) return &profile;
    }
  }
  return nullptr;
}

const MachineProfile* family_match(std::span<const MachineProfile> profiles,
                                   std::string_view display_name) {
  const std::string folded = ascii_fold(display_name);
  for (const MachineProfile& profile : profiles) {
    if (profile.scope != ProfileScope::Family) continue;
    for (const std::string& fragment : profile.matches.version_contains) {
      if (contains(folded, ascii_fold(fragment))) return &profile;
    }
  }
  return nullptr;
}

}  // namespace

Resolution resolve_profile(std::span<const MachineProfile> profiles,
                           const MachineIdentity& identity) {
  if (identity.mtm) {
    if (const MachineProfile* profile = exact_match(profiles, *identity.mtm)) {
      return {ResolutionKind::Exact, profile};
    }
  }
  if (identity.display_name) {
    if (const MachineProfile* profile = family_match(profiles, *identity.display_name)) {
      return {ResolutionKind::Family, profile};
    }
  }
  if (identity.manufacturer) {
    const std::string manufacturer = ascii_fold(*identity.manufacturer);
    if (manufacturer == LENOVO && identity.display_name &&
        contains(ascii_fold(*identity.display_name), THINKPAD)) {
      return {ResolutionKind::DynamicProbe, nullptr};
    }
    if (std::ranges::any_of(DYNAMIC_PROBE_VENDORS, [&](std::string_view vendor) {
          return contains(manufacturer, vendor);
        })) {
      return {ResolutionKind::DynamicProbe, nullptr};
    }
  }
  return {ResolutionKind::Unsupported, nullptr};
}

}  // namespace nivalto
