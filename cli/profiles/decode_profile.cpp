// The only translation unit that sees the TOML parser: it is heavy to compile.
#include "cli/profiles/decode_profile.h"

// The parser's internal assertions are compiled out of release builds, and
// out of every build here, so that tests and fuzzing exercise the code that
// ships. Some fire on malformed input that the parser then rejects by its own
// checks; the raw-text guard keeps away the inputs known to do worse.
#define TOML_ASSERT(expr) static_assert(true)
// clang-format off
#include <toml++/toml.h>
// clang-format on

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "cli/profiles/direct_profile_reader.h"
#include "cli/profiles/toml_guard.h"

namespace nivalto {
namespace {

struct Fault {
  TextPosition where;
  std::string reason;
};

template <typename T>
using Decoded = std::expected<T, Fault>;

TextPosition position_of(const toml::source_position& position) {
  return {position.line, position.column};
}

std::string framed(TextPosition where, std::string_view reason) {
  std::string text =
      "ligne " + std::to_string(where.line) + ", colonne " + std::to_string(where.column) + " : ";
  text.append(reason);
  return text;
}

std::unexpected<Fault> fault_at(const toml::node& node, std::string reason) {
  return std::unexpected(Fault{position_of(node.source().begin), std::move(reason)});
}

// "`a`", "`a` or `b`", "one of `a`, `b`, `c`".
std::string expected_names(std::span<const std::string_view> names) {
  const auto ticked = [](std::string_view name) { return "`" + std::string(name) + "`"; };
  if (names.size() == 1) return ticked(names[0]);
  if (names.size() == 2) return ticked(names[0]) + " or " + ticked(names[1]);
  std::string text = "one of ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += ", ";
    text += ticked(names[i]);
  }
  return text;
}

// Control characters written as escapes, so that a message stays on one line
// whatever the document holds; with `quote_marks`, quotation marks and
// backslashes are escaped too, for a text shown between double quotes.
std::string escaped(std::string_view text, bool quote_marks) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (quote_marks && (c == '"' || c == '\\')) {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u{%x}", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

std::string quoted(std::string_view text) { return "\"" + escaped(text, true) + "\""; }

std::string float_text(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, ec == std::errc{} ? end : buffer);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

std::string two_digits(unsigned value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02u", value % 100);
  return buffer;
}

std::string date_text(const toml::date& date) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04u-", static_cast<unsigned>(date.year) % 10000);
  return buffer + two_digits(date.month) + "-" + two_digits(date.day);
}

std::string time_text(const toml::time& time) {
  std::string text =
      two_digits(time.hour) + ":" + two_digits(time.minute) + ":" + two_digits(time.second);
  if (time.nanosecond != 0) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, ".%09u", static_cast<unsigned>(time.nanosecond));
    std::string fraction = buffer;
    while (fraction.back() == '0') fraction.pop_back();
    text += fraction;
  }
  return text;
}

std::string date_time_text(const toml::date_time& value) {
  std::string text = date_text(value.date) + "T" + time_text(value.time);
  if (value.offset) {
    const int minutes = value.offset->minutes;
    if (minutes == 0) {
      text += "Z";
    } else {
      const unsigned magnitude = static_cast<unsigned>(minutes < 0 ? -minutes : minutes);
      text +=
          (minutes < 0 ? "-" : "+") + two_digits(magnitude / 60) + ":" + two_digits(magnitude % 60);
    }
  }
  return text;
}

// What a type or range error says it found.
std::string found(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string:
      return "string " + quoted(node.as_string()->get());
    case toml::node_type::integer:
      return "integer `" + std::to_string(node.as_integer()->get()) + "`";
    case toml::node_type::floating_point:
      return "floating point `" + float_text(node.as_floating_point()->get()) + "`";
    case toml::node_type::boolean:
      return node.as_boolean()->get() ? "boolean `true`" : "boolean `false`";
    case toml::node_type::date:
      return "date `" + date_text(node.as_date()->get()) + "`";
    case toml::node_type::time:
      return "time `" + time_text(node.as_time()->get()) + "`";
    case toml::node_type::date_time:
      return "date-time `" + date_time_text(node.as_date_time()->get()) + "`";
    case toml::node_type::array:
      return "sequence";
    case toml::node_type::table:
    case toml::node_type::none:
      break;
  }
  return "map";
}

std::unexpected<Fault> invalid_type(const toml::node& node, std::string_view expected) {
  return fault_at(node, "invalid type: " + found(node) + ", expected " + std::string(expected));
}

