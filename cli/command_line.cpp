#include "cli/command_line.h"

namespace nivalto {

const std::string_view USAGE_TEXT =
    "Usage :\n"
    "  nivalto detect   [--profiles DIR] [--out FICHIER]\n"
    "  nivalto profiles [--profiles DIR]\n"
    "  nivalto keyboard [0|1|2]             (Windows : rétroéclairage du clavier)\n"
    "  nivalto service  install|uninstall   (Windows : gestionnaire de services)\n"
    "  nivalto --service                    (interne : lancé par Windows)\n"
    "\n"
    "Options :\n"
    "  --profiles  dossier des profils machine TOML (défaut : ./profiles)\n"
    "  --out       écrit le rapport JSON anonymisé dans FICHIER (detect uniquement)\n"
    "  --smbios    lit la table SMBIOS d'un fichier au lieu du micrologiciel (detect uniquement)\n"
    "\n"
    "La lecture se fait toujours sur la machine locale, en lecture seule.\n"
    "\n"
    "Sortie : JSON sur stdout. Codes de sortie : 0 succès, 1 erreur, 2 usage.";

std::expected<CommandLine, std::string> parse_command_line(
    const std::vector<std::string>& arguments) {
  CommandLine line;
  if (!arguments.empty()) line.command = arguments.front();
  // Pairs are consumed before the command is judged, so an option error wins
  // over an unknown command.
  for (std::size_t i = 1; i < arguments.size(); i += 2) {
    const std::string& name = arguments[i];
    // Checked before the name: an unknown option in last place reports the
    // missing value.
    if (i + 1 >= arguments.size()) {
      return std::unexpected("valeur manquante pour " + name);
    }
    const std::string& value = arguments[i + 1];
    if (name == "--out") {
      line.out = value;
    } else if (name == "--profiles") {
      line.profiles_dir = value;
    } else if (name == "--smbios") {
      line.smbios = value;
    } else {
      return std::unexpected("option inconnue : " + name);
    }
  }
  return line;
}

std::expected<std::optional<std::uint8_t>, std::string> parse_keyboard_arguments(
    const std::vector<std::string>& arguments) {
  if (arguments.size() < 2) return std::nullopt;
  const std::string& level = arguments[1];
  // Exactly one digit: "01", "1.0" or "+1" would read as a level elsewhere,
  // and a level that was not typed as shown is not guessed at.
  if (level.size() != 1 || level[0] < '0' || level[0] > '2') {
    return std::unexpected("niveau inconnu pour keyboard : " + level + " (0, 1 ou 2)");
  }
  if (arguments.size() > 2)
    return std::unexpected("argument en trop pour keyboard : " + arguments[2]);
  return static_cast<std::uint8_t>(level[0] - '0');
}

}  // namespace nivalto
