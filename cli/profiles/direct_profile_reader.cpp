#include "cli/profiles/direct_profile_reader.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "cli/profiles/decode_profile.h"
#include "nivalto/hal/text.h"

namespace nivalto {
namespace {

enum : unsigned char { IN_BASIC = 1, IN_LITERAL = 2, IN_COMMENT = 4, BARE_KEY = 8 };

// For each byte, the texts in which it cannot simply be copied: control
// characters but tab (line breaks end a comment), the string's closing quote,
// a backslash, and the lead byte of a non-ASCII character, which is checked as
// UTF-8; and whether it may stand in a bare key.
constexpr std::array<unsigned char, 256> SPECIAL = [] {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if ((c < 0x20 && c != '\t') || c >= 0x7F) table[c] = IN_BASIC | IN_LITERAL | IN_COMMENT;
  }
  table['"'] |= IN_BASIC;
  table['\\'] |= IN_BASIC;
  table['\''] |= IN_LITERAL;
  for (int c = 0; c < 256; ++c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
        c == '-') {
      table[c] |= BARE_KEY;
    }
  }
  return table;
}();

constexpr std::array<std::string_view, 6> ROOT_KEYS{"schema_version", "id",      "display_name",
                                                    "scope",          "matches", "capabilities"};
constexpr std::array<std::string_view, 2> MATCHES_KEYS{"mtm", "version_contains"};
constexpr std::array<std::string_view, 8> CAPABILITY_KEYS{
    "id", "label", "access", "confidence", "sources", "validated_on", "bounds", "notes"};
constexpr std::array<std::string_view, 6> ACCESS_KEYS{"method", "address",  "offset",
                                                      "class",  "property", "path"};
constexpr std::array<std::string_view, 2> BOUNDS_KEYS{"min", "max"};

// A key of at most 16 bytes as two words and the masks of its bytes, so that
// the bytes of the text are compared with it two words at a time.
struct KeyWords {
  std::array<std::uint64_t, 2> words{};
  std::array<std::uint64_t, 2> masks{};
};

template <std::size_t N>
constexpr std::array<KeyWords, N> key_words(const std::array<std::string_view, N>& names) {
  std::array<KeyWords, N> all{};
  for (std::size_t i = 0; i < N; ++i) {
    for (std::size_t half = 0; half < 2; ++half) {
      std::array<char, 8> bytes{};
      std::array<unsigned char, 8> mask{};
      for (std::size_t j = 0; j < 8 && half * 8 + j < names[i].size(); ++j) {
        bytes[j] = names[i][half * 8 + j];
        mask[j] = 0xFF;
      }
      all[i].words[half] = std::bit_cast<std::uint64_t>(bytes);
      all[i].masks[half] = std::bit_cast<std::uint64_t>(mask);
    }
  }
  return all;
}

template <const auto& NAMES>
constexpr auto KEY_WORDS = [] {
  for (const std::string_view name : NAMES) {
    if (name.empty() || name.size() > 16) throw "a key is of 1 to 16 bytes";
  }
  return key_words(NAMES);
}();

constexpr std::array<std::string_view, 2> SCOPES{"model", "family"};
constexpr std::array<std::string_view, 3> CONFIDENCES{"validated", "documented", "assumed"};
constexpr std::array<std::string_view, 5> METHODS{"msr", "ec", "wmi", "acpi", "platform_profile"};

// Bits of the keys seen in a table, by their index in the lists above.
constexpr unsigned bit(std::size_t index) { return 1U << index; }
constexpr unsigned REQUIRED_ROOT_KEYS = bit(0) | bit(1) | bit(2) | bit(3) | bit(4);
constexpr unsigned REQUIRED_CAPABILITY_KEYS = bit(0) | bit(1) | bit(2) | bit(3) | bit(4);
constexpr std::size_t ROOT_MATCHES = 4;
constexpr std::size_t ROOT_CAPABILITIES = 5;
constexpr std::size_t CAPABILITY_ACCESS = 2;
constexpr std::size_t CAPABILITY_BOUNDS = 6;
constexpr std::size_t ACCESS_METHOD = 0;

