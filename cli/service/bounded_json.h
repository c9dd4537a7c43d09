#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace nivalto {

// Deepest nesting of arrays and objects a request may use. The bound keeps a
// hostile request (thousands of '[') from costing more than a small,
// fixed amount of memory and stack.
inline constexpr std::size_t MAX_JSON_DEPTH = 128;

// Parses `text` as exactly one JSON value: nothing but the value may follow
// it, and no array or object may be nested deeper than MAX_JSON_DEPTH.
// On failure returns the fault's description followed by
// " at line L column C", the position counted within `text` (lines from 1
// after each line feed, columns in characters from 1).
[[nodiscard]] std::expected<nlohmann::json, std::string> parse_bounded_json(std::string_view text);

}  // namespace nivalto
