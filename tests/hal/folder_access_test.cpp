#include "nivalto/hal/folder_access.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nivalto {
namespace {

using enum AccessEntry::Type;

const std::string USER = "S-1-5-21-1-2-3-1001";
const std::string OTHER_USER = "S-1-5-21-1-2-3-1002";
const std::string TRUSTED_INSTALLER =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// A standard user at the keyboard: the four groups and their own account.
const std::vector<std::string> STANDARD_USER = {"S-1-1-0", "S-1-5-32-545", "S-1-5-11", "S-1-5-4",
                                                USER};

FolderSecurity folder(std::vector<AccessEntry> entries, std::string owner = TRUSTED_INSTALLER) {
  return FolderSecurity{std::move(owner), std::move(entries)};
}

const AccessEntry SYSTEM_ALL{Allow, 0x1F01FF, 0, "S-1-5-18"};
const AccessEntry ADMINISTRATORS_ALL{Allow, 0x1F01FF, 0, "S-1-5-32-544"};
const AccessEntry USERS_READ{Allow, 0x1200A9, 0, "S-1-5-32-545"};

TEST(FolderChangeableBy, TypicalAndTrickyAccessLists) {
  const struct {
    const char* what;
    FolderSecurity security;
    bool changeable;
  } cases[] = {
      {"Program Files", folder({SYSTEM_ALL, ADMINISTRATORS_ALL, USERS_READ}), false},
      {"C:\\ root: Authenticated Users may add subfolders",
       folder({SYSTEM_ALL,
               ADMINISTRATORS_ALL,
               USERS_READ,
               {Allow, 0x0004, 0, "S-1-5-11"},
               {Allow, 0xE0010000, 0x0B, "S-1-5-11"}}),
       true},
      {"Everyone full control", folder({{Allow, 0x1F01FF, 0, "S-1-1-0"}}), true},
      {"no list at all", FolderSecurity{TRUSTED_INSTALLER, std::nullopt}, true},
      {"an empty list", folder({}), false},
      {"owned by the user", folder({SYSTEM_ALL}, USER), true},
      {"owned by another user", folder({SYSTEM_ALL}, OTHER_USER), false},
      {"GENERIC_WRITE for Users", folder({{Allow, 0x40000000, 0, "S-1-5-32-545"}}), true},
      {"GENERIC_ALL for INTERACTIVE", folder({{Allow, 0x10000000, 0, "S-1-5-4"}}), true},
      {"GENERIC_READ and EXECUTE only", folder({{Allow, 0xA0000000, 0, "S-1-5-32-545"}}), false},
      {"write for the user's own account", folder({{Allow, 0x0002, 0, USER}}), true},
      {"write for another account only", folder({{Allow, 0x1F01FF, 0, OTHER_USER}}), false},
      {"change permissions only", folder({{Allow, 0x00040000, 0, "S-1-1-0"}}), true},
      {"take ownership only", folder({{Allow, 0x00080000, 0, "S-1-1-0"}}), true},
      {"delete child only", folder({{Allow, 0x0040, 0, "S-1-1-0"}}), true},
      {"write attributes and extended attributes only", folder({{Allow, 0x0110, 0, "S-1-1-0"}}),
       false},
      {"full control inherit-only (CREATOR OWNER style)",
       folder({{Allow, 0x1F01FF, 0x0B, "S-1-5-32-545"}}), false},
      {"inherited (not inherit-only) write", folder({{Allow, 0x0002, 0x13, "S-1-5-11"}}), true},
      {"deny first takes the right away",
       folder({{Deny, 0x000C0046, 0, "S-1-1-0"}, {Allow, 0x1F01FF, 0, "S-1-5-32-545"}}), false},
      {"deny after the allow comes too late",
       folder({{Allow, 0x1F01FF, 0, "S-1-5-32-545"}, {Deny, 0x1F01FF, 0, "S-1-1-0"}}), true},
      {"deny of some change rights leaves the others",
       folder({{Deny, 0x0002, 0, "S-1-1-0"}, {Allow, 0x0006, 0, "S-1-5-32-545"}}), true},
      {"generic deny first", folder({{Deny, 0x10000000, 0, USER}, {Allow, 0x0002, 0, USER}}),
       false},
      {"inherit-only deny does not protect",
       folder({{Deny, 0x1F01FF, 0x0B, "S-1-1-0"}, {Allow, 0x0002, 0, "S-1-1-0"}}), true},
      {"deny for another group does not apply",
       folder({{Deny, 0x1F01FF, 0, "S-1-5-32-544"}, {Allow, 0x0002, 0, "S-1-1-0"}}), true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(changeable_by(c.security, STANDARD_USER), c.changeable) << c.what;
  }
}

TEST(FolderRights, GenericRightsBecomeFileRights) {
  EXPECT_EQ(folder_rights(0x10000000), 0x1F01FFU);
  EXPECT_EQ(folder_rights(0x40000000), 0x120116U);
  EXPECT_EQ(folder_rights(0x80000000), 0x120089U);
  EXPECT_EQ(folder_rights(0x20000000), 0x1200A0U);
  EXPECT_EQ(folder_rights(0x40000001), 0x120117U);
}

TEST(FolderChangeableOnlyBySystem, OwnerAndEveryEntryCount) {
  const struct {
    const char* what;
    FolderSecurity security;
    bool only_system;
  } cases[] = {
      {"made by the service", folder({SYSTEM_ALL, ADMINISTRATORS_ALL}, "S-1-5-32-544"), true},
      {"owned by LocalSystem, others may read",
       folder({SYSTEM_ALL, ADMINISTRATORS_ALL, USERS_READ}, "S-1-5-18"), true},
      {"made by a user first", folder({SYSTEM_ALL, ADMINISTRATORS_ALL}, USER), false},
      {"Users may add files", folder({SYSTEM_ALL, {Allow, 0x0002, 0, "S-1-5-32-545"}}, "S-1-5-18"),
       false},
      {"inherit-only grant to a user",
       folder({SYSTEM_ALL, {Allow, 0x1F01FF, 0x0B, USER}}, "S-1-5-18"), false},
      {"no list at all", FolderSecurity{"S-1-5-18", std::nullopt}, false},
      {"a deny for others is no loosening",
       folder({{Deny, 0x1F01FF, 0, "S-1-1-0"}, SYSTEM_ALL}, "S-1-5-18"), true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(changeable_only_by_system(c.security), c.only_system) << c.what;
  }
}

}  // namespace
}  // namespace nivalto
