#pragma once

#include "cli/service/install_folder.h"

namespace nivalto {

// The folder's security from GetNamedSecurityInfoW; the account from this
// process's token (its user SID, CheckTokenMembership on Administrators).
class WindowsInstallFolderFacts final : public InstallFolderFacts {
 public:
  [[nodiscard]] std::optional<FolderSecurity> folder_security(const std::string& folder) override;
  [[nodiscard]] InstallingAccount installing_account() override;
};

}  // namespace nivalto
