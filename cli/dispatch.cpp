#include "cli/dispatch.h"

#include "cli/command_line.h"

namespace nivalto {
namespace {

void usage_to(Console& stream_owner, bool to_error, std::string_view lead) {
  std::string text(lead);
  text += USAGE_TEXT;
  text += '\n';
  if (to_error) {
    stream_owner.err(text);
  } else {
    stream_owner.out(text);
  }
}

int finish(const CommandResult& result, Console& console) {
  if (result) return EXIT_OK;
  console.err("erreur : " + result.error() + "\n");
  return EXIT_ERROR;
}

}  // namespace

int dispatch(const std::vector<std::string>& arguments, Commands& commands, Console& console) {
  if (arguments.empty()) {
    usage_to(console, false, "");
    return EXIT_USAGE;
  }

  const std::string& first = arguments.front();
  if (first == "--service") return commands.run_service_dispatcher(console);
  if (first == "-h" || first == "--help") {
    usage_to(console, false, "");
    return EXIT_OK;
  }

  if (first == "service") {
    // No option parsing for `service`: later arguments are ignored.
    if (arguments.size() < 2) {
      usage_to(console, true,
               "erreur : sous-action manquante pour service : install ou uninstall\n\n");
      return EXIT_USAGE;
    }
    const std::string& action = arguments[1];
    if (action == "install") return finish(commands.install_service(console), console);
    if (action == "uninstall") return finish(commands.uninstall_service(console), console);
    usage_to(console, true, "commande service inconnue (install ou uninstall)\n\n");
    return EXIT_USAGE;
  }

  if (first == "keyboard") {
    // No option parsing for `keyboard`: its one argument is the level.
    const auto level = parse_keyboard_arguments(arguments);
    if (!level) {
      usage_to(console, true, "erreur : " + level.error() + "\n\n");
      return EXIT_USAGE;
    }
    return finish(commands.run_keyboard(*level, console), console);
  }

  const auto line = parse_command_line(arguments);
  if (!line) {
    usage_to(console, true, "erreur : " + line.error() + "\n\n");
    return EXIT_USAGE;
  }
  if (line->command == "detect") {
    return finish(commands.run_detect(line->profiles_dir, line->out, line->smbios, console),
                  console);
  }
  if (line->command == "profiles") {
    return finish(commands.run_profiles(line->profiles_dir, line->out, console), console);
  }
  usage_to(console, true, "commande inconnue : " + line->command + "\n\n");
  return EXIT_USAGE;
}

}  // namespace nivalto
