#include "cli/service/level_store.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/cli/service/recording_backlight.h"

namespace nivalto {
namespace {

using testing::RecordingBacklight;
using Calls = std::vector<std::string>;

// Holds one number and records every write.
class FakeStore final : public LevelStore {
 public:
  std::optional<std::uint32_t> read() override { return kept; }
  std::expected<void, std::uint32_t> write(std::uint32_t level) override {
    written.push_back(level);
    if (!writes) return std::unexpected(5U);
    kept = level;
    return {};
  }
  std::optional<std::uint32_t> kept;
  std::vector<std::uint32_t> written;
  bool writes = true;
};

const HalResult<KeyboardState> NO_BACKLIGHT =
    std::unexpected(HalError::unavailable("aucune interface"));

TEST(LevelKeeperTest, GivesBackOnlyALevelAndNeverFails) {
  // Absent (no value, or not a REG_DWORD), or any number above 2: nothing.
  // A write that fails leaves the kept number as it was.
  const std::vector<std::pair<std::optional<std::uint32_t>, Calls>> cases = {
      {std::nullopt, {}}, {0U, {"write 0"}}, {1U, {"write 1"}}, {2U, {"write 2"}},
      {3U, {}},           {7U, {}},          {0xFFFFFFFFU, {}},
  };
  for (const auto& answer : {HalResult<KeyboardState>(KeyboardState{}), NO_BACKLIGHT}) {
    for (const auto& [kept, expected] : cases) {
      FakeStore store;
      RecordingBacklight backlight;
      store.kept = kept;
      backlight.result = answer;
      LevelKeeper(store, backlight).give_back();
      EXPECT_EQ(backlight.calls, expected) << kept.value_or(999);
      EXPECT_TRUE(store.written.empty());
    }
  }
}

TEST(LevelKeeperTest, KeepsWhatTheBacklightReadsBackOnly) {
  using Kept = std::vector<std::uint32_t>;
  const std::vector<std::pair<HalResult<KeyboardState>, Kept>> cases = {
      {KeyboardState{true, BacklightSource::ThinkpadPm, 0, 2}, {0}},
      {KeyboardState{true, BacklightSource::Hid, 2, 2}, {2}},
      // Not read back: the level only repeats the last one asked for.
      {KeyboardState{false, BacklightSource::LenovoWmi, 0, 2}, {}},
      {NO_BACKLIGHT, {}},
  };
  for (const auto& [answer, kept] : cases) {
    FakeStore store;
    RecordingBacklight backlight;
    backlight.result = answer;
    LevelKeeper(store, backlight).remember();
    EXPECT_EQ(backlight.calls, Calls{"read"});
    EXPECT_EQ(store.written, kept);
  }
}

TEST(RememberingBacklightTest, KeepsTheLevelOfEachWriteThatSucceeded) {
  FakeStore store;
  RecordingBacklight backlight;
  RememberingBacklight remembering(backlight, store);

  // A single-step keyboard asked for 2 is at 1: 1 is what to give back.
  backlight.result = KeyboardState{true, BacklightSource::Hid, 1, 1};
  EXPECT_EQ(remembering.write(2), backlight.result);
  // A store that cannot be written changes nothing of the answer.
  store.writes = false;
  EXPECT_EQ(remembering.write(2), backlight.result);
  backlight.result = NO_BACKLIGHT;
  EXPECT_EQ(remembering.write(0), NO_BACKLIGHT);
  (void)remembering.read();
  EXPECT_EQ(backlight.calls, (Calls{"write 2", "write 2", "write 0", "read"}));
  EXPECT_EQ(store.written, (std::vector<std::uint32_t>{1, 1}));
  EXPECT_EQ(store.kept, 1U);
}

}  // namespace
}  // namespace nivalto
