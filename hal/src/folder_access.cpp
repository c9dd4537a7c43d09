#include "nivalto/hal/folder_access.h"

#include <algorithm>

namespace nivalto {
namespace {

constexpr std::uint32_t GENERIC_ALL_RIGHT = 0x10000000;
constexpr std::uint32_t GENERIC_EXECUTE_RIGHT = 0x20000000;
constexpr std::uint32_t GENERIC_WRITE_RIGHT = 0x40000000;
constexpr std::uint32_t GENERIC_READ_RIGHT = 0x80000000;
constexpr std::uint32_t FILE_ALL_RIGHTS = 0x001F01FF;
constexpr std::uint32_t FILE_GENERIC_WRITE_RIGHTS = 0x00120116;
constexpr std::uint32_t FILE_GENERIC_READ_RIGHTS = 0x00120089;
constexpr std::uint32_t FILE_GENERIC_EXECUTE_RIGHTS = 0x001200A0;

bool is_system_or_administrators(std::string_view sid) {
  return sid == LOCAL_SYSTEM_SID || sid == ADMINISTRATORS_SID;
}

}  // namespace

std::uint32_t folder_rights(std::uint32_t mask) {
  std::uint32_t rights = mask & ~(GENERIC_ALL_RIGHT | GENERIC_EXECUTE_RIGHT | GENERIC_WRITE_RIGHT |
                                  GENERIC_READ_RIGHT);
  if (mask & GENERIC_ALL_RIGHT) rights |= FILE_ALL_RIGHTS;
  if (mask & GENERIC_WRITE_RIGHT) rights |= FILE_GENERIC_WRITE_RIGHTS;
  if (mask & GENERIC_READ_RIGHT) rights |= FILE_GENERIC_READ_RIGHTS;
  if (mask & GENERIC_EXECUTE_RIGHT) rights |= FILE_GENERIC_EXECUTE_RIGHTS;
  return rights;
}

bool changeable_by(const FolderSecurity& folder, std::span<const std::string> trustees) {
  const auto holds = [&](std::string_view sid) {
    return std::find(trustees.begin(), trustees.end(), sid) != trustees.end();
  };
  if (holds(folder.owner)) return true;
  if (!folder.entries) return true;
  std::uint32_t granted = 0;
  std::uint32_t denied = 0;
  for (const AccessEntry& entry : *folder.entries) {
    if ((entry.flags & INHERIT_ONLY_FLAG) != 0 || !holds(entry.trustee)) continue;
    const std::uint32_t rights = folder_rights(entry.mask);
    // A right is settled by the first entry that speaks of it.
    if (entry.type == AccessEntry::Type::Deny) {
      denied |= rights & ~granted;
    } else {
      granted |= rights & ~denied;
    }
  }
  return (granted & FOLDER_CHANGE_RIGHTS) != 0;
}

bool changeable_only_by_system(const FolderSecurity& folder) {
  if (!is_system_or_administrators(folder.owner) || !folder.entries) return false;
  return std::none_of(folder.entries->begin(), folder.entries->end(), [](const AccessEntry& e) {
    return e.type == AccessEntry::Type::Allow && !is_system_or_administrators(e.trustee) &&
           (folder_rights(e.mask) & FOLDER_CHANGE_RIGHTS) != 0;
  });
}

}  // namespace nivalto
