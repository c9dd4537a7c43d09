// The TOML parser measured against the official TOML 1.1.0 conformance files:
// every valid document must be accepted and every invalid one rejected.
#include <gtest/gtest.h>

// As in the decoder, so that both translation units compile the same parser.
#define TOML_ASSERT(expr) static_assert(true)
// clang-format off
#include <toml++/toml.h>
// clang-format on

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/profiles/decode_profile.h"
#include "cli/profiles/toml_guard.h"
#include "tests/support/file_bytes.h"

namespace nivalto {
namespace {

const std::string SUITE = NIVALTO_SHARED_DIR "/toml-test/";

using testing::file_bytes;

std::vector<std::string> suite_files(std::string_view kind) {
  std::ifstream list(SUITE + "files-toml-1.1.0");
  std::vector<std::string> files;
  for (std::string line; std::getline(list, line);) {
    if (line.starts_with(kind) && line.ends_with(".toml")) files.push_back(line);
  }
  return files;
}

TEST(TomlConformance, AcceptsEveryValidDocument) {
  const std::vector<std::string> files = suite_files("valid/");
  ASSERT_EQ(files.size(), 220u);
  std::vector<std::string> refused;
  for (const std::string& file : files) {
    auto checked = check_toml_document(file_bytes(SUITE + file));
    if (!checked) refused.push_back(file + " : " + checked.error());
  }
  EXPECT_EQ(files.size() - refused.size(), 220u) << ::testing::PrintToString(refused);
}

TEST(TomlConformance, RejectsEveryInvalidDocument) {
  const std::vector<std::string> files = suite_files("invalid/");
  ASSERT_EQ(files.size(), 492u);
  std::vector<std::string> accepted;
  for (const std::string& file : files) {
    if (check_toml_document(file_bytes(SUITE + file))) accepted.push_back(file);
  }
  EXPECT_EQ(files.size() - accepted.size(), 492u) << ::testing::PrintToString(accepted);
}

std::string two_digits(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02u", value % 100);
  return text;
}

std::string canonical(const toml::date& date) {
  char year[8];
  std::snprintf(year, sizeof year, "%04u", static_cast<unsigned>(date.year) % 10000);
  return year + ("-" + two_digits(date.month)) + "-" + two_digits(date.day);
}

std::string canonical(const toml::time& time) {
  std::string text =
      two_digits(time.hour) + ":" + two_digits(time.minute) + ":" + two_digits(time.second);
  if (time.nanosecond != 0) {
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%09u", static_cast<unsigned>(time.nanosecond));
    text += fraction;
    while (text.back() == '0') text.pop_back();
  }
  return text;
}

std::string canonical(const toml::date_time& value) {
  std::string text = canonical(value.date) + "T" + canonical(value.time);
  if (!value.offset) return text;
  const int minutes = value.offset->minutes;
  if (minutes == 0) return text + "Z";
  const unsigned magnitude = static_cast<unsigned>(std::abs(minutes));
  return text + (minutes < 0 ? "-" : "+") + two_digits(magnitude / 60) + ":" +
         two_digits(magnitude % 60);
}

// The suite's date and time texts in the form canonical() writes.
std::string canonical_expected(std::string text) {
  if (text.size() > 10 && text[4] == '-' && (text[10] == ' ' || text[10] == 't')) text[10] = 'T';
  if (!text.empty() && text.back() == 'z') text.back() = 'Z';
  for (const char* zero : {"+00:00", "-00:00"}) {
    if (text.ends_with(zero)) text.replace(text.size() - 6, 6, "Z");
  }
  if (const auto dot = text.find('.'); dot != std::string::npos) {
    auto end = text.find_first_not_of("0123456789", dot + 1);
    if (end == std::string::npos) end = text.size();
    auto last = end;
    while (last > dot + 1 && text[last - 1] == '0') --last;
    text.erase(last == dot + 1 ? dot : last, end - (last == dot + 1 ? dot : last));
  }
  return text;
}

bool is_leaf(const nlohmann::json& expected) {
  return expected.is_object() && expected.size() == 2 && expected.contains("type") &&
         expected.contains("value") && expected["type"].is_string() &&
         expected["value"].is_string();
}

// Where the parsed value differs from the suite's description, or "".
std::string mismatch(const toml::node& node, const nlohmann::json& expected,
                     const std::string& where) {
  if (is_leaf(expected)) {
    const std::string type = expected["type"];
    const std::string value = expected["value"];
    bool same = false;
    if (type == "string" && node.is_string()) {
      same = node.as_string()->get() == value;
    } else if (type == "integer" && node.is_integer()) {
      same = std::to_string(node.as_integer()->get()) == value;
    } else if (type == "float" && node.is_floating_point()) {
      const double parsed = node.as_floating_point()->get();
      if (value.ends_with("nan")) {
        same = std::isnan(parsed);
      } else if (value.ends_with("inf")) {
        same = std::isinf(parsed) && (parsed < 0) == value.starts_with("-");
      } else {
        same = parsed == std::strtod(value.c_str(), nullptr);
      }
    } else if (type == "bool" && node.is_boolean()) {
      same = (node.as_boolean()->get() ? "true" : "false") == value;
    } else if (type == "datetime" && node.is_date_time() && node.as_date_time()->get().offset) {
      same = canonical(node.as_date_time()->get()) == canonical_expected(value);
    } else if (type == "datetime-local" && node.is_date_time() &&
               !node.as_date_time()->get().offset) {
      same = canonical(node.as_date_time()->get()) == canonical_expected(value);
    } else if (type == "date-local" && node.is_date()) {
      same = canonical(node.as_date()->get()) == value;
    } else if (type == "time-local" && node.is_time()) {
      same = canonical(node.as_time()->get()) == canonical_expected(value);
    }
    return same ? "" : where + ": expected " + type + " " + value;
  }
  if (expected.is_array()) {
    const auto* array = node.as_array();
    if (array == nullptr || array->size() != expected.size()) return where + ": array size";
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const std::string found =
          mismatch(*array->get(i), expected[i], where + "[" + std::to_string(i) + "]");
      if (!found.empty()) return found;
    }
    return "";
  }
  const auto* table = node.as_table();
  if (table == nullptr || table->size() != expected.size()) return where + ": table size";
  for (const auto& [key, value] : expected.items()) {
    const toml::node* child = table->get(key);
    if (child == nullptr) return where + "." + key + ": missing";
    const std::string found = mismatch(*child, value, where + "." + key);
    if (!found.empty()) return found;
  }
  return "";
}

TEST(TomlConformance, ValidDocumentsHoldTheirExpectedValues) {
  std::vector<std::string> wrong;
  for (const std::string& file : suite_files("valid/")) {
    const std::string text = file_bytes(SUITE + file);
    const TomlTextReport report = scan_toml_text(text);
    ASSERT_FALSE(report.refused) << file;
    toml::parse_result parsed =
        report.escapes.empty() ? toml::parse(text) : toml::parse(parser_text(text, report));
    ASSERT_TRUE(parsed) << file;
    const std::string json_file = SUITE + file.substr(0, file.size() - 5) + ".json";
    const nlohmann::json expected = nlohmann::json::parse(file_bytes(json_file));
    const std::string found = mismatch(parsed.table(), expected, "");
    if (!found.empty()) wrong.push_back(file + " " + found);
  }
  EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
}

}  // namespace
}  // namespace nivalto
