#include "nivalto/hal/script_directory.h"

namespace nivalto {

std::expected<std::string, std::string> script_directory(TempFolderQuery& query,
                                                         SystemFolderGuard& guard) {
  if (auto protected_folder = query.protected_temp_folder()) return std::move(*protected_folder);
  if (!guard.runs_as_local_system()) return query.temp_folder();

  auto folder = guard.prepare_system_folder();
  if (!folder) return std::unexpected(folder.error());
  if (folder->link) {
    return std::unexpected("dossier " + folder->path + " refusé : c'est un lien");
  }
  if (!changeable_only_by_system(folder->security)) {
    return std::unexpected("dossier " + folder->path +
                           " refusé : il appartient à un autre compte que LocalSystem et les "
                           "Administrateurs, ou un autre compte peut le modifier");
  }
  return std::move(folder->path);
}

}  // namespace nivalto
