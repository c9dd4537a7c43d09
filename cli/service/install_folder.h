#pragma once

#include <optional>
#include <string>

#include "nivalto/hal/folder_access.h"

namespace nivalto {

// The account running `service install`.
struct InstallingAccount {
  std::string sid;
  bool administrator = false;  // a member of Administrators in this token
};

// What the install looks at before registering: the security of the folders
// the service will run programs from, and who installs.
class InstallFolderFacts {
 public:
  virtual ~InstallFolderFacts() = default;
  // The owner and access list of `folder`; absent when the folder does not
  // exist or its security cannot be read.
  [[nodiscard]] virtual std::optional<FolderSecurity> folder_security(
      const std::string& folder) = 0;
  [[nodiscard]] virtual InstallingAccount installing_account() = 0;
};

// The warning lines (each ending in a line feed; empty when all is well) for
// the folder holding `executable` and its "framework" subfolder when a
// non-administrator can change them: the service, running as LocalSystem,
// runs nivalto.exe and the Framework tools from there.
[[nodiscard]] std::string install_folder_warnings(const std::string& executable,
                                                  InstallFolderFacts& facts);

}  // namespace nivalto
