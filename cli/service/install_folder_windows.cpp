#include "cli/service/install_folder_windows.h"

#include <windows.h>

#include <vector>

#include "nivalto/hal/folder_security_windows.h"
#include "nivalto/hal/private_security_windows.h"
#include "nivalto/hal/win32_text_windows.h"

namespace nivalto {

std::optional<FolderSecurity> WindowsInstallFolderFacts::folder_security(
    const std::string& folder) {
  auto security = read_folder_security(win32::to_wide(folder));
  if (!security) return std::nullopt;
  return std::move(*security);
}

InstallingAccount WindowsInstallFolderFacts::installing_account() {
  InstallingAccount account;
  const auto user = current_token_user();
  if (!user) return account;
  account.sid = sid_text(reinterpret_cast<const TOKEN_USER*>(user->data())->User.Sid);

  DWORD sid_size = SECURITY_MAX_SID_SIZE;
  std::vector<std::byte> administrators(sid_size);
  BOOL member = FALSE;
  if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators.data(), &sid_size) &&
      CheckTokenMembership(nullptr, administrators.data(), &member)) {
    account.administrator = member != FALSE;
  }
  return account;
}

}  // namespace nivalto
