#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace nivalto {

// Removes from both ends every character with the Unicode White_Space
// property. The text is read as UTF-8; bytes that do not form a valid sequence
// are never white space, so invalid input is trimmed only up to them.
[[nodiscard]] std::string_view trim_white_space(std::string_view text);

// A to Z become a to z; every other byte, including each byte of a non-ASCII
// character, stays as it is.
[[nodiscard]] std::string ascii_fold(std::string_view text);

// Decodes UTF-8, replacing each maximal invalid subsequence with U+FFFD (the
// Unicode "substitution of maximal subparts" practice).
[[nodiscard]] std::string decode_utf8_lossy(std::string_view bytes);
[[nodiscard]] std::string decode_utf8_lossy(std::span<const std::byte> bytes);

// " at line L column C" for the byte at `index` of `text` (clamped to its
// end): lines count from 1 after each line feed, columns in characters from 1.
// The position suffix of the JSON parsers' fault descriptions.
[[nodiscard]] std::string line_column_suffix(std::string_view text, std::size_t index);

// The length of the well-formed UTF-8 sequence that `bytes` starts with, or 0
// when it starts with none (or is empty).
[[nodiscard]] std::size_t utf8_sequence_length(std::string_view bytes);

// Appends a Unicode scalar value in UTF-8.
void append_utf8(std::string& out, char32_t code_point);

// True when the bytes are well-formed UTF-8 (no surrogates, no overlongs).
[[nodiscard]] bool is_valid_utf8(std::string_view bytes);

}  // namespace nivalto
