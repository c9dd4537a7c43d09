#include "cli/default_profiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace nivalto {
namespace {

class FakeFolders final : public ProfilesFolderFacts {
 public:
  FakeFolders(std::set<std::string> folders, std::optional<std::string> executable)
      : folders_(std::move(folders)), executable_(std::move(executable)) {}
  bool is_directory(const std::string& path) override { return folders_.contains(path); }
  std::optional<std::string> executable_path() override { return executable_; }

 private:
  std::set<std::string> folders_;
  std::optional<std::string> executable_;
};

TEST(DefaultProfilesDir, CurrentFolderFirstThenBesideTheProgramElseProfiles) {
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  const std::string beside = std::string("/opt/nivalto") + separator + "profiles";
  struct Case {
    const char* what;
    std::set<std::string> folders;
    std::optional<std::string> executable;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"both: the current folder's", {"profiles", beside}, "/opt/nivalto/nivalto", "profiles"},
      {"only beside the program", {beside}, "/opt/nivalto/nivalto", beside},
      {"neither: named as before", {}, "/opt/nivalto/nivalto", "profiles"},
      {"beside a program elsewhere", {beside}, "/usr/bin/nivalto", "profiles"},
      {"the program's path unknown", {beside}, std::nullopt, "profiles"},
      {"a program path without a folder", {beside}, "nivalto", "profiles"},
  };
  for (const Case& c : cases) {
    FakeFolders facts(c.folders, c.executable);
    EXPECT_EQ(default_profiles_dir(facts), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace nivalto
