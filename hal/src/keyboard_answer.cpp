#include "nivalto/hal/keyboard_answer.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <set>

#include <nlohmann/json.hpp>

#include "nivalto/hal/json_fault.h"
#include "nivalto/hal/text.h"

namespace nivalto {
namespace {

using Json = nlohmann::json;

// The members of KeyboardJson in declaration order; a missing one is reported
// in this order.
enum class Member : std::uint8_t { Available, Known, Level, MaxLevel, Source, Applied, Reason };
constexpr std::size_t MEMBER_COUNT = 7;
constexpr std::array<std::string_view, MEMBER_COUNT> MEMBER_NAMES = {
    "available", "known", "level", "max_level", "source", "applied", "reason"};
constexpr std::array<bool, MEMBER_COUNT> MEMBER_REQUIRED = {true, true, true, true,
                                                            true, true, false};

std::optional<Member> member_named(std::string_view name) {
  for (std::size_t i = 0; i < MEMBER_COUNT; ++i) {
    if (MEMBER_NAMES[i] == name) return static_cast<Member>(i);
  }
  return std::nullopt;
}

enum class Expected : std::uint8_t { Boolean, Byte, Text };

Expected expected_of(Member member) {
  switch (member) {
    case Member::Level:
    case Member::MaxLevel:
      return Expected::Byte;
    case Member::Source:
    case Member::Reason:
      return Expected::Text;
    default:
      return Expected::Boolean;
  }
}

std::string expectation_text(Expected expected) {
  switch (expected) {
    case Expected::Boolean:
      return "booléen";
    case Expected::Byte:
      return "entier de 0 à 255";
    case Expected::Text:
      return "chaîne";
  }
  return {};
}

std::string in_guillemets(std::string_view name) { return "« " + std::string(name) + " »"; }

// Feeds the parser one byte at a time and counts what it has taken, so that
// a failure found by our own checks (which the library reports without a
// position) can still be placed in the text.
class CountingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator() = default;
  CountingIterator(const char* at, std::size_t* taken) : at_(at), taken_(taken) {}

  reference operator*() const { return *at_; }
  CountingIterator& operator++() {
    ++at_;
    ++*taken_;
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const CountingIterator& other) const { return at_ == other.at_; }

 private:
  const char* at_ = nullptr;
  std::size_t* taken_ = nullptr;
};

struct Fault {
  std::string description;
  std::size_t index;  // byte index of the offending character; the text size at its end
};

// Checks the token stream against KeyboardJson while the library parses.
// Returning false stops the parse at once, so the first fault wins.
class AnswerReader {
 public:
  // `text` is what the library reads; `original` the answer as received,
  // which differs only where a number too large for a double was tamed.
  AnswerReader(std::string_view text, std::string_view original, const std::size_t& taken)
      : text_(text), original_(original), taken_(taken) {}

  bool null() { return scalar("null", false); }
  bool boolean(bool value) {
    if (depth_ == 1 && member_ && expected_of(*member_) == Expected::Boolean) {
      assign(value);
      return true;
    }
    return scalar(value ? "booléen true" : "booléen false", false);
  }
  bool number_unsigned(Json::number_unsigned_t value) { return integer(value); }
  bool number_integer(Json::number_integer_t value) {
    // Only "-0" reaches here with a non-negative value.
    if (value >= 0) return integer(static_cast<std::uint64_t>(value));
    return negative_integer(std::to_string(value));
  }
  bool number_float(Json::number_float_t, const Json::string_t& text) {
    // Quoted as received: a tamed number must not show as the zero it became.
    const std::size_t last = number_index();
    const std::size_t first = last + 1 >= text.size() ? last + 1 - text.size() : 0;
    return scalar("nombre " + std::string(original_.substr(first, text.size())), true);
  }
  bool string(Json::string_t& value) {
    if (depth_ == 1 && member_ && expected_of(*member_) == Expected::Text) {
      assign(std::move(value));
      return true;
    }
    return scalar("chaîne", false);
  }
  bool binary(Json::binary_t&) { return scalar("binaire", false); }

  bool key(Json::string_t& name) {
    if (depth_ != 1) return true;
    if (!seen_names_.insert(name).second) {
      return fail("champ " + in_guillemets(name) + " en double", last_index());
    }
    member_ = member_named(name);
    skipping_ = !member_.has_value();
    return true;
  }

  bool start_object(std::size_t) {
    if (depth_ == 0) {
      depth_ = 1;
      return true;
    }
    return enter_nested("objet");
  }
  bool end_object() {
    if (--depth_ > 0) return true;
    for (std::size_t i = 0; i < MEMBER_COUNT; ++i) {
      if (MEMBER_REQUIRED[i] && !present_[i]) {
        return fail("champ " + in_guillemets(MEMBER_NAMES[i]) + " manquant", last_index());
      }
    }
    return true;
  }
  bool start_array(std::size_t) { return enter_nested("tableau"); }
  bool end_array() {
    --depth_;
    return true;
  }

  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& error) {
    // `position` counts the bytes read, the offending one included. The
    // description quotes the last bytes read, which can stop inside a
    // character; it must stay UTF-8 for the answers it ends up in.
    fault_ = Fault{decode_utf8_lossy(json_fault_description(error.what())),
                   position == 0 ? 0 : position - 1};
    return false;
  }

  [[nodiscard]] const std::optional<Fault>& fault() const { return fault_; }
  [[nodiscard]] KeyboardJson take_record() { return std::move(record_); }

  std::size_t last_index() const { return taken_ == 0 ? 0 : taken_ - 1; }