enum class Table : std::uint8_t { Root, Matches, Capability, Access, Bounds };

// What may follow an integer: anything else makes it a float, a date or no
// value at all.
bool ends_value(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '#' || c == ',' || c == ']' ||
         c == '}';
}

int digit_value(char c, unsigned base) {
  int value = 99;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  }
  return value < static_cast<int>(base) ? value : -1;
}

// The length of the well-formed UTF-8 sequence of the character at `p`, or 0.
// Accented Latin letters, the usual non-ASCII characters of profiles, take
// two bytes and are checked here.
std::size_t utf8_length(const char* p, const char* end) {
  const auto lead = static_cast<unsigned char>(*p);
  if (lead >= 0xC2 && lead <= 0xDF && end - p >= 2 &&
      (static_cast<unsigned char>(p[1]) & 0xC0) == 0x80) {
    return 2;
  }
  return utf8_sequence_length(std::string_view(p, static_cast<std::size_t>(end - p)));
}

constexpr std::uint64_t EVERY_BYTE = 0x0101010101010101U;
constexpr std::uint64_t HIGH_BITS = 0x8080808080808080U;

// The bytes of `word` below 0x20 (tab included), from 0x7F, or equal to
// `quote` or `other`, by their high bits: the bytes of a text that cannot be
// copied without a look. Borrows can only mark bytes beyond a byte that
// truly matches, so the lowest mark is exact.
std::uint64_t special_bytes(std::uint64_t word, std::uint64_t quote, std::uint64_t other) {
  const auto zero_bytes = [](std::uint64_t v) { return (v - EVERY_BYTE) & ~v & HIGH_BITS; };
  const std::uint64_t control = (word - EVERY_BYTE * 0x20) & ~word & HIGH_BITS;
  return control | (word & HIGH_BITS) | zero_bytes(word ^ (EVERY_BYTE * 0x7F)) |
         zero_bytes(word ^ quote) | zero_bytes(word ^ other);
}

// The lowest mark is the first byte in the text only when words are read
// little-end first, as on every target of the program.
static_assert(std::endian::native == std::endian::little);

// The first byte from `p` that is special in the text `in` (see SPECIAL), or
// `end`: eight bytes at a time while eight remain.
const char* skip_plain(const char* p, const char* end, unsigned char in, char quote, char other) {
  const std::uint64_t quotes = EVERY_BYTE * static_cast<unsigned char>(quote);
  const std::uint64_t others = EVERY_BYTE * static_cast<unsigned char>(other);
  while (end - p >= 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, sizeof word);
    const std::uint64_t special = special_bytes(word, quotes, others);
    if (special == 0) {
      p += 8;
      continue;
    }
    p += std::countr_zero(special) / 8;
    if ((SPECIAL[static_cast<unsigned char>(*p)] & in) != 0) return p;
    ++p;  // a tab
  }
  while (p < end && (SPECIAL[static_cast<unsigned char>(*p)] & in) == 0) ++p;
  return p;
}

// Whether `name` is written at `p`; compared here rather than by a call, as
// names are a few bytes long.
bool written_at(const char* p, const char* end, std::string_view name) {
  if (static_cast<std::size_t>(end - p) < name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (p[i] != name[i]) return false;
  }
  return true;
}