// The parser keeps a table's keys sorted by name; faults are reported in the
// order the document writes the keys, which their source positions give.
std::vector<std::pair<const toml::key*, const toml::node*>> in_document_order(
    const toml::table& table) {
  std::vector<std::pair<const toml::key*, const toml::node*>> entries;
  entries.reserve(table.size());
  for (const auto& [key, node] : table) entries.emplace_back(&key, &node);
  std::ranges::stable_sort(entries, {}, [](const auto& entry) {
    const toml::source_position& begin = entry.first->source().begin;
    return std::pair{begin.line, begin.column};
  });
  return entries;
}

// The fields of one record as the file spells them, in declaration order.
template <std::size_t N>
struct Fields {
  std::array<std::string_view, N> names;
  std::array<bool, N> required;

  std::optional<std::size_t> index_of(std::string_view name) const {
    const auto it = std::ranges::find(names, name);
    if (it == names.end()) return std::nullopt;
    return static_cast<std::size_t>(it - names.begin());
  }
};

// Walks a closed table: every key must be one of `fields`, each value goes to
// `decode_field(index, node)` in document order, then the first required
// field still missing is reported at the table. A `tag` key, already read by
// the caller, is passed over.
template <std::size_t N, typename DecodeField>
Decoded<void> decode_table(const toml::table& table, const Fields<N>& fields,
                           DecodeField&& decode_field,
                           std::optional<std::string_view> tag = std::nullopt) {
  std::array<bool, N> seen{};
  for (const auto& [key, node] : in_document_order(table)) {
    if (tag && key->str() == *tag) continue;
    const auto index = fields.index_of(key->str());
    if (!index) {
      return std::unexpected(Fault{position_of(key->source().begin),
                                   "unknown field `" + escaped(key->str(), false) + "`, expected " +
                                       expected_names(fields.names)});
    }
    if (auto decoded = decode_field(*index, *node); !decoded) return decoded;
    seen[*index] = true;
  }
  for (std::size_t i = 0; i < N; ++i) {
    if (fields.required[i] && !seen[i]) {
      return fault_at(table, "missing field `" + std::string(fields.names[i]) + "`");
    }
  }
  return {};
}

Decoded<std::string> decode_text(const toml::node& node) {
  if (const auto* text = node.as_string()) return text->get();
  return invalid_type(node, "a string");
}

Decoded<std::vector<std::string>> decode_texts(const toml::node& node) {
  const auto* array = node.as_array();
  if (array == nullptr) return invalid_type(node, "a sequence");
  std::vector<std::string> texts;
  texts.reserve(array->size());
  for (const toml::node& element : *array) {
    auto text = decode_text(element);
    if (!text) return std::unexpected(std::move(text.error()));
    texts.push_back(std::move(*text));
  }
  return texts;
}

Decoded<std::int64_t> decode_integer(const toml::node& node, std::string_view type_name,
                                     std::int64_t min, std::int64_t max) {
  const auto* integer = node.as_integer();
  if (integer == nullptr) return invalid_type(node, type_name);
  const std::int64_t value = integer->get();
  if (value < min || value > max) {
    return fault_at(node, "invalid value: integer `" + std::to_string(value) + "`, expected " +
                              std::string(type_name));
  }
  return value;
}

Decoded<std::uint32_t> decode_u32(const toml::node& node) {
  auto value = decode_integer(node, "u32", 0, std::numeric_limits<std::uint32_t>::max());
  if (!value) return std::unexpected(std::move(value.error()));
  return static_cast<std::uint32_t>(*value);
}

template <typename Enum, std::size_t N>
Decoded<Enum> decode_spelling(const toml::node& node,
                              const std::array<std::string_view, N>& spellings) {
  const auto* text = node.as_string();
  if (text == nullptr) return invalid_type(node, expected_names(spellings));
  const auto it = std::ranges::find(spellings, std::string_view(text->get()));
  if (it == spellings.end()) {
    return fault_at(node, "unknown variant `" + escaped(text->get(), false) + "`, expected " +
                              expected_names(spellings));
  }
  return static_cast<Enum>(it - spellings.begin());
}

// Assigns a decoded value to its field, or passes the fault on.
// Ranges are checked before this, so integer conversions here never narrow.
template <typename Target, typename T>
Decoded<void> store(Target& target, Decoded<T>&& decoded) {
  if (!decoded) return std::unexpected(std::move(decoded.error()));
  if constexpr (std::is_integral_v<Target> && std::is_integral_v<T>) {
    target = static_cast<Target>(*decoded);
  } else {
    target = std::move(*decoded);
  }
  return {};
}

