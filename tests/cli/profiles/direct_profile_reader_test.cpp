// The direct reader against the TOML parser's path: what it takes it must
// decode to the very profile the parser's path gives, and what it declines
// must still get the parser's answer from decode_profile().
#include "cli/profiles/direct_profile_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/profiles/decode_profile.h"
#include "cli/profiles/load_profiles.h"
#include "tests/support/file_bytes.h"

namespace nivalto {
namespace {

using testing::file_bytes;

// True when the direct reader takes the text. Either way, decode_profile()
// answers exactly as the parser's path does.
bool taken_and_agreed(const std::string& text, const std::string& what) {
  const auto direct = read_profile_directly(text);
  const auto parsed = decode_profile_by_parser(text);
  const auto decoded = decode_profile(text);
  if (direct) {
    EXPECT_TRUE(parsed) << what
                        << ": the parser's path refuses what the reader took: " << parsed.error();
    EXPECT_TRUE(parsed && *parsed == *direct) << what << ": the two paths decode differently";
  }
  EXPECT_EQ(decoded.has_value(), parsed.has_value()) << what;
  if (decoded && parsed) {
    EXPECT_TRUE(*decoded == *parsed) << what;
  } else if (!decoded && !parsed) {
    EXPECT_EQ(decoded.error(), parsed.error()) << what;
  }
  return direct.has_value();
}

std::vector<std::filesystem::path> files_in(const std::filesystem::path& directory) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  return files;
}

TEST(DirectProfileReader, TakesEveryShippedProfile) {
  std::vector<std::string> declined;
  std::size_t profiles = 0;
  for (const auto& file : files_in(NIVALTO_SOURCE_DIR "/profiles")) {
    if (!has_profile_extension(file.filename().string())) continue;
    ++profiles;
    if (!taken_and_agreed(file_bytes(file), file.string())) declined.push_back(file.string());
  }
  EXPECT_GT(profiles, 0u);
  EXPECT_TRUE(declined.empty()) << "these profiles leave the direct reader: "
                                << ::testing::PrintToString(declined);
}

TEST(DirectProfileReader, AgreesOnTheConformanceFilesAndTheFuzzCorpora) {
  const std::string suite = NIVALTO_SHARED_DIR "/toml-test/";
  std::ifstream list(suite + "files-toml-1.1.0");
  std::size_t valid = 0;
  for (std::string line; std::getline(list, line);) {
    if (!line.starts_with("valid/") || !line.ends_with(".toml")) continue;
    ++valid;
    taken_and_agreed(file_bytes(suite + line), line);
  }
  EXPECT_EQ(valid, 220u);
  for (const auto& corpus : files_in(NIVALTO_SOURCE_DIR "/fuzz/corpus/decode_profile")) {
    taken_and_agreed(file_bytes(corpus), corpus.string());
  }
  // The seeds of the differential target are profiles the reader takes, so
  // that its mutations start from the direct path.
  std::size_t seeds = 0;
  for (const auto& seed : files_in(NIVALTO_SOURCE_DIR "/fuzz/corpus/direct_profile_reader")) {
    EXPECT_TRUE(taken_and_agreed(file_bytes(seed), seed.string())) << seed;
    ++seeds;
  }
  EXPECT_GT(seeds, 0u);
}

constexpr std::string_view BASE = R"(schema_version = 1
id = "t480"
display_name = "ThinkPad T480"
scope = "model"

[matches]
mtm = ["20L5"]

[[capabilities]]
id = "kbd"
label = "Clavier"
access = { method = "ec", offset = 0x0D }
confidence = "validated"
sources = ["manuel"]
validated_on = "2024-05-01"
)";

