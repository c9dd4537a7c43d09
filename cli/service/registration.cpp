#include "cli/service/registration.h"

#include <string>
#include <utility>

#include "cli/service/service_name.h"

namespace nivalto {
namespace {

// Owns one service-manager handle and gives it back to the manager exactly
// once, so that every return path closes what it opened.
class ScHandle {
 public:
  ScHandle(ServiceManager& manager, ScHandleValue value) : manager_(&manager), value_(value) {}
  ScHandle(ScHandle&& other) noexcept
      : manager_(other.manager_), value_(std::exchange(other.value_, nullptr)) {}
  ScHandle& operator=(ScHandle&&) = delete;
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  ~ScHandle() { reset(); }

  [[nodiscard]] ScHandleValue get() const { return value_; }
  void reset() {
    if (value_ != nullptr) manager_->close(std::exchange(value_, nullptr));
  }

 private:
  ServiceManager* manager_;
  ScHandleValue value_;
};

std::string service_name() { return std::string(SERVICE_NAME); }

std::string manager_refused(Win32Code code) {
  return "gestionnaire de services inaccessible (code " + std::to_string(code) +
         ") : invite administrateur requise";
}

}  // namespace

CommandResult install_service(Console& console, ServiceManager& manager,
                              InstallFolderFacts& folders) {
  const auto opened = manager.open_manager(MANAGER_CREATE_SERVICE);
  if (!opened) return std::unexpected(manager_refused(opened.error()));
  ScHandle scm(manager, *opened);

  const auto exe = manager.executable_path();
  if (!exe) return std::unexpected("chemin de l'exécutable introuvable : " + exe.error());
  if (const std::string warnings = install_folder_warnings(*exe, folders); !warnings.empty()) {
    console.err(warnings);
  }

  // Quoted, so that a path with blanks still names one file and the service
  // gets the single argument --service.
  const ServiceRegistration registration{
      .name = service_name(),
      .display_name = std::string(SERVICE_DISPLAY_NAME),
      .desired_access = SERVICE_FULL_ACCESS,
      .service_type = OWN_PROCESS_SERVICE,
      .start_type = AUTOMATIC_START,
      .error_control = NORMAL_ERROR_CONTROL,
      .command_line = "\"" + *exe + "\" --service",
  };
  const auto created = manager.create_service(scm.get(), registration);
  scm.reset();

  if (created) {
    ScHandle{manager, *created}.reset();
    console.out("service " + service_name() + " installé et démarré au prochain reboot\n");
    console.out("démarrez-le avec : sc start " + service_name() + "\n");
    return {};
  }
  if (created.error() == SERVICE_ALREADY_EXISTS) {
    // The existing registration is left as it is, even if it names another path.
    console.out("le service " + service_name() + " est déjà installé\n");
    return {};
  }
  return std::unexpected("création du service refusée (code " + std::to_string(created.error()) +
                         ")");
}

CommandResult uninstall_service(Console& console, ServiceManager& manager) {
  const auto opened = manager.open_manager(MANAGER_CREATE_SERVICE);
  if (!opened) return std::unexpected(manager_refused(opened.error()));
  ScHandle scm(manager, *opened);

  const auto found = manager.open_service(scm.get(), SERVICE_NAME, SERVICE_FULL_ACCESS);
  if (!found) {
    // Whatever the reason (not registered, access refused), there is nothing
    // this user can remove.
    scm.reset();
    console.out("le service " + service_name() + " n'est pas installé\n");
    return {};
  }
  ScHandle service(manager, *found);

  // A running service is not stopped first: the manager removes it once it stops.
  const auto deleted = manager.delete_service(service.get());
  service.reset();
  scm.reset();
  if (!deleted) {
    return std::unexpected("suppression du service refusée (code " +
                           std::to_string(deleted.error()) + ")");
  }
  console.out("service " + service_name() + " désinstallé\n");
  return {};
}

}  // namespace nivalto
