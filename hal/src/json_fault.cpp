#include "nivalto/hal/json_fault.h"

#include <cmath>
#include <cstdlib>

namespace nivalto {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::size_t digits_from(std::string_view text, std::size_t at) {
  while (at < text.size() && is_digit(text[at])) ++at;
  return at;
}

// The end of the JSON number that starts at `start` (its grammar exactly, so
// that "01" is the number 0 followed by 1, as the library reads it); `start`
// itself when no number starts there.
std::size_t number_end(std::string_view text, std::size_t start) {
  std::size_t at = start;
  if (at < text.size() && text[at] == '-') ++at;
  if (at >= text.size() || !is_digit(text[at])) return start;
  at = text[at] == '0' ? at + 1 : digits_from(text, at);
  if (at + 1 < text.size() && text[at] == '.' && is_digit(text[at + 1])) {
    at = digits_from(text, at + 1);
  }
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t exponent = at + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    if (exponent < text.size() && is_digit(text[exponent])) at = digits_from(text, exponent);
  }
  return at;
}

// The library converts with strtod and refuses what comes out infinite; the
// program never changes the C locale, so '.' is the decimal point here too.
bool overflows_double(std::string_view number) {
  const std::string copy(number);
  return std::isinf(std::strtod(copy.c_str(), nullptr));
}

}  // namespace

std::string json_fault_description(std::string_view what) {
  if (what.starts_with("[json.exception.")) {
    const auto close = what.find("] ");
    what = close == std::string_view::npos ? std::string_view{} : what.substr(close + 2);
  }
  if (what.starts_with("parse error")) {
    const auto colon = what.find(": ");
    if (colon != std::string_view::npos) what = what.substr(colon + 2);
  }
  return std::string(what);
}

std::string quoted_as_received(std::string description, std::string_view tamed,
                               std::string_view original, std::size_t index) {
  constexpr std::string_view LEAD = "last read: '";
  const auto lead = description.find(LEAD);
  if (lead == std::string::npos || tamed == original) return description;
  const std::size_t start = lead + LEAD.size();
  auto end = description.find("'; expected", start);
  if (end == std::string::npos) end = description.size() - 1;
  if (end < start || description[end] != '\'') return description;
  const std::size_t length = end - start;
  // The library writes control characters as <U+XXXX>; an excerpt that does
  // not match the text byte for byte is left as it is.
  if (index >= tamed.size() || index + 1 < length ||
      tamed.substr(index + 1 - length, length) !=
          std::string_view(description).substr(start, length)) {
    return description;
  }
  description.replace(start, length, original.substr(index + 1 - length, length));
  return description;
}

std::optional<std::size_t> first_nul_byte(std::string_view text) {
  const auto at = text.find('\0');
  if (at == std::string_view::npos) return std::nullopt;
  return at;
}

std::string with_huge_numbers_tamed(std::string_view text) {
  std::string tamed(text);
  JsonStringTracker strings;
  std::size_t at = 0;
  while (at < tamed.size()) {
    if (strings.in_string(tamed[at])) {
      ++at;
      continue;
    }
    const std::size_t end = number_end(tamed, at);
    if (end == at) {
      ++at;
      continue;
    }
    // A number too large for a double has at least five characters ("1e309").
    if (overflows_double(std::string_view(tamed).substr(at, end - at))) {
      tamed.replace(at, end - at, "0." + std::string(end - at - 2, '0'));
    }
    at = end;
  }
  return tamed;
}

}  // namespace nivalto
