#include "cli/profiles/toml_guard.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace nivalto {
namespace {

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

bool is_strict_bare_key_byte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

// What the parser takes into a bare key, beyond Unicode letters (refused
// before it sees them).
bool is_lenient_bare_key_byte(unsigned char c) { return is_strict_bare_key_byte(c) || c == '+'; }

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

bool ends_scalar(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',' || c == ']' || c == '}' ||
         c == '#';
}

// "1979-05-27": a local date, which a space may separate from its time.
bool is_full_date(std::string_view token) {
  if (token.size() != 10 || token[4] != '-' || token[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (!is_digit(static_cast<unsigned char>(token[i]))) return false;
  }
  return true;
}

bool is_hex_float(std::string_view token) {
  if (!token.empty() && (token.front() == '+' || token.front() == '-')) token.remove_prefix(1);
  if (token.size() < 2 || token[0] != '0' || (token[1] != 'x' && token[1] != 'X')) return false;
  return token.find_first_of(".pP") != std::string_view::npos;
}

struct DecodedCodePoint {
  char32_t code_point;
  std::size_t length;  // 0 when the bytes are not UTF-8
};

DecodedCodePoint decode_code_point(std::string_view bytes) {
  if (bytes.empty()) return {0, 0};
  const auto lead = static_cast<unsigned char>(bytes[0]);
  std::size_t length = 0;
  char32_t value = 0;
  char32_t least = 0;
  if (lead < 0x80) return {lead, 1};
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return {0, 0};
  }
  if (bytes.size() < length) return {0, 0};
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(bytes[i]);
    if ((next & 0xC0) != 0x80) return {0, 0};
    value = (value << 6) | (next & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {0, 0};
  return {value, length};
}

std::string escape_text(char32_t code_point) {
  char buffer[16];
  if (code_point <= 0xFFFF) {
    std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(code_point));
  } else {
    std::snprintf(buffer, sizeof buffer, "\\U%08X", static_cast<unsigned>(code_point));
  }
  return buffer;
}

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {
    if (text_.starts_with(UTF8_BOM)) next_ = UTF8_BOM.size();
  }

  TomlTextReport run() {
    while (!stopped()) {
      skip_blanks();
      if (stopped()) break;
      const unsigned char c = peek();
      if (c == '\n' || c == '\r') {
        advance();
      } else if (c == '#') {
        skip_comment();
      } else if (c == '[') {
        table_header();
      } else {
        key_value(header_depth_);
      }
    }
    return std::move(report_);
  }

 private:
  struct Frame {
    bool is_table;
    std::size_t depth;  // the depth of the array or table itself
  };

  bool stopped() const { return next_ >= text_.size() || report_.refused.has_value(); }
  unsigned char peek(std::size_t ahead = 0) const {
    return next_ + ahead < text_.size() ? static_cast<unsigned char>(text_[next_ + ahead]) : 0;
  }

  void advance() {
    const auto c = static_cast<unsigned char>(text_[next_]);
    if (c >= 0x80 && !in_literal_) {
      refuse(position_, decode_code_point(text_.substr(next_)).length == 0
                            ? "invalid UTF-8 sequence"
                            : "non-ASCII character outside a string or comment");
      return;
    }
    ++next_;
    if (c == '\n') {
      ++position_.line;
      position_.column = 1;
    } else if ((c & 0xC0) != 0x80) {
      ++position_.column;
    }
  }

  void skip_blanks() {
    while (next_ < text_.size() && (peek() == ' ' || peek() == '\t')) advance();
  }

  void skip_comment() {
    in_literal_ = true;
    while (next_ < text_.size() && peek() != '\n') advance();
    in_literal_ = false;
  }