  // The lexer reads one byte past a number to see where it ends, unless the
  // text ended right after it.
  std::size_t number_index() const {
    if (taken_ == 0) return 0;
    const char last = text_[taken_ - 1];
    const bool part_of_number = (last >= '0' && last <= '9') || last == '.' || last == 'e' ||
                                last == 'E' || last == '+' || last == '-';
    return part_of_number || taken_ < 2 ? taken_ - 1 : taken_ - 2;
  }

  bool fail(std::string description, std::size_t index) {
    fault_ = Fault{std::move(description), index};
    return false;
  }

  bool enter_nested(std::string_view what) {
    if (depth_ == 1 && !skipping_) return type_fault(what, last_index());
    if (depth_ == 0) return type_fault(what, last_index());
    if (++depth_ > MAX_ANSWER_DEPTH) {
      return fail("imbrication de plus de " + std::to_string(MAX_ANSWER_DEPTH) + " niveaux",
                  last_index());
    }
    return true;
  }

  bool integer(std::uint64_t value) {
    if (depth_ == 1 && member_ && expected_of(*member_) == Expected::Byte) {
      if (value > 255) {
        return fail("valeur invalide pour " + in_guillemets(MEMBER_NAMES[index_of(*member_)]) +
                        " : " + std::to_string(value) +
                        ", attendu : " + expectation_text(Expected::Byte),
                    number_index());
      }
      assign(static_cast<std::uint8_t>(value));
      return true;
    }
    return scalar("entier " + std::to_string(value), true);
  }

  // A negative integer: the right type for a level, but out of its range.
  bool negative_integer(const std::string& text) {
    if (depth_ == 1 && member_ && expected_of(*member_) == Expected::Byte) {
      return fail("valeur invalide pour " + in_guillemets(MEMBER_NAMES[index_of(*member_)]) +
                      " : " + text + ", attendu : " + expectation_text(Expected::Byte),
                  number_index());
    }
    return scalar("entier " + text, true);
  }

  // A value that is not what the current member needs: fine inside a skipped
  // member, a type fault anywhere else.
  bool scalar(const std::string& what, bool is_number) {
    if (depth_ > 1 || (depth_ == 1 && skipping_)) return true;
    return type_fault(what, is_number ? number_index() : last_index());
  }

  bool type_fault(std::string_view what, std::size_t index) {
    if (depth_ == 0) {
      return fail("type invalide : " + std::string(what) + ", attendu : struct KeyboardJson",
                  index);
    }
    return fail("type invalide pour " + in_guillemets(MEMBER_NAMES[index_of(*member_)]) + " : " +
                    std::string(what) + ", attendu : " + expectation_text(expected_of(*member_)),
                index);
  }

  static std::size_t index_of(Member member) { return static_cast<std::size_t>(member); }

  void assign(bool value) {
    switch (*member_) {
      case Member::Available:
        record_.available = value;
        break;
      case Member::Known:
        record_.known = value;
        break;
      case Member::Applied:
        record_.applied = value;
        break;
      default:
        break;
    }
    present_[index_of(*member_)] = true;
  }
  void assign(std::uint8_t value) {
    (*member_ == Member::Level ? record_.level : record_.max_level) = value;
    present_[index_of(*member_)] = true;
  }
  void assign(std::string value) {
    (*member_ == Member::Source ? record_.source : record_.reason) = std::move(value);
    present_[index_of(*member_)] = true;
  }

  std::string_view text_;
  std::string_view original_;
  const std::size_t& taken_;
  std::size_t depth_ = 0;
  std::optional<Member> member_;
  bool skipping_ = false;
  std::set<std::string, std::less<>> seen_names_;
  std::array<bool, MEMBER_COUNT> present_{};
  KeyboardJson record_;
  std::optional<Fault> fault_;
};

HalError unavailable_with(const std::string& reason, std::string_view fallback) {
  return HalError::unavailable(reason.empty() ? std::string(fallback) : reason);
}

}  // namespace

std::expected<KeyboardJson, std::string> decode_keyboard_json(std::string_view text) {
  if (const auto nul = first_nul_byte(text)) {
    return std::unexpected(std::string(NUL_BYTE_FAULT) + line_column_suffix(text, *nul));
  }
  const std::string tamed = with_huge_numbers_tamed(text);
  std::size_t taken = 0;
  AnswerReader reader(tamed, text, taken);
  const CountingIterator first(tamed.data(), &taken);
  const CountingIterator last(tamed.data() + tamed.size(), &taken);
  if (Json::sax_parse(first, last, &reader)) return reader.take_record();
  if (const auto& fault = reader.fault()) {
    return std::unexpected(quoted_as_received(fault->description, tamed, text, fault->index) +
                           line_column_suffix(text, fault->index));
  }
  // The parser stops only through the reader, which always records why.
  return std::unexpected("réponse incomplète" + line_column_suffix(text, text.size()));
}

HalResult<KeyboardState> parse_keyboard_answer(std::string_view text, std::string_view mode) {
  auto record = decode_keyboard_json(trim_white_space(text));
  if (!record) {
    return std::unexpected(
        HalError::invalid_data("réponse de rétroéclairage illisible : " + record.error()));
  }
  if (!record->available) {
    return std::unexpected(
        unavailable_with(record->reason, "aucune interface de rétroéclairage clavier détectée"));
  }
  if (mode == "write" && !record->applied) {
    return std::unexpected(
        unavailable_with(record->reason, "la commande de rétroéclairage n'a pas été appliquée"));
  }
  const auto source = source_from_text(record->source);
  if (!source) {
    return std::unexpected(
        HalError::invalid_data("source de rétroéclairage inconnue : " + record->source));
  }
  const std::uint8_t max_level =
      record->max_level == 0 ? std::uint8_t{1} : std::min(record->max_level, MAX_BACKLIGHT_LEVEL);
  return KeyboardState{record->known, *source, std::min(record->level, max_level), max_level};
}

}  // namespace nivalto
