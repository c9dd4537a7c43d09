#pragma once

// Checks on the raw text of a TOML document, made around the parser.
//
// Before parsing: a bound on nesting, so that no input can exhaust the stack
// (the parser recurses once per nested table, and its tree is freed
// recursively), and a guard for the parser's Unicode white-space test, which
// has undefined behaviour for many non-ASCII characters (U+00A1 to U+0499
// among them). The parser applies that test only outside strings and comments,
// where TOML allows no non-ASCII character anyway, after a backslash in a
// basic string, and to the first character that follows a line-ending
// backslash in a multi-line basic string. The first two are refused; the last
// is valid TOML, so that character is handed to the parser as a \u escape.
//
// After parsing: the TOML 1.1.0 rules the parser relaxes when its TOML 1.1
// features are on (it also takes `+` in bare keys and hexadecimal floats).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nivalto {

struct TextPosition {
  std::uint32_t line = 1;    // from 1
  std::uint32_t column = 1;  // from 1, in code points, as the parser counts them

  friend bool operator==(const TextPosition&, const TextPosition&) = default;
};

struct TomlTextFault {
  TextPosition where;
  std::string reason;

  friend bool operator==(const TomlTextFault&, const TomlTextFault&) = default;
};

// Levels of nesting a document may reach, counting one level per key segment
// (two per table-header segment, which may step through an array of tables)
// and one per array or inline table. Real profiles use four.
inline constexpr std::size_t MAX_TOML_NESTING = 128;

// One non-ASCII character to hand to the parser as a \u or \U escape.
struct ParserEscape {
  std::size_t offset = 0;  // of its first byte
  std::size_t length = 0;  // in bytes
  TextPosition where;
  char32_t code_point = 0;

  friend bool operator==(const ParserEscape&, const ParserEscape&) = default;
};

struct TomlTextReport {
  // Why the text must not reach the parser: nesting beyond MAX_TOML_NESTING
  // or a character the parser cannot be trusted with. Found for any text,
  // well-formed or not.
  std::optional<TomlTextFault> refused;
  // The first construct that TOML 1.1.0 forbids but the parser takes. Only
  // meaningful for a text the parser accepted.
  std::optional<TomlTextFault> beyond_toml_11;
  // In text order.
  std::vector<ParserEscape> escapes;
};

// One pass over the bytes, without recursion; always ends, for any input.
[[nodiscard]] TomlTextReport scan_toml_text(std::string_view text);

// The text to parse: `text` with the report's escapes applied.
[[nodiscard]] std::string parser_text(std::string_view text, const TomlTextReport& report);

// Where a position of parser_text() stands in the original text.
[[nodiscard]] TextPosition original_position(TextPosition in_parser_text,
                                             const TomlTextReport& report);

}  // namespace nivalto
