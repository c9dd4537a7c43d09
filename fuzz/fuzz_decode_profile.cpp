// Any bytes given to the profile decoder: it must end, within bounded memory
// and stack, with a profile or with one error line framed by its position.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cli/profiles/decode_profile.h"
#include "cli/profiles/load_profiles.h"
#include "nivalto/hal/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto profile = nivalto::decode_profile(text);
  if (profile) {
    // What decodes is a TOML document in UTF-8 (loading checks UTF-8 only in
    // texts that are refused), and validation of it always ends.
    if (!nivalto::check_toml_document(text) || !nivalto::is_valid_utf8(text)) std::abort();
    (void)nivalto::validate_profile(*profile);
    return 0;
  }
  const std::string& error = profile.error();
  if (!error.starts_with("ligne ") || error.find(" : ") == std::string::npos) std::abort();
  if (error.find('\n') != std::string::npos || !nivalto::is_valid_utf8(error)) std::abort();
  return 0;
}
