#include "cli/service/bounded_json.h"

#include <optional>

#include "nivalto/hal/json_fault.h"
#include "nivalto/hal/text.h"

namespace nivalto {
namespace {

using Json = nlohmann::json;
using DomBuilder = nlohmann::detail::json_sax_dom_parser<Json>;

struct Fault {
  std::string description;
  std::size_t index;  // 0-based byte index within the text; may equal its size (end of input)
};

// The library's own tree builder, with a depth count in front of it. The
// library's parser keeps its nesting on the heap, so aborting at the bound is
// enough to keep both the parse and the destruction of the tree shallow.
class DepthLimitedBuilder {
 public:
  explicit DepthLimitedBuilder(Json& root) : builder_(root, false) {}

  bool null() { return builder_.null(); }
  bool boolean(bool value) { return builder_.boolean(value); }
  bool number_integer(Json::number_integer_t value) { return builder_.number_integer(value); }
  bool number_unsigned(Json::number_unsigned_t value) { return builder_.number_unsigned(value); }
  bool number_float(Json::number_float_t value, const Json::string_t& text) {
    return builder_.number_float(value, text);
  }
  bool string(Json::string_t& value) { return builder_.string(value); }
  bool binary(Json::binary_t& value) { return builder_.binary(value); }
  bool key(Json::string_t& value) { return builder_.key(value); }

  bool start_object(std::size_t size) { return enter() && builder_.start_object(size); }
  bool end_object() {
    --depth_;
    return builder_.end_object();
  }
  bool start_array(std::size_t size) { return enter() && builder_.start_array(size); }
  bool end_array() {
    --depth_;
    return builder_.end_array();
  }

  bool parse_error(std::size_t position, const std::string& last_token,
                   const nlohmann::detail::exception& error) {
    parse_fault = Fault{json_fault_description(error.what()), position == 0 ? 0 : position - 1};
    return builder_.parse_error(position, last_token, error);
  }

  bool too_deep = false;
  std::optional<Fault> parse_fault;

 private:
  bool enter() {
    if (++depth_ > MAX_JSON_DEPTH) {
      too_deep = true;
      return false;
    }
    return true;
  }

  DomBuilder builder_;
  std::size_t depth_ = 0;
};

// Where the first bracket beyond the depth bound stands. Only called when the
// parser stopped there, so everything before it is well-formed JSON and a
// plain scan that skips strings counts the same depth the parser did.
std::size_t first_too_deep_bracket(std::string_view text) {
  std::size_t depth = 0;
  JsonStringTracker strings;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (strings.in_string(c)) continue;
    if (c == '[' || c == '{') {
      if (++depth > MAX_JSON_DEPTH) return i;
    } else if (c == ']' || c == '}') {
      if (depth > 0) --depth;
    }
  }
  return text.size();
}

}  // namespace

std::expected<Json, std::string> parse_bounded_json(std::string_view text) {
  if (const auto nul = first_nul_byte(text)) {
    return std::unexpected(std::string(NUL_BYTE_FAULT) + line_column_suffix(text, *nul));
  }
  const std::string tamed = with_huge_numbers_tamed(text);
  Json root;
  DepthLimitedBuilder builder(root);
  const bool parsed = Json::sax_parse(tamed.begin(), tamed.end(), &builder);
  if (parsed) return root;
  if (builder.too_deep) {
    return std::unexpected("imbrication de plus de " + std::to_string(MAX_JSON_DEPTH) + " niveaux" +
                           line_column_suffix(text, first_too_deep_bracket(text)));
  }
  if (builder.parse_fault) {
    const std::size_t index = builder.parse_fault->index;
    return std::unexpected(
        quoted_as_received(builder.parse_fault->description, tamed, text, index) +
        line_column_suffix(text, index));
  }
  // The parser stops only through the builder, so this is not reached; the
  // text still fails rather than passing as a value.
  return std::unexpected(std::string("valeur JSON incomplète"));
}

}  // namespace nivalto
