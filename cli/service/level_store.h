#pragma once

#include <cstdint>
#include <expected>
#include <optional>

#include "cli/service/protocol.h"

namespace nivalto {

// Where the service keeps the keyboard level it gives back: on Windows the
// REG_DWORD "KeyboardLevel" of the service's own Parameters key.
class LevelStore {
 public:
  virtual ~LevelStore() = default;
  // The number kept; absent when there is none, or it is not a DWORD.
  [[nodiscard]] virtual std::optional<std::uint32_t> read() = 0;
  // Keeps `level`; the platform's code when it cannot.
  [[nodiscard]] virtual std::expected<void, std::uint32_t> write(std::uint32_t level) = 0;
};

// The level to give back: the kept number when it is a level at all (0 to
// MAX_BACKLIGHT_LEVEL). Anyone able to write the value could put any number
// there; a larger one means there is nothing to give back.
[[nodiscard]] std::optional<std::uint8_t> stored_level(LevelStore& store);

// The work the service thread does for the power events and the shutdown,
// in turn with its clients.
class BacklightKeeper {
 public:
  virtual ~BacklightKeeper() = default;
  // Sets the kept level, if there is one.
  virtual void give_back() = 0;
  // Reads the level now and keeps it when the backlight could read it back.
  virtual void remember() = 0;
};

// The keeper over a store and the service's own access to the backlight.
// Every failure is silent: the service logs nothing, the kept level stays
// as it was, and the next client is served as usual.
class LevelKeeper final : public BacklightKeeper {
 public:
  LevelKeeper(LevelStore& store, KeyboardBacklight& backlight)
      : store_(store), backlight_(backlight) {}
  void give_back() override;
  void remember() override;

 private:
  LevelStore& store_;
  KeyboardBacklight& backlight_;
};

// The backlight as the clients drive it, keeping each level a client sets.
class RememberingBacklight final : public KeyboardBacklight {
 public:
  RememberingBacklight(KeyboardBacklight& backlight, LevelStore& store)
      : backlight_(backlight), store_(store) {}
  [[nodiscard]] HalResult<KeyboardState> read() override { return backlight_.read(); }
  [[nodiscard]] HalResult<KeyboardState> write(std::uint8_t level) override;

 private:
  KeyboardBacklight& backlight_;
  LevelStore& store_;
};

}  // namespace nivalto
