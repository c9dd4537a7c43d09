#pragma once

#include <cstdint>
#include <string_view>

#include "cli/console.h"
#include "cli/dispatch.h"
#include "cli/service/install_folder.h"
#include "cli/service/service_manager.h"

namespace nivalto {

inline constexpr std::string_view SERVICE_DISPLAY_NAME = "Nivalto HAL (accès matériel privilégié)";

// The registration of the service, in the platform's numbers.
inline constexpr std::uint32_t MANAGER_CREATE_SERVICE = 0x2;   // SC_MANAGER_CREATE_SERVICE
inline constexpr std::uint32_t SERVICE_FULL_ACCESS = 0xF01FF;  // SERVICE_ALL_ACCESS
inline constexpr std::uint32_t OWN_PROCESS_SERVICE = 0x10;     // SERVICE_WIN32_OWN_PROCESS
inline constexpr std::uint32_t AUTOMATIC_START = 2;            // SERVICE_AUTO_START
inline constexpr std::uint32_t NORMAL_ERROR_CONTROL = 1;       // SERVICE_ERROR_NORMAL
inline constexpr Win32Code SERVICE_ALREADY_EXISTS = 1073;      // ERROR_SERVICE_EXISTS

// `nivalto service install` and `uninstall`, against this platform's service manager.
[[nodiscard]] CommandResult install_service(Console& console);
[[nodiscard]] CommandResult uninstall_service(Console& console);

// The same against any service manager. Both print their confirmation on
// standard output and return the error texts without the "erreur : " prefix.
// Neither elevates: without administrator rights the manager refuses to open.
// Before registering, install warns on standard error about an install folder
// a non-administrator can change, and registers all the same.
[[nodiscard]] CommandResult install_service(Console& console, ServiceManager& manager,
                                            InstallFolderFacts& folders);
[[nodiscard]] CommandResult uninstall_service(Console& console, ServiceManager& manager);

}  // namespace nivalto
