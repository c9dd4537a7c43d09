#include "cli/default_profiles.h"
#include "cli/detect.h"
#include "cli/dispatch.h"
#include "cli/keyboard.h"
#include "cli/listing.h"
#include "cli/service/registration.h"
#include "cli/service/service_host.h"

namespace nivalto {
namespace {

// A typed `--profiles` always wins, and a bad one fails as typed.
std::string chosen(const std::optional<std::string>& profiles_dir) {
  return profiles_dir ? *profiles_dir : default_profiles_dir(platform_profiles_folder_facts());
}

class ProductCommands final : public Commands {
 public:
  int run_service_dispatcher(Console& console) override {
    return nivalto::run_service_dispatcher(console);
  }
  CommandResult install_service(Console& console) override {
    return nivalto::install_service(console);
  }
  CommandResult uninstall_service(Console& console) override {
    return nivalto::uninstall_service(console);
  }
  CommandResult run_detect(const std::optional<std::string>& profiles_dir,
                           const std::optional<std::string>& out,
                           const std::optional<std::string>& smbios, Console& console) override {
    return nivalto::run_detect(chosen(profiles_dir), out, smbios, console);
  }
  CommandResult run_profiles(const std::optional<std::string>& profiles_dir,
                             const std::optional<std::string>& out, Console& console) override {
    return nivalto::run_profiles(chosen(profiles_dir), out, console);
  }
  CommandResult run_keyboard(std::optional<std::uint8_t> level, Console& console) override {
    return nivalto::run_keyboard(level, console);
  }
};

}  // namespace

Commands& product_commands() {
  static ProductCommands commands;
  return commands;
}

}  // namespace nivalto
