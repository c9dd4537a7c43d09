// Any bytes given to both profile decoders: the direct reader either declines
// or gives, field by field, the profile that the TOML parser's path gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cli/profiles/decode_profile.h"
#include "cli/profiles/direct_profile_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto direct = nivalto::read_profile_directly(text);
  if (!direct) return 0;
  const auto parsed = nivalto::decode_profile_by_parser(text);
  if (!parsed || !(*parsed == *direct)) std::abort();
  return 0;
}
