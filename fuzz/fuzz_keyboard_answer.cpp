// Any bytes as a backlight answer, in both modes: reading must end, within
// bounded stack, with a state on the small level scale or with one of the
// errors an answer can cause, its text valid UTF-8 when the input was.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "nivalto/hal/keyboard_answer.h"
#include "nivalto/hal/text.h"

namespace {

constexpr std::string_view UNREADABLE = "réponse de rétroéclairage illisible : ";

void check(const nivalto::HalResult<nivalto::KeyboardState>& result, std::string_view text) {
  using nivalto::HalErrorKind;
  if (result) {
    if (result->max_level < 1 || result->max_level > nivalto::MAX_BACKLIGHT_LEVEL ||
        result->level > result->max_level || nivalto::source_text(result->source).empty()) {
      __builtin_trap();
    }
    return;
  }
  const nivalto::HalError& error = result.error();
  if (error.kind == HalErrorKind::AccessDenied) __builtin_trap();
  if (error.kind == HalErrorKind::InvalidData) {
    const bool unreadable = error.message.starts_with(UNREADABLE);
    const bool unknown_source = error.message.starts_with("source de rétroéclairage inconnue : ");
    if (!unreadable && !unknown_source) __builtin_trap();
    // Every description of an unreadable answer says where.
    if (unreadable && error.message.find(" at line ") == std::string::npos) __builtin_trap();
  }
  if (nivalto::is_valid_utf8(text) && !nivalto::is_valid_utf8(error.message)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto read = nivalto::parse_keyboard_answer(text, "read");
  const auto write = nivalto::parse_keyboard_answer(text, "write");
  check(read, text);
  check(write, text);
  // A write is read with one more condition, never fewer.
  if (write && (!read || *read != *write)) __builtin_trap();
  // The same bytes as the service would see them once decoded.
  check(nivalto::parse_keyboard_answer(nivalto::decode_utf8_lossy(text), "read"), text);
  return 0;
}
