// Any bytes as a pipe request: the answer must always be one compact JSON
// object with the seven members in order, valid UTF-8, and the backlight must
// be asked at most once, never for a level above the highest.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/service/protocol.h"
#include "nivalto/hal/text.h"

namespace {

// Answers with a state or an error chosen by the request's length, so that
// both kinds of answer are reached.
class CheckingBacklight final : public nivalto::KeyboardBacklight {
 public:
  explicit CheckingBacklight(std::size_t seed) : seed_(seed) {}

  nivalto::HalResult<nivalto::KeyboardState> read() override { return answer(); }
  nivalto::HalResult<nivalto::KeyboardState> write(std::uint8_t level) override {
    if (level > nivalto::MAX_BACKLIGHT_LEVEL) __builtin_trap();
    return answer();
  }
  int calls = 0;

 private:
  nivalto::HalResult<nivalto::KeyboardState> answer() {
    if (++calls > 1) __builtin_trap();
    if (seed_ % 3 == 0) {
      return std::unexpected(nivalto::HalError::unavailable("écho \"\\\n\x01"));
    }
    return nivalto::KeyboardState{.known = seed_ % 2 == 0,
                                  .source = static_cast<nivalto::BacklightSource>(seed_ % 4),
                                  .level = 1,
                                  .max_level = 2};
  }
  std::size_t seed_;
};

constexpr const char* MEMBERS[] = {"applied",   "available", "known", "level",
                                   "max_level", "reason",    "source"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view request(reinterpret_cast<const char*>(data), size);
  CheckingBacklight backlight(size);
  const std::string answer = nivalto::handle_request(request, backlight);

  if (!nivalto::is_valid_utf8(answer)) __builtin_trap();
  if (answer.find('\n') != std::string::npos) __builtin_trap();
  const auto parsed = nlohmann::json::parse(answer, nullptr, false);
  if (!parsed.is_object() || parsed.size() != 7) __builtin_trap();
  std::size_t at = 0;
  for (const char* member : MEMBERS) {
    // Compact and in order: each name follows the previous one's value.
    const std::string key = std::string("\"") + member + "\":";
    const auto found = answer.find(key, at);
    if (found == std::string::npos) __builtin_trap();
    at = found + key.size();
  }
  const bool ok = parsed["applied"].get<bool>();
  if (ok != parsed["available"].get<bool>()) __builtin_trap();
  if (ok != (backlight.calls == 1 && parsed["reason"] == "")) __builtin_trap();
  if (!nivalto::is_valid_utf8(request) && parsed["reason"] != "requête non UTF-8") __builtin_trap();
  return 0;
}
