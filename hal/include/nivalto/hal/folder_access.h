#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nivalto {

// One entry of a folder's access list, as the system stores it; SIDs in
// their text form ("S-1-5-32-545").
struct AccessEntry {
  enum class Type : std::uint8_t { Allow, Deny };
  Type type = Type::Allow;
  std::uint32_t mask = 0;
  std::uint8_t flags = 0;  // the entry's inheritance flags
  std::string trustee;

  friend bool operator==(const AccessEntry&, const AccessEntry&) = default;
};

// A folder's owner and access list; no list (a null DACL) lets everyone do
// everything, an empty list lets nobody do anything.
struct FolderSecurity {
  std::string owner;
  std::optional<std::vector<AccessEntry>> entries;
};

inline constexpr std::uint8_t INHERIT_ONLY_FLAG = 0x08;  // INHERIT_ONLY_ACE

// The rights that let someone change what a folder holds or who may: add a
// file (write) or a subfolder (append), delete a child, change the list or
// the owner.
inline constexpr std::uint32_t FOLDER_CHANGE_RIGHTS =
    0x0002 | 0x0004 | 0x0040 | 0x00040000 | 0x00080000;

// The well-known SIDs the judgements below speak of.
inline constexpr std::string_view LOCAL_SYSTEM_SID = "S-1-5-18";
inline constexpr std::string_view ADMINISTRATORS_SID = "S-1-5-32-544";
// Everyone, Users, Authenticated Users, INTERACTIVE: groups every standard
// user at the keyboard belongs to, all at once.
inline constexpr std::string_view STANDARD_USER_GROUPS[] = {"S-1-1-0", "S-1-5-32-545", "S-1-5-11",
                                                            "S-1-5-4"};

// Generic rights (GENERIC_ALL, GENERIC_WRITE, ...) turned into the file
// rights they stand for on a folder.
[[nodiscard]] std::uint32_t folder_rights(std::uint32_t mask);

// Whether someone who holds every SID of `trustees` at once may change the
// folder: its owner is one of them (an owner may always rewrite the list), or
// the list, read in order the way the system checks access, grants one of
// FOLDER_CHANGE_RIGHTS before a deny entry takes it away. Inherit-only
// entries do not apply to the folder itself and are skipped.
[[nodiscard]] bool changeable_by(const FolderSecurity& folder,
                                 std::span<const std::string> trustees);

// Whether only LocalSystem and Administrators own and may change the folder:
// an owner among them, and no entry (inherit-only ones included, since new
// files would receive them) granting anyone else a change right.
[[nodiscard]] bool changeable_only_by_system(const FolderSecurity& folder);

}  // namespace nivalto
