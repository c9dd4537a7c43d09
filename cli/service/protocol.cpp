#include "cli/service/protocol.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "cli/service/bounded_json.h"
#include "nivalto/hal/text.h"

namespace nivalto {
namespace {

using Json = nlohmann::json;

// The seven members in byte order of their names, which is also the order a
// JSON object of this library keeps them in.
std::string answer(bool ok, bool known, std::uint8_t level, std::uint8_t max_level,
                   std::string_view reason, std::string_view source) {
  Json object = Json::object();
  object["applied"] = ok;
  object["available"] = ok;
  object["known"] = known;
  object["level"] = level;
  object["max_level"] = max_level;
  // A reason can quote bytes of the request (a parser's last token) or of a
  // script's output; whatever is not UTF-8 becomes U+FFFD so the answer stays
  // valid JSON.
  object["reason"] = decode_utf8_lossy(reason);
  object["source"] = std::string(source);
  return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string answer_for(const HalResult<KeyboardState>& result) {
  if (result) return success_answer(*result);
  return error_answer(result.error().display());
}

}  // namespace

std::string success_answer(const KeyboardState& state) {
  return answer(true, state.known, state.level, state.max_level, "", source_text(state.source));
}

std::string error_answer(std::string_view message) {
  return answer(false, false, 0, 0, message, "");
}

std::string handle_request(std::string_view request, KeyboardBacklight& backlight) {
  if (!is_valid_utf8(request)) return error_answer("requête non UTF-8");

  auto value = parse_bounded_json(trim_white_space(request));
  if (!value) return error_answer("requête illisible : " + value.error());

  // find() on anything but an object finds nothing.
  std::string op;
  if (const auto member = value->find("op"); member != value->end() && member->is_string()) {
    op = member->get<std::string>();
  }

  if (op == "keyboard_read") return answer_for(backlight.read());

  if (op == "keyboard_write") {
    // Only an integer literal without sign, fraction or exponent that fits in
    // 64 bits is kept by the parser as an unsigned number.
    const auto member = value->find("level");
    if (member == value->end() || !member->is_number_unsigned()) {
      return error_answer("niveau manquant");
    }
    const auto asked = member->get<std::uint64_t>();
    const auto level =
        static_cast<std::uint8_t>(std::min<std::uint64_t>(asked, MAX_BACKLIGHT_LEVEL));
    return answer_for(backlight.write(level));
  }

  return error_answer("opération inconnue : " + op);
}

}  // namespace nivalto
