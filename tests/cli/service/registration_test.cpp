#include "cli/service/registration.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/recording_console.h"

namespace nivalto {
namespace {

using Log = std::vector<std::string>;

// Hands out numbered handles, logs each call and keeps the set of handles
// still open, so that a test can prove each path closes all it opened.
class FakeServiceManager final : public ServiceManager {
 public:
  std::expected<ScHandleValue, Win32Code> open_manager(std::uint32_t access) override {
    log.push_back("open manager " + std::to_string(access));
    if (manager_error) return std::unexpected(*manager_error);
    return issue("manager");
  }
  std::expected<std::string, std::string> executable_path() override {
    log.push_back("executable path");
    return path;
  }
  std::expected<ScHandleValue, Win32Code> create_service(
      ScHandleValue manager, const ServiceRegistration& registration) override {
    log.push_back("create service with " + name_of(manager));
    created = registration;
    if (create_error) return std::unexpected(*create_error);
    return issue("service");
  }
  std::expected<ScHandleValue, Win32Code> open_service(ScHandleValue manager, std::string_view name,
                                                       std::uint32_t access) override {
    log.push_back("open service " + std::string(name) + " " + std::to_string(access) + " with " +
                  name_of(manager));
    if (open_error) return std::unexpected(*open_error);
    return issue("service");
  }
  std::expected<void, Win32Code> delete_service(ScHandleValue service) override {
    log.push_back("delete " + name_of(service));
    if (delete_error) return std::unexpected(*delete_error);
    return {};
  }
  void close(ScHandleValue handle) override {
    log.push_back("close " + name_of(handle));
    EXPECT_EQ(open.erase(handle), 1U) << "closed twice or never opened";
  }

  std::optional<Win32Code> manager_error;
  std::optional<Win32Code> create_error;
  std::optional<Win32Code> open_error;
  std::optional<Win32Code> delete_error;
  std::expected<std::string, std::string> path = R"(C:\Program Files\Nivalto\nivalto.exe)";
  std::optional<ServiceRegistration> created;
  Log log;
  std::set<ScHandleValue> open;

 private:
  ScHandleValue issue(const std::string& kind) {
    const auto handle = reinterpret_cast<ScHandleValue>(static_cast<std::uintptr_t>(++issued_));
    names_.push_back(kind);
    open.insert(handle);
    return handle;
  }
  std::string name_of(ScHandleValue handle) const {
    const auto index = reinterpret_cast<std::uintptr_t>(handle);
    return index >= 1 && index <= names_.size() ? names_[index - 1] : "unknown";
  }
  std::uintptr_t issued_ = 0;
  std::vector<std::string> names_;
};

// Folder securities by path; a folder not listed does not exist.
class FakeFolderFacts final : public InstallFolderFacts {
 public:
  std::optional<FolderSecurity> folder_security(const std::string& folder) override {
    asked.push_back(folder);
    const auto found = folders.find(folder);
    if (found == folders.end()) return std::nullopt;
    return found->second;
  }
  InstallingAccount installing_account() override { return account; }

  std::map<std::string, FolderSecurity> folders;
  InstallingAccount account{"S-1-5-21-1-2-3-500", true};
  std::vector<std::string> asked;
};

const std::string INSTALL_FOLDER = R"(C:\Program Files\Nivalto)";
const std::string FRAMEWORK_FOLDER = R"(C:\Program Files\Nivalto\framework)";

// Program Files as shipped: SYSTEM, Administrators and TrustedInstaller may
// change it, Users only read, CREATOR OWNER only on what it creates.
FolderSecurity program_files() {
  using enum AccessEntry::Type;
  return FolderSecurity{"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                        std::vector<AccessEntry>{{Allow, 0x1F01FF, 0, "S-1-5-18"},
                                                 {Allow, 0x1F01FF, 0, "S-1-5-32-544"},
                                                 {Allow, 0x1200A9, 0, "S-1-5-32-545"},
                                                 {Allow, 0x10000000, 0x0B, "S-1-3-0"}}};
}

std::string warning_for(const std::string& folder) {
  return "attention : le dossier " + folder +
         " peut être modifié par des comptes non administrateurs, qui pourraient y faire "
         "exécuter leurs programmes en tant que LocalSystem ; installez nivalto.exe dans un "
         "dossier que seuls les administrateurs peuvent modifier, par exemple sous "
         "C:\\Program Files\n";
}

class RegistrationTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(manager.open.empty()) << "a handle was left open"; }
  FakeServiceManager manager;
  FakeFolderFacts folders;
  testing::RecordingConsole console;
};

TEST_F(RegistrationTest, InstallFolderOnlyAdministratorsChangeGivesNoWarning) {
  folders.folders[INSTALL_FOLDER] = program_files();
  folders.folders[FRAMEWORK_FOLDER] = program_files();
  ASSERT_TRUE(install_service(console, manager, folders));
  EXPECT_EQ(console.err_text, "");
  EXPECT_EQ(folders.asked, (std::vector<std::string>{INSTALL_FOLDER, FRAMEWORK_FOLDER}));
}

