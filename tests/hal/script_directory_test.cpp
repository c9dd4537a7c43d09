#include "nivalto/hal/script_directory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nivalto {
namespace {

using enum AccessEntry::Type;

// Records each query; answers as set.
class FakeTempFolderQuery final : public TempFolderQuery {
 public:
  explicit FakeTempFolderQuery(std::vector<std::string>& log) : calls(log) {}
  std::optional<std::expected<std::string, std::string>> protected_temp_folder() override {
    calls.push_back("protected temp folder");
    return protected_folder;
  }
  std::expected<std::string, std::string> temp_folder() override {
    calls.push_back("temp folder");
    return folder;
  }
  std::optional<std::expected<std::string, std::string>>
      protected_folder;  // absent: no GetTempPath2W
  std::expected<std::string, std::string> folder = std::string("C:\\Windows\\Temp\\");
  std::vector<std::string>& calls;
};

class FakeSystemFolderGuard final : public SystemFolderGuard {
 public:
  explicit FakeSystemFolderGuard(std::vector<std::string>& log) : calls(log) {}
  bool runs_as_local_system() override {
    calls.push_back("local system?");
    return local_system;
  }
  std::expected<SystemFolder, std::string> prepare_system_folder() override {
    calls.push_back("prepare system folder");
    return folder;
  }
  bool local_system = true;
  // As the service makes it: owned by Administrators (LocalSystem's default
  // owner), the two entries, inherited by what it will hold.
  std::expected<SystemFolder, std::string> folder = SystemFolder{
      "C:\\Windows\\SystemTemp\\",
      {"S-1-5-32-544", std::vector<AccessEntry>{{Allow, 0x1F01FF, 0x03, "S-1-5-18"},
                                                {Allow, 0x1F01FF, 0x03, "S-1-5-32-544"}}},
      false};
  std::vector<std::string>& calls;
};

class ScriptDirectoryTest : public ::testing::Test {
 protected:
  std::expected<std::string, std::string> directory() { return script_directory(query, guard); }
  std::vector<std::string> calls;
  FakeTempFolderQuery query{calls};
  FakeSystemFolderGuard guard{calls};
};

TEST_F(ScriptDirectoryTest, ProtectedTemporaryFolderIsTakenWhereTheSystemHasIt) {
  query.protected_folder = std::string("C:\\Windows\\SystemTemp\\");
  EXPECT_EQ(directory(), "C:\\Windows\\SystemTemp\\");
  EXPECT_EQ(calls, std::vector<std::string>{"protected temp folder"});
  query.protected_folder = std::unexpected(std::string("Accès refusé."));
  EXPECT_EQ(directory().error(), "Accès refusé.");
}

TEST_F(ScriptDirectoryTest, OrdinaryAccountKeepsItsOwnTemporaryFolder) {
  guard.local_system = false;
  query.folder = std::string("C:\\Users\\léa\\AppData\\Local\\Temp\\");
  EXPECT_EQ(directory(), "C:\\Users\\léa\\AppData\\Local\\Temp\\");
  EXPECT_EQ(calls,
            (std::vector<std::string>{"protected temp folder", "local system?", "temp folder"}));
}

TEST_F(ScriptDirectoryTest, LocalSystemWithoutTheProtectedQueryUsesTheSystemFolder) {
  EXPECT_EQ(directory(), "C:\\Windows\\SystemTemp\\");
  // Never C:\Windows\Temp, where every user may create files.
  EXPECT_EQ(calls, (std::vector<std::string>{"protected temp folder", "local system?",
                                             "prepare system folder"}));
  guard.folder->security.owner = "S-1-5-18";
  EXPECT_EQ(directory(), "C:\\Windows\\SystemTemp\\");
}

TEST_F(ScriptDirectoryTest, SystemFolderMadeOrOpenedBySomeoneElseIsRefused) {
  const std::string refused =
      "dossier C:\\Windows\\SystemTemp\\ refusé : il appartient à un autre compte que "
      "LocalSystem et les Administrateurs, ou un autre compte peut le modifier";
  const FolderSecurity made = guard.folder->security;

  guard.folder->security.owner = "S-1-5-21-1-2-3-1001";
  EXPECT_EQ(directory().error(), refused);

  guard.folder->security = made;
  guard.folder->security.entries->push_back({Allow, 0x0002, 0, "S-1-5-32-545"});
  EXPECT_EQ(directory().error(), refused);

  guard.folder->security = made;
  guard.folder->security.entries.reset();  // no list: open to all
  EXPECT_EQ(directory().error(), refused);

  guard.folder->security = made;
  guard.folder->link = true;
  EXPECT_EQ(directory().error(), "dossier C:\\Windows\\SystemTemp\\ refusé : c'est un lien");

  guard.folder = std::unexpected(std::string("Accès refusé."));
  EXPECT_EQ(directory().error(), "Accès refusé.");
}

}  // namespace
}  // namespace nivalto
