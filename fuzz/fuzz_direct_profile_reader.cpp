// Any bytes given to both profile decoders: the direct reader either declines
// or gives, field by field, the profile that the TOML parser's path gives,
// for a text that is UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cli/profiles/decode_profile.h"
#include "cli/profiles/direct_profile_reader.h"
#include "nivalto/hal/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto direct = nivalto::read_profile_directly(text);
  if (!direct) return 0;
  // Loading checks UTF-8 only in texts that a decoder refuses.
  if (!nivalto::is_valid_utf8(text)) std::abort();
  const auto parsed = nivalto::decode_profile_by_parser(text);
  if (!parsed || !(*parsed == *direct)) std::abort();
  return 0;
}
