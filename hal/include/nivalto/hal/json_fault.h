#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace nivalto {

// The JSON library writes "[json.exception.parse_error.N] parse error at line
// L, column C: what went wrong", its position counting bytes. Our readers give
// the position themselves (see line_column_suffix), so only what went wrong is
// kept; the library's bracketed prefix never reaches a reader's text.
[[nodiscard]] std::string json_fault_description(std::string_view what);

// Follows a JSON text byte by byte and tells which bytes belong to a string
// (its quotes and escapes included), for scans that must skip strings.
class JsonStringTracker {
 public:
  [[nodiscard]] bool in_string(char c) {
    if (!inside_) {
      inside_ = c == '"';
      return inside_;
    }
    if (escaped_) {
      escaped_ = false;
    } else if (c == '\\') {
      escaped_ = true;
    } else if (c == '"') {
      inside_ = false;
    }
    return true;
  }

 private:
  bool inside_ = false;
  bool escaped_ = false;
};

// The library takes a NUL byte as the end of its input and would accept
// whatever came before it as the whole text, so both readers refuse a text
// holding one, at the first NUL, with this description.
inline constexpr std::string_view NUL_BYTE_FAULT = "octet NUL";
[[nodiscard]] std::optional<std::size_t> first_nul_byte(std::string_view text);

// `text` with every number too large for a double (1e400, -1e400, 400
// digits) rewritten, at the same length and place, as the fraction 0.0…0.
// The library refuses such a number with a fault of its own that ends the
// whole parse; rewritten, it is a number that no member reading an integer
// accepts, so it is refused like any other unusable value, at the same
// position. Text inside strings is left alone.
[[nodiscard]] std::string with_huge_numbers_tamed(std::string_view text);

// A library fault description of the tamed text quotes what it read last
// ("last read: '…'", ending at the byte `index`), which can hold a tamed
// number: that excerpt is given back as received.
[[nodiscard]] std::string quoted_as_received(std::string description, std::string_view tamed,
                                             std::string_view original, std::size_t index);

}  // namespace nivalto
