#include "cli/keyboard.h"

#include <nlohmann/json.hpp>

#include "cli/document.h"

namespace nivalto {

std::expected<std::string, std::string> keyboard_document(const KeyboardState& state) {
  nlohmann::ordered_json document;
  document["known"] = state.known;
  document["source"] = source_text(state.source);
  document["level"] = static_cast<unsigned>(state.level);
  document["max_level"] = static_cast<unsigned>(state.max_level);
  return serialise_document(document);
}

CommandResult run_keyboard(std::optional<std::uint8_t> level, const BacklightPlatform& platform,
                           Console& console) {
  BacklightPlatform user = platform;
  user.caller = BacklightCaller::User;
  const auto state = level ? write_keyboard_backlight(*level, user) : read_keyboard_backlight(user);
  if (!state) return std::unexpected(state.error().display());
  const auto document = keyboard_document(*state);
  if (!document) return std::unexpected(document.error());
  return emit_document(*document, std::nullopt, console);
}

}  // namespace nivalto
