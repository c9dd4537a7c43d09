#include "cli/service/install_folder_windows.h"
#include "cli/service/registration.h"
#include "cli/service/service_manager_windows.h"

namespace nivalto {

CommandResult install_service(Console& console) {
  Win32ServiceManager manager;
  WindowsInstallFolderFacts folders;
  return install_service(console, manager, folders);
}

CommandResult uninstall_service(Console& console) {
  Win32ServiceManager manager;
  return uninstall_service(console, manager);
}

}  // namespace nivalto
