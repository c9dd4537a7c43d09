// The ThinkPad power-management driver: one state word read with the
// get-state control code, one argument sent with the set-state code.
#include <algorithm>
#include <array>
#include <cstdio>

#include "nivalto/hal/backlight_engine/backends.h"
#include "nivalto/hal/backlight_engine/guards.h"
#include "nivalto/hal/text.h"

namespace nivalto::backlight_engine {
namespace {

constexpr std::u16string_view DEVICE_PATH = u"\\\\.\\IBMPmDrv";
constexpr std::uint32_t GET_STATE_CODE = 0x222680;
constexpr std::uint32_t SET_STATE_CODE = 0x222684;
constexpr int READY_MARKER = 5;
constexpr std::int32_t SET_STATE_FLAG = 0x100;
constexpr std::int32_t FLAG_21 = 1 << 21;

constexpr std::uint32_t GENERIC_READ_ACCESS = 0x80000000;
constexpr std::uint32_t SHARE_READ = 1;
constexpr std::uint32_t OPEN_EXISTING_DISPOSITION = 3;

struct State {
  int level = 0;
  int highest = 0;
  bool ready = false;
  std::int32_t word = 0;
};

State decode(std::int32_t word) {
  return State{word & 0xF, (word >> 8) & 0xF, ((word >> 16) & 0xF) == READY_MARKER, word};
}

int max_level(const State& state) { return std::clamp(state.highest, 1, 2); }
int current_level(const State& state, int maximum) { return std::clamp(state.level, 0, maximum); }

// Bits 4 to 7 travel back unchanged, so that the driver keeps whatever it
// stores there.
std::int32_t set_argument(std::int32_t word, int level) {
  const std::int32_t argument = (word & FLAG_21) != 0 ? SET_STATE_FLAG : 0;
  return argument | (word & 0xF0) | level;
}

// Error codes print as the script's signed 32-bit integers do.
std::string signed_text(std::uint32_t value) {
  return std::to_string(static_cast<std::int32_t>(value));
}

std::string not_ready_message(std::int32_t word) {
  std::array<char, 16> hex{};
  std::snprintf(hex.data(), hex.size(), "%X", static_cast<unsigned>(word));
  return "retroeclairage non pret (0x" + std::string(hex.data()) + ")";
}

// One control call on a freshly opened driver handle, closed on every path;
// the failure is the script's message for it.
std::expected<std::int32_t, std::string> call(DeviceFiles& files, std::uint32_t code,
                                              std::int32_t input) {
  auto opened =
      files.open(DEVICE_PATH, GENERIC_READ_ACCESS, SHARE_READ, OPEN_EXISTING_DISPOSITION, 0);
  if (!opened)
    return std::unexpected("IBMPmDrv absent (erreur " + signed_text(opened.error()) + ")");
  const DeviceHandle device(files, *opened);
  const auto in_word = static_cast<std::uint32_t>(input);
  const std::array<std::uint8_t, 4> in = {
      static_cast<std::uint8_t>(in_word), static_cast<std::uint8_t>(in_word >> 8),
      static_cast<std::uint8_t>(in_word >> 16), static_cast<std::uint8_t>(in_word >> 24)};
  std::array<std::uint8_t, 4> out{};
  const auto returned = files.control(device.get(), code, in, out);
  if (!returned) {
    return std::unexpected("DeviceIoControl " + std::to_string(code) + " (erreur " +
                           signed_text(returned.error()) + ")");
  }
  // Bytes the driver did not return keep the zeros they started with, as
  // they would in a buffer the driver left alone.
  for (std::size_t i = std::min<std::size_t>(*returned, out.size()); i < out.size(); ++i)
    out[i] = 0;
  return static_cast<std::int32_t>(out[0] | (out[1] << 8) | (out[2] << 16) |
                                   (static_cast<std::uint32_t>(out[3]) << 24));
}

std::expected<State, std::string> read_state(DeviceFiles& files) {
  const auto word = call(files, GET_STATE_CODE, 0);
  if (!word) return std::unexpected(word.error());
  return decode(*word);
}

std::expected<void, std::string> write_level(DeviceFiles& files, int level) {
  const auto state = read_state(files);
  if (!state) return std::unexpected(state.error());
  if (!state->ready) return std::unexpected(not_ready_message(state->word));
  const auto set = call(files, SET_STATE_CODE, set_argument(state->word, level));
  if (!set) return std::unexpected(set.error());
  return {};
}

}  // namespace

BackendStep try_thinkpad(const BacklightRequest& request, DeviceFiles& files,
                         BacklightResult& result) {
  // A missing driver, a failing first read or a backlight not ready: the
  // script notes why in its diagnostics and goes on.
  const auto state = read_state(files);
  if (!state || !state->ready) return BackendStep::PassedOver;

  const int maximum = max_level(*state);
  result.available = true;
  result.known = true;
  result.max_level = maximum;
  result.level = current_level(*state, maximum);
  result.source = "thinkpad-pm";
  if (!request.write) return BackendStep::Answered;

  if (!level_in_range(request.level, maximum)) {
    result.add_error("niveau hors limites");
    return BackendStep::Answered;
  }
  if (const auto written = write_level(files, request.level); !written) {
    result.known = false;
    result.add_error(written.error());
    return BackendStep::Answered;
  }
  result.applied = true;
  const auto after = read_state(files);
  if (!after) {
    result.known = false;
    result.add_error(after.error());
    return BackendStep::Answered;
  }
  result.level = current_level(*after, maximum);
  result.verified = result.level == request.level;
  if (!result.verified) result.add_error("lecture de confirmation differente");
  return BackendStep::Answered;
}

}  // namespace nivalto::backlight_engine
