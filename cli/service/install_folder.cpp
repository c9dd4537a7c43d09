#include "cli/service/install_folder.h"

#include <vector>

#include "nivalto/hal/backlight_access.h"

namespace nivalto {

std::string install_folder_warnings(const std::string& executable, InstallFolderFacts& facts) {
  const auto separator = executable.find_last_of("\\/");
  if (separator == std::string::npos) return {};
  const std::string folder = executable.substr(0, separator);

  // Every standard user holds these groups at once; the installing account
  // counts too when it is not an administrator.
  std::vector<std::string> trustees(std::begin(STANDARD_USER_GROUPS),
                                    std::end(STANDARD_USER_GROUPS));
  const InstallingAccount account = facts.installing_account();
  if (!account.administrator && !account.sid.empty()) trustees.push_back(account.sid);

  std::string warnings;
  for (const std::string& checked :
       {folder, folder + "\\" + std::string(FRAMEWORK_DIRECTORY_NAME)}) {
    const auto security = facts.folder_security(checked);
    if (!security || !changeable_by(*security, trustees)) continue;
    warnings += "attention : le dossier " + checked +
                " peut être modifié par des comptes non administrateurs, qui pourraient y "
                "faire exécuter leurs programmes en tant que LocalSystem ; installez "
                "nivalto.exe dans un dossier que seuls les administrateurs peuvent modifier, "
                "par exemple sous C:\\Program Files\n";
  }
  return warnings;
}

}  // namespace nivalto