// Spellings differ in length or first letter: only one that agrees in both
// is compared whole.
template <std::size_t N>
int index_of(const std::array<std::string_view, N>& names, std::string_view name) {
  if (name.empty()) return -1;
  for (std::size_t i = 0; i < N; ++i) {
    if (names[i].size() == name.size() && names[i][0] == name[0] &&
        written_at(name.data(), name.data() + name.size(), names[i])) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// Marks a key as seen; false when it already was (a key written twice, or a
// table defined twice).
bool mark(unsigned& seen, std::size_t index) {
  if ((seen & bit(index)) != 0) return false;
  seen |= bit(index);
  return true;
}

// The fields an `access` table may hold, gathered before its method is known:
// the keys may come in any order.
struct AccessFields {
  unsigned seen = 0;
  std::size_t method = 0;
  std::int64_t address = 0;
  std::int64_t offset = 0;
  std::string class_name;
  std::string property;
  std::string path;
};

class Reader {
 public:
  explicit Reader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

  std::optional<MachineProfile> run() {
    if (static_cast<std::size_t>(end_ - p_) > MAX_PROFILE_BYTES) return std::nullopt;
    if (end_ - p_ >= 3 && std::string_view(p_, 3) == "\xEF\xBB\xBF") p_ += 3;
    while (true) {
      skip_blanks();
      if (p_ == end_) break;
      const char c = *p_;
      if (c == '[') {
        if (!header()) return std::nullopt;
      } else if (c != '#' && c != '\n' && c != '\r') {
        if (!key_value(table_)) return std::nullopt;
      }
      if (!line_end()) return std::nullopt;
    }
    if (in_capability_ && (!finish_capability() || !closed(profile_.capabilities))) {
      return std::nullopt;
    }
    if ((root_seen_ & REQUIRED_ROOT_KEYS) != REQUIRED_ROOT_KEYS) return std::nullopt;
    return std::move(profile_);
  }

 private:
  bool at(char c) const { return p_ < end_ && *p_ == c; }

  bool consume(char c) {
    if (!at(c)) return false;
    ++p_;
    return true;
  }

  // The loops over bytes move a local pointer: the bytes read are chars,
  // which may alias p_, so that moving p_ itself would store it at each byte.
  void skip_blanks() {
    const char* p = p_;
    while (p < end_ && (*p == ' ' || *p == '\t')) ++p;
    p_ = p;
  }

  // Blanks, then a comment, then a line break or the end of the text.
  bool line_end() {
    skip_blanks();
    if (at('#') && !comment()) return false;
    if (p_ == end_) return true;
    if (*p_ == '\n') {
      ++p_;
      return true;
    }
    if (*p_ == '\r' && end_ - p_ >= 2 && p_[1] == '\n') {
      p_ += 2;
      return true;
    }
    return false;
  }

  // From the `#` to the line break, which stays.
  bool comment() {
    const char* p = p_ + 1;
    while ((p = skip_plain(p, end_, IN_COMMENT, '\x7F', '\x7F')) < end_) {
      const auto c = static_cast<unsigned char>(*p);
      if (c == '\n' || c == '\r') {
        break;
      } else if (const std::size_t length = c >= 0x80 ? utf8_length(p, end_) : 0) {
        p += length;
      } else {
        return false;
      }
    }
    p_ = p;
    return true;
  }

  // Blanks, line breaks and comments between the elements of an array or an
  // inline table.
  bool skip_array_space() {
    while (p_ < end_) {
      const char c = *p_;
      if (c == ' ' || c == '\t' || c == '\n') {
        ++p_;
      } else if (c == '\r' && end_ - p_ >= 2 && p_[1] == '\n') {
        p_ += 2;
      } else if (c == '#') {
        if (!comment()) return false;
      } else {
        break;
      }
    }
    return true;
  }

  bool bare_key(std::string_view& key) {
    const char* p = p_;
    while (p < end_ && (SPECIAL[static_cast<unsigned char>(*p)] & BARE_KEY) != 0) ++p;
    key = std::string_view(p_, static_cast<std::size_t>(p - p_));
    p_ = p;
    return !key.empty();
  }

  // `[matches]`, `[[capabilities]]`, `[capabilities.access]` or
  // `[capabilities.bounds]`, with blanks where TOML allows them.
  bool header() {
    bool array = false;
    std::string_view first;
    std::string_view second;
    if (!written_header(array, first, second) && !spelt_header(array, first, second)) {
      return false;
    }
    if (array) {
      if (first != "capabilities" || !second.empty()) return false;
      // Not after an inline array of capabilities.
      if (!capabilities_by_header_ && !mark(root_seen_, ROOT_CAPABILITIES)) return false;
      capabilities_by_header_ = true;
      if (in_capability_ && !finish_capability()) return false;
      begin_capability();
      in_capability_ = true;
      table_ = Table::Capability;
      return true;
    }
    if (second.empty()) {
      if (first != "matches" || !mark(root_seen_, ROOT_MATCHES)) return false;
      table_ = Table::Matches;
      return true;
    }
    // A sub-table of the last capability, which must not have it yet.
    if (first != "capabilities" || !in_capability_) return false;
    if (second == "access") {
      if (!mark(capability_seen_, CAPABILITY_ACCESS)) return false;
      table_ = Table::Access;
      return true;
    }
    if (second != "bounds" || !mark(capability_seen_, CAPABILITY_BOUNDS)) return false;
    profile_.capabilities.back().bounds.emplace();
    table_ = Table::Bounds;
    return true;
  }

  // The index of the bare key at p_ among `names`, whose text is then
  // passed; -1 for any other key. A name matches only where the bare key
  // ends with it.
  template <const auto& NAMES>
  int known_key() {
    // Where 16 bytes and the one after them can be read, two words of the
    // text against each key's, else byte by byte.
    const auto ends_key = [&](std::size_t size) {
      return end_ - p_ == static_cast<std::ptrdiff_t>(size) ||
             (SPECIAL[static_cast<unsigned char>(p_[size])] & BARE_KEY) == 0;
    };
    if (end_ - p_ > 16) {
      std::uint64_t first = 0;
      std::uint64_t second = 0;
      std::memcpy(&first, p_, sizeof first);
      std::memcpy(&second, p_ + 8, sizeof second);
      for (std::size_t i = 0; i < NAMES.size(); ++i) {
        const KeyWords& key = KEY_WORDS<NAMES>[i];
        if ((((first ^ key.words[0]) & key.masks[0]) | ((second ^ key.words[1]) & key.masks[1])) ==
                0 &&
            ends_key(NAMES[i].size())) {
          p_ += NAMES[i].size();
          return static_cast<int>(i);
        }
      }
      return -1;
    }
    for (std::size_t i = 0; i < NAMES.size(); ++i) {
      if (written_at(p_, end_, NAMES[i]) && ends_key(NAMES[i].size())) {
        p_ += NAMES[i].size();
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  // The index of the known key at p_ and the `=` after it, or -1.
  template <const auto& NAMES>
  int key_and_equals() {
    const int index = known_key<NAMES>();
    if (index < 0) return -1;
    if (end_ - p_ >= 3 && p_[0] == ' ' && p_[1] == '=' && p_[2] == ' ') {
      p_ += 3;  // as profiles are written
    } else {
      skip_blanks();
      if (!consume('=')) return -1;  // also a dotted key
    }
    skip_blanks();
    return index;
  }

  // The headers as profiles write them, without blanks.
  bool written_header(bool& array, std::string_view& first, std::string_view& second) {
    static constexpr struct {
      std::string_view text;
      bool array;
      std::string_view first;
      std::string_view second;
    } WRITTEN[] = {{"[[capabilities]]", true, "capabilities", ""},
                   {"[matches]", false, "matches", ""},
                   {"[capabilities.access]", false, "capabilities", "access"},
                   {"[capabilities.bounds]", false, "capabilities", "bounds"}};
    for (const auto& header : WRITTEN) {
      if (!written_at(p_, end_, header.text)) continue;
      p_ += header.text.size();
      array = header.array;
      first = header.first;
      second = header.second;
      return true;
    }
    return false;
  }

  // Any header of one or two bare keys, with blanks where TOML allows them.
  bool spelt_header(bool& array, std::string_view& first, std::string_view& second) {
    ++p_;
    array = consume('[');
    skip_blanks();
    if (!bare_key(first)) return false;
    skip_blanks();
    if (consume('.')) {
      skip_blanks();
      if (!bare_key(second)) return false;
      skip_blanks();
    }
    return consume(']') && (!array || consume(']'));
  }

  bool key_value(Table table) {
    switch (table) {
      case Table::Root:
        return root_value(key_and_equals<ROOT_KEYS>());
      case Table::Matches:
        return matches_value(key_and_equals<MATCHES_KEYS>());
      case Table::Capability:
        return capability_value(key_and_equals<CAPABILITY_KEYS>());
      case Table::Access:
        return access_value(key_and_equals<ACCESS_KEYS>());
      case Table::Bounds:
        break;
    }
    return bounds_value(key_and_equals<BOUNDS_KEYS>());
  }

  bool root_value(int index) {
    if (index < 0 || !mark(root_seen_, static_cast<std::size_t>(index))) return false;
    switch (index) {
      case 0:
        return u32(profile_.schema_version);
      case 1:
        return string(profile_.id);
      case 2:
        return string(profile_.display_name);
      case 3:
        return spelling(SCOPES, profile_.scope);
      case 4:
        return inline_table(Table::Matches);
      default:
        return capability_array();
    }
  }

  bool matches_value(int index) {
    if (index < 0 || !mark(matches_seen_, static_cast<std::size_t>(index))) return false;
    return string_array(index == 0 ? profile_.matches.mtm : profile_.matches.version_contains);
  }

  bool capability_value(int index) {
    if (index < 0 || !mark(capability_seen_, static_cast<std::size_t>(index))) return false;
    Capability& capability = profile_.capabilities.back();
    switch (index) {
      case 0:
        return string(capability.id);
      case 1:
        return string(capability.label);
      case 2:
        return inline_table(Table::Access);
      case 3:
        return spelling(CONFIDENCES, capability.confidence);
      case 4:
        return string_array(capability.sources);
      case 5:
        return string(capability.validated_on.emplace());
      case 6:
        capability.bounds.emplace();
        return inline_table(Table::Bounds);
      default:
        return string(capability.notes.emplace());
    }
  }

  bool access_value(int index) {
    if (index < 0 || !mark(access_.seen, static_cast<std::size_t>(index))) return false;
    switch (index) {
      case 0:
        return spelling(METHODS, access_.method);
      case 1:
        return integer(access_.address);
      case 2:
        return integer(access_.offset);
      case 3:
        return string(access_.class_name);
      case 4:
        return string(access_.property);
      default:
        return string(access_.path);
    }
  }

  bool bounds_value(int index) {
    if (index < 0 || !mark(bounds_seen_, static_cast<std::size_t>(index))) return false;
    Bounds& bounds = *profile_.capabilities.back().bounds;
    return integer(index == 0 ? bounds.min : bounds.max);
  }

  // `{ key = value, … }`; as TOML 1.1 allows, over several lines, with
  // comments and a trailing comma.
  bool inline_table(Table table) {
    if (!consume('{')) return false;
    if (!skip_array_space()) return false;
    if (consume('}')) return true;
    while (true) {
      if (!key_value(table) || !skip_array_space()) return false;
      if (consume('}')) return true;
      if (!consume(',') || !skip_array_space()) return false;
      if (consume('}')) return true;
    }
  }

  // Lists and texts keep no spare room, as on the parser's path: the loaded
  // profiles stay in memory for the whole run.
  template <typename T>
  static bool closed(std::vector<T>& list) {
    list.shrink_to_fit();
    return true;
  }

  bool capability_array() {
    if (!consume('[')) return false;
    while (true) {
      if (!skip_array_space()) return false;
      if (consume(']')) return closed(profile_.capabilities);
      if (!at('{')) return false;
      begin_capability();
      if (!inline_table(Table::Capability) || !finish_capability()) return false;
      if (!skip_array_space()) return false;
      if (consume(']')) return closed(profile_.capabilities);
      if (!consume(',')) return false;
    }
  }

  bool string_array(std::vector<std::string>& texts) {
    if (!consume('[')) return false;
    while (true) {
      if (!skip_array_space()) return false;
      if (consume(']')) return closed(texts);
      if (!string(texts.emplace_back())) return false;
      if (!skip_array_space()) return false;
      if (consume(']')) return closed(texts);
      if (!consume(',')) return false;
    }
  }

  void begin_capability() {
    // Most profiles hold three capabilities: room for them at once rather
    // than moving them as the list grows; closed() gives back what is left.
    if (profile_.capabilities.empty()) profile_.capabilities.reserve(3);
    profile_.capabilities.emplace_back();
    capability_seen_ = 0;
    bounds_seen_ = 0;
    access_.seen = 0;  // the other fields count only once seen
  }

  // The required keys of the capability and of its tables, and its access
  // variant, once all its keys are known.
  bool finish_capability() {
    if ((capability_seen_ & REQUIRED_CAPABILITY_KEYS) != REQUIRED_CAPABILITY_KEYS) return false;
    Capability& capability = profile_.capabilities.back();
    if (capability.bounds && bounds_seen_ != (bit(0) | bit(1))) return false;
    if ((access_.seen & bit(ACCESS_METHOD)) == 0) return false;
    const unsigned fields = access_.seen & ~bit(ACCESS_METHOD);
    switch (access_.method) {
      case 0:
        if (fields != bit(1) || access_.address < 0 ||
            access_.address > std::numeric_limits<std::uint32_t>::max()) {
          return false;
        }
        capability.access = Msr{static_cast<std::uint32_t>(access_.address)};
        return true;
      case 1:
        if (fields != bit(2) || access_.offset < 0 || access_.offset > UINT8_MAX) return false;
        capability.access = Ec{static_cast<std::uint8_t>(access_.offset)};
        return true;
      case 2:
        if (fields != (bit(3) | bit(4))) return false;
        capability.access = Wmi{std::move(access_.class_name), std::move(access_.property)};
        return true;
      case 3:
        if (fields != bit(5)) return false;
        capability.access = Acpi{std::move(access_.path)};
        return true;
      default:
        // The parser's path ignores further keys here; this reader leaves
        // them to it.
        if (fields != 0) return false;
        capability.access = PlatformProfile{};
        return true;
    }
  }

  template <typename Enum, std::size_t N>
  bool spelling(const std::array<std::string_view, N>& spellings, Enum& value) {
    if (!scan_string()) return false;
    const int index = index_of(spellings, scanned_);
    if (index < 0) return false;
    value = static_cast<Enum>(index);
    return true;
  }

  bool u32(std::uint32_t& value) {
    std::int64_t read = 0;
    if (!integer(read) || read < 0 || read > std::numeric_limits<std::uint32_t>::max()) {
      return false;
    }
    value = static_cast<std::uint32_t>(read);
    return true;
  }

  // Decimal with an optional sign, or 0x, 0o, 0b without one; `_` only
  // between digits; no leading zero; within a signed 64-bit integer.
  bool integer(std::int64_t& value) {
    const bool negative = at('-');
    const bool sign = negative || at('+');
    if (sign) ++p_;
    unsigned base = 10;
    if (end_ - p_ >= 2 && p_[0] == '0' && (p_[1] == 'x' || p_[1] == 'o' || p_[1] == 'b')) {
      if (sign) return false;
      base = p_[1] == 'x' ? 16 : p_[1] == 'o' ? 8 : 2;
      p_ += 2;
    } else if (end_ - p_ >= 2 && p_[0] == '0' && ((p_[1] >= '0' && p_[1] <= '9') || p_[1] == '_')) {
      return false;
    }
    const std::uint64_t limit =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    std::uint64_t magnitude = 0;
    bool digit_expected = true;
    while (p_ < end_) {
      if (*p_ == '_') {
        if (digit_expected) return false;
        digit_expected = true;
        ++p_;
        continue;
      }
      const int digit = digit_value(*p_, base);
      if (digit < 0) break;
      if (magnitude > (limit - static_cast<unsigned>(digit)) / base) return false;
      magnitude = magnitude * base + static_cast<unsigned>(digit);
      digit_expected = false;
      ++p_;
    }
    if (digit_expected || (p_ < end_ && !ends_value(*p_))) return false;
    value =
        negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
  }

  // The string's text, made to its size: the loaded profiles stay in memory
  // for the whole run.
  bool string(std::string& text) {
    if (!scan_string()) return false;
    text = std::string(scanned_);
    return true;
  }

  // A basic or literal string, whose text is then in scanned_: the bytes
  // between the quotes when there is no escape, else word_.
  bool scan_string() {
    if (at('"')) return basic_string();
    if (at('\'')) return literal_string();
    return false;
  }

  bool basic_string() {
    ++p_;
    if (end_ - p_ >= 2 && p_[0] == '"' && p_[1] == '"') return false;  // multi-line
    bool escaped = false;
    const char* run = p_;
    const char* p = p_;
    while ((p = skip_plain(p, end_, IN_BASIC, '"', '\\')) < end_) {
      const auto c = static_cast<unsigned char>(*p);
      if (c == '"') {
        if (escaped) {
          word_.append(run, p);
          scanned_ = word_;
        } else {
          scanned_ = std::string_view(run, static_cast<std::size_t>(p - run));
        }
        p_ = p + 1;
        return true;
      }
      if (c == '\\') {
        if (!escaped) word_.clear();
        escaped = true;
        word_.append(run, p);
        p_ = p;
        if (!escape(word_)) return false;
        run = p = p_;
      } else if (const std::size_t length = c >= 0x80 ? utf8_length(p, end_) : 0) {
        p += length;
      } else {
        return false;
      }
    }
    return false;
  }

  bool escape(std::string& text) {
    ++p_;
    if (p_ == end_) return false;
    const char c = *p_++;
    switch (c) {
      case 'b':
        text += '\b';
        return true;
      case 't':
        text += '\t';
        return true;
      case 'n':
        text += '\n';
        return true;
      case 'f':
        text += '\f';
        return true;
      case 'r':
        text += '\r';
        return true;
      case '"':
      case '\\':
        text += c;
        return true;
      case 'e':
        text += '\x1B';
        return true;
      case 'x':
        return code_point_escape(text, 2);
      case 'u':
        return code_point_escape(text, 4);
      case 'U':
        return code_point_escape(text, 8);
      default:
        return false;
    }
  }

  bool code_point_escape(std::string& text, std::ptrdiff_t digits) {
    if (end_ - p_ < digits) return false;
    char32_t code_point = 0;
    for (std::ptrdiff_t i = 0; i < digits; ++i) {
      const int digit = digit_value(*p_++, 16);
      if (digit < 0) return false;
      code_point = code_point * 16 + static_cast<char32_t>(digit);
    }
    if (code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) return false;
    append_utf8(text, code_point);
    return true;
  }

  bool literal_string() {
    ++p_;
    if (end_ - p_ >= 2 && p_[0] == '\'' && p_[1] == '\'') return false;  // multi-line
    const char* p = p_;
    while ((p = skip_plain(p, end_, IN_LITERAL, '\'', '\'')) < end_) {
      const auto c = static_cast<unsigned char>(*p);
      if (c == '\'') {
        scanned_ = std::string_view(p_, static_cast<std::size_t>(p - p_));
        p_ = p + 1;
        return true;
      }
      if (const std::size_t length = c >= 0x80 ? utf8_length(p, end_) : 0) {
        p += length;
      } else {
        return false;
      }
    }
    return false;
  }

  const char* p_;
  const char* end_;
  MachineProfile profile_;
  Table table_ = Table::Root;
  unsigned root_seen_ = 0;
  unsigned matches_seen_ = 0;
  unsigned capability_seen_ = 0;
  unsigned bounds_seen_ = 0;
  bool capabilities_by_header_ = false;
  bool in_capability_ = false;  // the last of the [[capabilities]] may still take keys
  AccessFields access_;
  std::string word_;          // the text of a string with escapes
  std::string_view scanned_;  // the text of the last string read
};

}  // namespace

std::optional<MachineProfile> read_profile_directly(std::string_view text) {
  return Reader(text).run();
}

}  // namespace nivalto