constexpr std::array<std::string_view, 2> SCOPE_SPELLINGS{"model", "family"};
constexpr std::array<std::string_view, 3> CONFIDENCE_SPELLINGS{"validated", "documented",
                                                               "assumed"};
constexpr std::array<std::string_view, 5> METHOD_SPELLINGS{"msr", "ec", "wmi", "acpi",
                                                           "platform_profile"};

constexpr Fields<6> PROFILE_FIELDS{
    {"schema_version", "id", "display_name", "scope", "matches", "capabilities"},
    {true, true, true, true, true, false}};
constexpr Fields<2> MATCHES_FIELDS{{"mtm", "version_contains"}, {false, false}};
constexpr Fields<8> CAPABILITY_FIELDS{
    {"id", "label", "access", "confidence", "sources", "validated_on", "bounds", "notes"},
    {true, true, true, true, true, false, false, false}};
constexpr Fields<2> BOUNDS_FIELDS{{"min", "max"}, {true, true}};
constexpr Fields<1> MSR_FIELDS{{"address"}, {true}};
constexpr Fields<1> EC_FIELDS{{"offset"}, {true}};
constexpr Fields<2> WMI_FIELDS{{"class", "property"}, {true, true}};
constexpr Fields<1> ACPI_FIELDS{{"path"}, {true}};

// Decodes the fields of one `access` variant; `method` is passed over.
template <typename Variant, std::size_t N, typename DecodeField>
Decoded<Access> decode_variant(const toml::table& table, const Fields<N>& fields,
                               DecodeField&& decode_field) {
  Variant variant;
  auto decoded = decode_table(
      table, fields,
      [&](std::size_t index, const toml::node& value) {
        return decode_field(variant, index, value);
      },
      "method");
  if (!decoded) return std::unexpected(std::move(decoded.error()));
  return variant;
}

Decoded<Access> decode_access(const toml::node& node) {
  const auto* table = node.as_table();
  if (table == nullptr) return invalid_type(node, "internally tagged enum Access");
  const toml::node* method_node = table->get("method");
  if (method_node == nullptr) return fault_at(*table, "missing field `method`");
  auto method = decode_spelling<std::size_t>(*method_node, METHOD_SPELLINGS);
  if (!method) return std::unexpected(std::move(method.error()));

  switch (*method) {
    case 0:
      return decode_variant<Msr>(*table, MSR_FIELDS,
                                 [](Msr& msr, std::size_t, const toml::node& value) {
                                   return store(msr.address, decode_u32(value));
                                 });
    case 1:
      return decode_variant<Ec>(
          *table, EC_FIELDS, [](Ec& ec, std::size_t, const toml::node& value) {
            return store(ec.offset, decode_integer(value, "u8", 0, UINT8_MAX));
          });
    case 2:
      return decode_variant<Wmi>(
          *table, WMI_FIELDS, [](Wmi& wmi, std::size_t index, const toml::node& value) {
            return store(index == 0 ? wmi.class_name : wmi.property, decode_text(value));
          });
    case 3:
      return decode_variant<Acpi>(*table, ACPI_FIELDS,
                                  [](Acpi& acpi, std::size_t, const toml::node& value) {
                                    return store(acpi.path, decode_text(value));
                                  });
    default:
      // A platform profile carries no data and tolerates any further keys.
      return PlatformProfile{};
  }
}

Decoded<Bounds> decode_bounds(const toml::node& node) {
  const auto* table = node.as_table();
  if (table == nullptr) return invalid_type(node, "struct Bounds");
  Bounds bounds;
  auto decoded =
      decode_table(*table, BOUNDS_FIELDS, [&](std::size_t index, const toml::node& value) {
        return store(index == 0 ? bounds.min : bounds.max,
                     decode_integer(value, "i64", std::numeric_limits<std::int64_t>::min(),
                                    std::numeric_limits<std::int64_t>::max()));
      });
  if (!decoded) return std::unexpected(std::move(decoded.error()));
  return bounds;
}

