#pragma once

#include <optional>
#include <string>

namespace nivalto {

// What the choice of the profile folder looks at when `--profiles` is not
// typed.
class ProfilesFolderFacts {
 public:
  virtual ~ProfilesFolderFacts() = default;
  // `path` is UTF-8; relative to the current folder unless absolute.
  [[nodiscard]] virtual bool is_directory(const std::string& path) = 0;
  [[nodiscard]] virtual std::optional<std::string> executable_path() = 0;
};

// "profiles" in the current folder when that folder exists, as a console
// opened in an unpacked archive expects; else the "profiles" folder beside
// the running executable, where the installer puts it, so that `nivalto
// detect` works from any folder; else "profiles", whose load then fails
// naming it, as before.
[[nodiscard]] std::string default_profiles_dir(ProfilesFolderFacts& facts);

// The file system and the running executable of this process.
[[nodiscard]] ProfilesFolderFacts& platform_profiles_folder_facts();

}  // namespace nivalto
