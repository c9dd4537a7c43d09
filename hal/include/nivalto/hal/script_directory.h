#pragma once

#include <expected>
#include <optional>
#include <string>

#include "nivalto/hal/folder_access.h"

namespace nivalto {

// The platform's temporary-folder queries. Folders end with a separator;
// failures are the platform's description.
class TempFolderQuery {
 public:
  virtual ~TempFolderQuery() = default;
  // GetTempPath2W; absent when the system lacks it (before Windows 10 21H2).
  // For LocalSystem it names a folder only LocalSystem and Administrators
  // can change.
  [[nodiscard]] virtual std::optional<std::expected<std::string, std::string>>
  protected_temp_folder() = 0;
  // GetTempPathW: for LocalSystem C:\Windows\Temp, where every user may
  // create files.
  [[nodiscard]] virtual std::expected<std::string, std::string> temp_folder() = 0;
};

// The folder LocalSystem falls back to, as found (or made) on this system.
struct SystemFolder {
  std::string path;  // ends with a separator
  FolderSecurity security;
  bool link = false;  // a reparse point: it may lead anywhere
};

// Who this process runs as, and the fallback folder.
class SystemFolderGuard {
 public:
  virtual ~SystemFolderGuard() = default;
  [[nodiscard]] virtual bool runs_as_local_system() = 0;
  // Creates the folder with a list granting LocalSystem and Administrators
  // all and nobody else anything when it does not exist, then reads back its
  // owner and list.
  [[nodiscard]] virtual std::expected<SystemFolder, std::string> prepare_system_folder() = 0;
};

// The folder the backlight script is written to: GetTempPath2W's where the
// system has it; else, for an ordinary account, its own temporary folder;
// else (LocalSystem on an older system) the system folder, refused when a
// link, or owned or changeable by anyone but LocalSystem and Administrators,
// since a folder of that name may have been made by someone else first.
[[nodiscard]] std::expected<std::string, std::string> script_directory(TempFolderQuery& query,
                                                                       SystemFolderGuard& guard);

}  // namespace nivalto