  // Blanks, line breaks and comments between the elements of an array or,
  // since TOML 1.1, of an inline table.
  void skip_container_space() {
    while (next_ < text_.size()) {
      const unsigned char c = peek();
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        advance();
      } else if (c == '#') {
        skip_comment();
      } else {
        break;
      }
    }
  }

  void refuse(TextPosition where, std::string reason) {
    if (!report_.refused) report_.refused = TomlTextFault{where, std::move(reason)};
    next_ = text_.size();
  }

  void check_depth(std::size_t depth, TextPosition where) {
    if (depth > MAX_TOML_NESTING) {
      refuse(where, "nesting deeper than " + std::to_string(MAX_TOML_NESTING) + " levels");
    }
  }

  void beyond_toml_11(TextPosition where, std::string reason) {
    if (!report_.beyond_toml_11) report_.beyond_toml_11 = TomlTextFault{where, std::move(reason)};
  }

  // Any of the four string forms, from its opening quote. A string cut short
  // by a line break or the end of the text stops there; the parser rejects it.
  void string() {
    in_literal_ = true;
    const unsigned char quote = peek();
    if (peek(1) == quote && peek(2) == quote) {
      multi_line_string(quote);
    } else {
      advance();
      while (next_ < text_.size() && peek() != '\n') {
        if (quote == '"' && peek() == '\\') {
          escape(false);
        } else if (peek() == quote) {
          advance();
          break;
        } else {
          advance();
        }
      }
    }
    in_literal_ = false;
  }

  void multi_line_string(unsigned char quote) {
    for (int i = 0; i < 3; ++i) advance();
    while (next_ < text_.size()) {
      if (quote == '"' && peek() == '\\') {
        escape(true);
      } else if (peek() == quote && peek(1) == quote && peek(2) == quote) {
        // Up to two quotes may stand right before the closing three.
        while (next_ < text_.size() && peek() == quote) advance();
        return;
      } else {
        advance();
      }
    }
  }

  // A backslash in a basic string and what follows it.
  void escape(bool multi_line) {
    advance();
    if (next_ >= text_.size()) return;
    const unsigned char c = peek();
    if (c >= 0x80) {
      refuse(position_, "a backslash in a string must start an escape sequence");
      return;
    }
    if (!multi_line || (c != ' ' && c != '\t' && c != '\r' && c != '\n')) {
      if (c != '\n') advance();
      return;
    }
    // A line-ending backslash: blanks, line breaks, then the first character
    // of the text that goes on.
    while (next_ < text_.size() && (peek() == ' ' || peek() == '\t')) advance();
    if (peek() >= 0x80) {
      refuse(position_, "only a line break may follow a line-ending backslash");
      return;
    }
    while (next_ < text_.size() &&
           (peek() == ' ' || peek() == '\t' || peek() == '\r' || peek() == '\n')) {
      advance();
    }
    if (peek() >= 0x80) escape_for_parser();
  }

  // The parser tests this character as white space; handing it over as an
  // escape spares that test and means the same text.
  void escape_for_parser() {
    const TextPosition where = position_;
    const std::size_t offset = next_;
    const auto [code_point, length] = decode_code_point(text_.substr(next_));
    if (length == 0) return;  // not UTF-8: the parser stops at it before any test
    report_.escapes.push_back({offset, length, where, code_point});
    for (std::size_t i = 0; i < length; ++i) advance();
  }

  // A possibly dotted key; returns its number of segments (0 when none stands
  // here). `base` is the depth of the table the key lives in, and each segment
  // goes `weight` levels deeper.
  std::size_t key(std::size_t base, std::size_t weight = 1) {
    std::size_t segments = 0;
    while (!stopped()) {
      skip_blanks();
      if (next_ >= text_.size()) break;
      const TextPosition where = position_;
      const unsigned char c = peek();
      if (c == '"' || c == '\'') {
        string();
      } else if (is_lenient_bare_key_byte(c)) {
        bool strict = true;
        while (next_ < text_.size() && is_lenient_bare_key_byte(peek())) {
          strict = strict && is_strict_bare_key_byte(peek());
          advance();
        }
        if (!strict) {
          beyond_toml_11(where, "bare keys may only hold ASCII letters, ASCII digits, `_` and `-`");
        }
      } else {
        break;
      }
      ++segments;
      check_depth(base + weight * segments, where);
      skip_blanks();
      if (peek() != '.') break;
      advance();
    }
    return segments;
  }

  void table_header() {
    advance();
    skip_blanks();
    if (peek() == '[') {
      advance();
      skip_blanks();
    }
    // The parser takes for granted that a key starts here.
    const unsigned char c = peek();
    if (next_ < text_.size() && c != ']' && c != '"' && c != '\'' && !is_lenient_bare_key_byte(c) &&
        c < 0x80) {
      refuse(position_, "expected a key in the table header");
      return;
    }
    // Each segment may step through an array of tables into its last element.
    header_depth_ = 2 * key(0, 2);
    skip_blanks();
    while (peek() == ']') advance();
  }

  void key_value(std::size_t base) {
    const std::size_t segments = key(base);
    if (stopped()) return;
    if (segments == 0) {
      advance();  // not TOML; the parser reports it, this pass only moves on
      return;
    }
    skip_blanks();
    if (peek() != '=') return;
    advance();
    skip_blanks();
    value(base + segments);
  }

  // One value at `depth`, with everything nested in it, without recursion.
  void value(std::size_t depth) {
    std::vector<Frame> frames;
    value_start(depth, frames);
    while (!frames.empty() && !stopped()) {
      skip_container_space();
      if (next_ >= text_.size()) return;
      const Frame frame = frames.back();
      const unsigned char c = peek();
      if (c == (frame.is_table ? '}' : ']')) {
        advance();
        frames.pop_back();
      } else if (c == ',') {
        advance();
      } else if (frame.is_table) {
        const std::size_t segments = key(frame.depth);
        if (stopped()) return;
        if (segments == 0) {
          advance();
          continue;
        }
        skip_blanks();
        if (peek() != '=') continue;
        advance();
        skip_container_space();
        if (next_ < text_.size()) value_start(frame.depth + segments, frames);
      } else if (c == '}') {
        // The parser takes for granted that an array element starts here.
        refuse(position_, "expected a value or `]`");
      } else {
        value_start(frame.depth + 1, frames);
      }
    }
  }

  void value_start(std::size_t depth, std::vector<Frame>& frames) {
    const TextPosition where = position_;
    check_depth(depth, where);
    if (stopped()) return;
    const unsigned char c = peek();
    if (c == '"' || c == '\'') {
      string();
    } else if (c == '[' || c == '{') {
      advance();
      frames.push_back({c == '{', depth});
    } else {
      scalar(where);
    }
  }

  void scalar(TextPosition where) {
    const std::size_t start = next_;
    while (next_ < text_.size() && !ends_scalar(peek())) advance();
    if (is_full_date(text_.substr(start, next_ - start)) && peek() == ' ' && is_digit(peek(1))) {
      advance();
      while (next_ < text_.size() && !ends_scalar(peek())) advance();
    }
    if (next_ == start) {
      advance();  // a stray character; the parser reports it
      return;
    }
    if (is_hex_float(text_.substr(start, next_ - start))) {
      beyond_toml_11(where, "hexadecimal floating-point values are not allowed");
    }
  }

  std::string_view text_;
  std::size_t next_ = 0;
  TextPosition position_;
  std::size_t header_depth_ = 0;
  bool in_literal_ = false;  // inside a string or a comment
  TomlTextReport report_;
};

}  // namespace

TomlTextReport scan_toml_text(std::string_view text) { return Scanner(text).run(); }

std::string parser_text(std::string_view text, const TomlTextReport& report) {
  std::string result;
  result.reserve(text.size() + 9 * report.escapes.size());
  std::size_t copied = 0;
  for (const ParserEscape& escape : report.escapes) {
    result.append(text.substr(copied, escape.offset - copied));
    result += escape_text(escape.code_point);
    copied = escape.offset + escape.length;
  }
  result.append(text.substr(copied));
  return result;
}

TextPosition original_position(TextPosition in_parser_text, const TomlTextReport& report) {
  // An escaped character is the first one of its line but for blanks, so a
  // line holds at most one escape.
  for (const ParserEscape& escape : report.escapes) {
    if (escape.where.line != in_parser_text.line) continue;
    const auto widened = static_cast<std::uint32_t>(escape_text(escape.code_point).size() - 1);
    if (in_parser_text.column > escape.where.column + widened) {
      in_parser_text.column -= widened;
    } else if (in_parser_text.column > escape.where.column) {
      in_parser_text.column = escape.where.column;
    }
    break;
  }
  return in_parser_text;
}

}  // namespace nivalto