TEST_F(RegistrationTest, InstallFolderUsersCanChangeIsWarnedAboutAndStillInstalled) {
  FolderSecurity open = program_files();
  open.entries->push_back({AccessEntry::Type::Allow, 0x0002, 0, "S-1-5-11"});
  folders.folders[FRAMEWORK_FOLDER] = open;
  folders.folders[INSTALL_FOLDER] = program_files();
  ASSERT_TRUE(install_service(console, manager, folders));
  EXPECT_EQ(console.err_text, warning_for(FRAMEWORK_FOLDER));
  // Message and registration as always.
  EXPECT_EQ(console.out_text,
            "service NivaltoHal installé et démarré au prochain reboot\n"
            "démarrez-le avec : sc start NivaltoHal\n");
  ASSERT_TRUE(manager.created);

  // Both folders open, and an already installed service: two warnings, the
  // usual answer.
  console = {};
  folders.folders[INSTALL_FOLDER] = open;
  manager.create_error = 1073;
  ASSERT_TRUE(install_service(console, manager, folders));
  EXPECT_EQ(console.err_text, warning_for(INSTALL_FOLDER) + warning_for(FRAMEWORK_FOLDER));
  EXPECT_EQ(console.out_text, "le service NivaltoHal est déjà installé\n");
}

TEST_F(RegistrationTest, InstallingAccountCountsOnlyWhenItIsNoAdministrator) {
  FolderSecurity own = program_files();
  own.entries->push_back({AccessEntry::Type::Allow, 0x1F01FF, 0, "S-1-5-21-1-2-3-1001"});
  folders.folders[INSTALL_FOLDER] = own;
  folders.account = {"S-1-5-21-1-2-3-1001", true};
  ASSERT_TRUE(install_service(console, manager, folders));
  EXPECT_EQ(console.err_text, "");
  folders.account.administrator = false;
  manager.create_error = 1073;
  ASSERT_TRUE(install_service(console, manager, folders));
  EXPECT_EQ(console.err_text, warning_for(INSTALL_FOLDER));
}

TEST_F(RegistrationTest, InstallRegistersTheQuotedExecutableToStartAutomatically) {
  ASSERT_TRUE(install_service(console, manager, folders));
  EXPECT_EQ(console.out_text,
            "service NivaltoHal installé et démarré au prochain reboot\n"
            "démarrez-le avec : sc start NivaltoHal\n");
  EXPECT_EQ(console.err_text, "");
  // The manager handle goes right after the creation, before the service's.
  EXPECT_EQ(manager.log, (Log{"open manager 2", "executable path", "create service with manager",
                              "close manager", "close service"}));
  ASSERT_TRUE(manager.created);
  const ServiceRegistration& r = *manager.created;
  EXPECT_EQ(r.name, "NivaltoHal");
  EXPECT_EQ(r.display_name, "Nivalto HAL (accès matériel privilégié)");
  EXPECT_EQ(r.desired_access, 0xF01FFU);
  EXPECT_EQ(r.service_type, 0x10U);
  EXPECT_EQ(r.start_type, 2U);
  EXPECT_EQ(r.error_control, 1U);
  // Blanks in the path stay inside the quotes: one file, one argument.
  EXPECT_EQ(r.command_line, R"("C:\Program Files\Nivalto\nivalto.exe" --service)");
}

TEST_F(RegistrationTest, InstallOverAnExistingServiceLeavesItAndSucceeds) {
  manager.create_error = 1073;
  ASSERT_TRUE(install_service(console, manager, folders));
  EXPECT_EQ(console.out_text, "le service NivaltoHal est déjà installé\n");
  EXPECT_EQ(manager.log.back(), "close manager");
}

TEST_F(RegistrationTest, InstallRefusedByTheManagerGivesTheCode) {
  manager.create_error = 5;
  EXPECT_EQ(install_service(console, manager, folders).error(),
            "création du service refusée (code 5)");
  EXPECT_EQ(console.out_text, "");
}

TEST_F(RegistrationTest, WithoutAdministratorRightsNothingIsOpened) {
  manager.manager_error = 5;
  const std::string expected =
      "gestionnaire de services inaccessible (code 5) : invite administrateur requise";
  EXPECT_EQ(install_service(console, manager, folders).error(), expected);
  EXPECT_EQ(uninstall_service(console, manager).error(), expected);
  EXPECT_EQ(manager.log, (Log{"open manager 2", "open manager 2"}));
  EXPECT_EQ(console.out_text, "");
}

TEST_F(RegistrationTest, InstallWithoutTheExecutablePathClosesTheManager) {
  manager.path = std::unexpected(std::string("Le fichier spécifié est introuvable."));
  EXPECT_EQ(install_service(console, manager, folders).error(),
            "chemin de l'exécutable introuvable : Le fichier spécifié est introuvable.");
  EXPECT_EQ(manager.log, (Log{"open manager 2", "executable path", "close manager"}));
}

TEST_F(RegistrationTest, UninstallDeletesThenClosesBothHandles) {
  ASSERT_TRUE(uninstall_service(console, manager));
  EXPECT_EQ(console.out_text, "service NivaltoHal désinstallé\n");
  EXPECT_EQ(manager.log, (Log{"open manager 2", "open service NivaltoHal 983551 with manager",
                              "delete service", "close service", "close manager"}));
}

TEST_F(RegistrationTest, UninstallOfAMissingServiceSucceeds) {
  for (const Win32Code code : {1060U, 5U}) {  // not registered, access refused
    FakeServiceManager manager;
    manager.open_error = code;
    testing::RecordingConsole console;
    ASSERT_TRUE(uninstall_service(console, manager));
    EXPECT_EQ(console.out_text, "le service NivaltoHal n'est pas installé\n");
    EXPECT_EQ(manager.log.back(), "close manager");
    EXPECT_TRUE(manager.open.empty());
  }
}

TEST_F(RegistrationTest, UninstallRefusedGivesTheCodeAndClosesBothHandles) {
  manager.delete_error = 1072;  // already marked for deletion
  EXPECT_EQ(uninstall_service(console, manager).error(),
            "suppression du service refusée (code 1072)");
  EXPECT_EQ(console.out_text, "");
  EXPECT_EQ(manager.log.back(), "close manager");
}

}  // namespace
}  // namespace nivalto