Decoded<Capability> decode_capability(const toml::node& node) {
  const auto* table = node.as_table();
  if (table == nullptr) return invalid_type(node, "struct Capability");
  Capability capability;
  auto decoded =
      decode_table(*table, CAPABILITY_FIELDS, [&](std::size_t index, const toml::node& value) {
        switch (index) {
          case 0:
            return store(capability.id, decode_text(value));
          case 1:
            return store(capability.label, decode_text(value));
          case 2:
            return store(capability.access, decode_access(value));
          case 3:
            return store(capability.confidence,
                         decode_spelling<Confidence>(value, CONFIDENCE_SPELLINGS));
          case 4:
            return store(capability.sources, decode_texts(value));
          case 5:
            return store(capability.validated_on, decode_text(value));
          case 6:
            return store(capability.bounds, decode_bounds(value));
          default:
            return store(capability.notes, decode_text(value));
        }
      });
  if (!decoded) return std::unexpected(std::move(decoded.error()));
  return capability;
}

Decoded<std::vector<Capability>> decode_capabilities(const toml::node& node) {
  const auto* array = node.as_array();
  if (array == nullptr) return invalid_type(node, "a sequence");
  std::vector<Capability> capabilities;
  capabilities.reserve(array->size());
  for (const toml::node& element : *array) {
    auto capability = decode_capability(element);
    if (!capability) return std::unexpected(std::move(capability.error()));
    capabilities.push_back(std::move(*capability));
  }
  return capabilities;
}

Decoded<Matches> decode_matches(const toml::node& node) {
  const auto* table = node.as_table();
  if (table == nullptr) return invalid_type(node, "struct Matches");
  Matches matches;
  auto decoded =
      decode_table(*table, MATCHES_FIELDS, [&](std::size_t index, const toml::node& value) {
        return store(index == 0 ? matches.mtm : matches.version_contains, decode_texts(value));
      });
  if (!decoded) return std::unexpected(std::move(decoded.error()));
  return matches;
}

Decoded<MachineProfile> decode_root(const toml::table& root) {
  MachineProfile profile;
  auto decoded =
      decode_table(root, PROFILE_FIELDS, [&](std::size_t index, const toml::node& value) {
        switch (index) {
          case 0:
            return store(profile.schema_version, decode_u32(value));
          case 1:
            return store(profile.id, decode_text(value));
          case 2:
            return store(profile.display_name, decode_text(value));
          case 3:
            return store(profile.scope, decode_spelling<ProfileScope>(value, SCOPE_SPELLINGS));
          case 4:
            return store(profile.matches, decode_matches(value));
          default:
            return store(profile.capabilities, decode_capabilities(value));
        }
      });
  if (!decoded) return std::unexpected(std::move(decoded.error()));
  return profile;
}

struct ParsedDocument {
  toml::table root;
  TomlTextReport report;  // translates the parser's positions back to the text's
};

// Parses a TOML 1.1.0 document: size, nesting and character guards first,
// then the parser, then the TOML 1.1.0 rules the parser does not enforce.
std::expected<ParsedDocument, std::string> parse_document(std::string_view text) {
  if (text.size() > MAX_PROFILE_BYTES) {
    return std::unexpected(framed({}, "document of " + std::to_string(text.size()) +
                                          " bytes, more than the " +
                                          std::to_string(MAX_PROFILE_BYTES) + " allowed"));
  }
  TomlTextReport report = scan_toml_text(text);
  if (report.refused) return std::unexpected(framed(report.refused->where, report.refused->reason));
  toml::parse_result parsed =
      report.escapes.empty() ? toml::parse(text) : toml::parse(parser_text(text, report));
  if (!parsed) {
    const toml::parse_error& error = parsed.error();
    return std::unexpected(framed(original_position(position_of(error.source().begin), report),
                                  escaped(error.description(), false)));
  }
  if (report.beyond_toml_11) {
    return std::unexpected(framed(report.beyond_toml_11->where, report.beyond_toml_11->reason));
  }
  return ParsedDocument{std::move(parsed).table(), std::move(report)};
}

}  // namespace

std::expected<void, std::string> check_toml_document(std::string_view text) {
  auto document = parse_document(text);
  if (!document) return std::unexpected(std::move(document.error()));
  return {};
}

std::expected<MachineProfile, std::string> decode_profile(std::string_view text) {
  if (auto profile = read_profile_directly(text)) return std::move(*profile);
  return decode_profile_by_parser(text);
}

std::expected<MachineProfile, std::string> decode_profile_by_parser(std::string_view text) {
  auto document = parse_document(text);
  if (!document) return std::unexpected(std::move(document.error()));
  auto profile = decode_root(document->root);
  if (!profile) {
    return std::unexpected(
        framed(original_position(profile.error().where, document->report), profile.error().reason));
  }
  return std::move(*profile);
}

}  // namespace nivalto
