#include "nivalto/hal/text.h"

#include <cstdint>
#include <cstring>
#include <optional>

namespace nivalto {
namespace {

struct Decoded {
  char32_t code_point;
  std::size_t length;  // bytes consumed; for an invalid sequence, its maximal subpart
  bool valid;
};

// Decodes one UTF-8 sequence at the start of `text` (which must not be empty),
// following the well-formed byte table of the Unicode standard (table 3-7).
Decoded decode_one(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) return {lead, 1, true};

  std::size_t needed = 0;
  char32_t cp = 0;
  std::uint8_t low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {0xFFFD, 1, false};
  }

  std::size_t i = 1;
  for (; i <= needed; ++i) {
    if (i >= text.size()) return {0xFFFD, i, false};
    const std::uint8_t b = byte(i);
    if (b < low || b > high) return {0xFFFD, i, false};
    low = 0x80;
    high = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
  }
  return {cp, i, true};
}

bool is_white_space(char32_t cp) {
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
         cp == 0x205F || cp == 0x3000;
}

// Length of a white-space character ending exactly at `end`, or nothing.
std::optional<std::size_t> white_space_before(std::string_view text, std::size_t end) {
  for (std::size_t len = 1; len <= 4 && len <= end; ++len) {
    const auto candidate = text.substr(end - len, len);
    const Decoded d = decode_one(candidate);
    if (d.valid && d.length == len) {
      if (is_white_space(d.code_point)) return len;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::size_t utf8_sequence_length(std::string_view bytes) {
  if (bytes.empty()) return 0;
  const Decoded d = decode_one(bytes);
  return d.valid ? d.length : 0;
}

std::string_view trim_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const Decoded d = decode_one(text.substr(begin));
    if (!d.valid || !is_white_space(d.code_point)) break;
    begin += d.length;
  }
  std::size_t end = text.size();
  while (end > begin) {
    const auto len = white_space_before(text.substr(0, end), end);
    if (!len) break;
    end -= *len;
  }
  return text.substr(begin, end - begin);
}

std::string ascii_fold(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::string decode_utf8_lossy(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size());
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const Decoded d = decode_one(bytes.substr(pos));
    if (d.valid) {
      out.append(bytes.substr(pos, d.length));
    } else {
      append_utf8(out, 0xFFFD);
    }
    pos += d.length;
  }
  return out;
}

std::string decode_utf8_lossy(std::span<const std::byte> bytes) {
  return decode_utf8_lossy(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool is_valid_utf8(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    // Profiles and requests are almost all ASCII: skip it eight bytes at a
    // time, then a byte at a time, without decoding.
    std::uint64_t word = 0;
    if (bytes.size() - pos >= sizeof word) {
      std::memcpy(&word, bytes.data() + pos, sizeof word);
      if ((word & 0x8080808080808080U) == 0) {
        pos += sizeof word;
        continue;
      }
    }
    if (static_cast<std::uint8_t>(bytes[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const Decoded d = decode_one(bytes.substr(pos));
    if (!d.valid) return false;
    pos += d.length;
  }
  return true;
}

std::string line_column_suffix(std::string_view text, std::size_t index) {
  if (index > text.size()) index = text.size();
  std::size_t line = 1;
  std::size_t column = 1;
  for (std::size_t i = 0; i < index; ++i) {
    const auto byte = static_cast<std::uint8_t>(text[i]);
    if (byte == '\n') {
      ++line;
      column = 1;
    } else if ((byte & 0xC0) != 0x80) {
      // A lead byte or ASCII starts a character; continuation bytes do not.
      ++column;
    }
  }
  return " at line " + std::to_string(line) + " column " + std::to_string(column);
}

}  // namespace nivalto
