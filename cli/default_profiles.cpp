#include "cli/default_profiles.h"

#include <filesystem>
#include <system_error>

#include "cli/command_line.h"
#include "cli/profiles/profile_files.h"
#include "nivalto/hal/executable_path.h"

namespace nivalto {
namespace {

class SystemProfilesFolderFacts final : public ProfilesFolderFacts {
 public:
  bool is_directory(const std::string& path) override {
    std::error_code error;
    return std::filesystem::is_directory(path_from_utf8(path), error);
  }
  std::optional<std::string> executable_path() override { return running_executable_path(); }
};

}  // namespace

std::string default_profiles_dir(ProfilesFolderFacts& facts) {
  const std::string here(DEFAULT_PROFILES_DIR);
  if (facts.is_directory(here)) return here;
  if (const auto executable = facts.executable_path()) {
    const std::filesystem::path folder = path_from_utf8(*executable).parent_path();
    if (!folder.empty()) {
      const std::string beside = path_to_utf8(folder / path_from_utf8(here));
      if (facts.is_directory(beside)) return beside;
    }
  }
  return here;
}

ProfilesFolderFacts& platform_profiles_folder_facts() {
  static SystemProfilesFolderFacts facts;
  return facts;
}

}  // namespace nivalto