// BASE with the first `from` replaced by `to` (appended when `from` is empty).
std::string edited(std::string_view from, std::string_view to) {
  std::string text(BASE);
  if (from.empty()) return text + std::string(to);
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string replaced_everywhere(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

TEST(DirectProfileReader, TakesWhatItKnowsAndDeclinesTheRest) {
  const std::string too_large = edited("", "#" + std::string(MAX_PROFILE_BYTES, 'x') + "\n");
  const struct {
    const char* what;
    std::string text;
    bool taken;
  } cases[] = {
      {"the base profile", std::string(BASE), true},
      {"line breaks CR LF", replaced_everywhere(std::string(BASE), "\n", "\r\n"), true},
      {"byte order mark", "\xEF\xBB\xBF" + std::string(BASE), true},
      {"tab, escapes, TOML 1.1 escapes",
       edited("\"Clavier\"", "\"C\tl\\u00e9\\U0001F600\\e\\x41\\\"\\\\\\b\\f\\n\\r\""), true},
      {"literal string", edited("\"Clavier\"", "'C:\\x\\u'"), true},
      {"comments with UTF-8", edited("\"Clavier\"", "\"Clavier\" # café\n# ligne ☃"), true},
      {"inline table over lines, trailing comma",
       edited("{ method = \"ec\", offset = 0x0D }", "{\n  method = \"ec\", # c\n  offset = 13,\n}"),
       true},
      {"octal", edited("0x0D", "0o15"), true},
      {"binary with underscores", edited("0x0D", "0b1_101"), true},
      {"i64 extremes",
       edited("", "bounds = { min = -9_223_372_036_854_775_808, max = +9223372036854775807 }\n"),
       true},
      {"access table header",
       edited("access = { method = \"ec\", offset = 0x0D }\n", "") +
           "[ capabilities . access ]\noffset = 13\nmethod = \"ec\"\n",
       true},
      {"inline array of capabilities",
       std::string(BASE.substr(0, BASE.find("[matches]"))) +
           "capabilities = [\n  { id = \"x\", label = \"\", confidence = \"assumed\", sources = "
           "[\"s\"], access = { method = \"platform_profile\" } },\n]\n[matches]\nmtm = []\n",
       true},
      {"long texts with tabs and accents",
       edited("\"Clavier\"",
              "\"Rétroéclairage\tdu clavier, niveaux ☃ 0 à 2\"\nnotes = "
              "'Rétroéclairage\tdu clavier, 𝄞 au-delà de huit octets'"),
       true},
      {"escape after sixteen bytes", edited("\"Clavier\"", "\"Rétroéclairage du\\tclavier\""),
       true},
      {"spelling written with an escape", edited("\"model\"", "\"\\u006Dodel\""), true},
      {"key of sixteen bytes",
       edited("mtm = [\"20L5\"]", "version_contains = []\nmtm = [\"20L5\"]"), true},
      {"known key in the last bytes", edited("", "notes='x'"), true},
      // Valid TOML the reader leaves to the parser.
      {"multi-line basic string", edited("\"Clavier\"", "\"\"\"Clavier\"\"\""), false},
      {"multi-line literal string", edited("\"Clavier\"", "'''Clavier'''"), false},
      {"quoted key", edited("label =", "\"label\" ="), false},
      {"dotted key",
       edited("access = { method = \"ec\", offset = 0x0D }",
              "access.method = \"ec\"\naccess.offset = 13"),
       false},
      {"platform profile with a further key",
       edited("method = \"ec\", offset = 0x0D", "method = \"platform_profile\", offset = 1"),
       false},
      // Faults of TOML.
      {"key written twice", edited("label =", "id = \"x\"\nlabel ="), false},
      {"leading zero", edited("0x0D", "013"), false},
      {"trailing underscore", edited("0x0D", "13_"), false},
      {"sign before hexadecimal", edited("0x0D", "+0x0D"), false},
      {"upper-case prefix", edited("0x0D", "0X0D"), false},
      {"beyond i64", edited("", "bounds = { min = 9223372036854775808, max = 1 }\n"), false},
      {"unknown escape", edited("\"Clavier\"", "\"\\q\""), false},
      {"surrogate escape", edited("\"Clavier\"", "\"\\uD800\""), false},
      {"control character in a string", edited("\"Clavier\"", "\"\x01\""), false},
      {"lone carriage return", edited("\"Clavier\"\n", "\"Clavier\"\r"), false},
      {"invalid UTF-8 in a comment", edited("", "# \xC3\x28\n"), false},
      {"delete in a comment", edited("", "# \x7F\n"), false},
      {"control character after eight bytes", edited("\"Clavier\"", "\"Clavier du portable\x01\""),
       false},
      {"delete after eight bytes", edited("\"Clavier\"", "'Clavier du portable\x7F'"), false},
      {"invalid UTF-8 after eight bytes", edited("\"Clavier\"", "\"Clavier du \xC3\x28 portable\""),
       false},
      {"overlong UTF-8 in a text", edited("\"Clavier\"", "\"Clavier \xC0\xAF du portable\""),
       false},
      {"UTF-8 cut by the closing quote", edited("\"Clavier\"", "\"Clavier du portable\xE2\x98\""),
       false},
      {"string cut by the end", edited("", "notes = \"open"), false},
      {"two values on a line", edited("\"Clavier\"", "\"Clavier\" \"x\""), false},
      {"table defined twice", edited("", "[matches]\n"), false},
      {"header after inline matches",
       edited("[matches]\nmtm = [\"20L5\"]", "matches = {}\n[matches]"), false},
      {"access header after inline access", edited("", "[capabilities.access]\nmethod = \"ec\"\n"),
       false},
      {"array of tables after an inline array", edited("[matches]", "capabilities = []\n[matches]"),
       false},
      {"trailing comma alone", edited("{ method", "{ , method"), false},
      {"larger than a profile may be", too_large, false},
      // Faults of the profile format.
      {"unknown key", edited("", "vendor = \"x\"\n"), false},
      {"key that a known key begins", edited("label =", "labels = \"x\"\nlabel ="), false},
      {"key one byte longer than a known one of sixteen",
       edited("mtm = [\"20L5\"]", "version_containsx = []\nmtm = [\"20L5\"]"), false},
      {"known key cut by the end", edited("", "notes"), false},
      {"required key missing", edited("label = \"Clavier\"\n", ""), false},
      {"matches missing", edited("[matches]\nmtm = [\"20L5\"]\n", ""), false},
      {"string for an integer", edited("0x0D", "\"13\""), false},
      {"u8 out of range", edited("0x0D", "256"), false},
      {"u32 out of range",
       edited("method = \"ec\", offset = 0x0D", "method = \"msr\", address = 0x1_0000_0000"),
       false},
      {"negative schema version", edited("schema_version = 1", "schema_version = -1"), false},
      {"float", edited("schema_version = 1", "schema_version = 1.0"), false},
      {"date for a text", edited("\"2024-05-01\"", "2024-05-01"), false},
      {"scope spelt in capitals", edited("\"model\"", "\"Model\""), false},
      {"field of another method", edited("offset = 0x0D", "address = 13"), false},
      {"access without method", edited("method = \"ec\", ", ""), false},
      {"bounds without max", edited("", "bounds = { min = 0 }\n"), false},
      {"text for a list", edited("[\"20L5\"]", "\"20L5\""), false},
      {"table for a capability's header", edited("[[capabilities]]", "[capabilities]"), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(taken_and_agreed(c.text, c.what), c.taken) << c.what;
  }
}

}  // namespace
}  // namespace nivalto
