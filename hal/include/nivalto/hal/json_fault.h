#pragma once

#include <string>
#include <string_view>

namespace nivalto {

// The JSON library writes "[json.exception.parse_error.N] parse error at line
// L, column C: what went wrong", its position counting bytes. Our readers give
// the position themselves (see line_column_suffix), so only what went wrong is
// kept; any other text is returned whole.
[[nodiscard]] std::string json_fault_description(std::string_view what);

}  // namespace nivalto
