#include "cli/service/level_store.h"

namespace nivalto {

std::optional<std::uint8_t> stored_level(LevelStore& store) {
  const std::optional<std::uint32_t> kept = store.read();
  if (!kept || *kept > MAX_BACKLIGHT_LEVEL) return std::nullopt;
  return static_cast<std::uint8_t>(*kept);
}

void LevelKeeper::give_back() {
  if (const auto level = stored_level(store_)) {
    // What the write answers is nobody's business: no client asked.
    (void)backlight_.write(*level);
  }
}

void LevelKeeper::remember() {
  // A level that only repeats the last one asked for (known false) says
  // nothing of a change made with the hotkey; the kept one is as good.
  const auto state = backlight_.read();
  if (state && state->known) (void)store_.write(state->level);
}

HalResult<KeyboardState> RememberingBacklight::write(std::uint8_t level) {
  auto state = backlight_.write(level);
  // The level the backlight reports now: a keyboard with a single step that
  // was asked for 2 is at 1, and 1 is what to give back.
  if (state) (void)store_.write(state->level);
  return state;
}

}  // namespace nivalto
