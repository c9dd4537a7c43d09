#include "cli/document.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/profiles/profile_files.h"
#include "tests/cli/profiles/temp_directory.h"
#include "tests/support/recording_console.h"

namespace nivalto {
namespace {

using Json = nlohmann::ordered_json;
using testing::RecordingConsole;
using testing::TempDirectory;

std::string serialised(const Json& document) {
  auto text = serialise_document(document);
  EXPECT_TRUE(text) << text.error();
  return text.value_or("");
}

TEST(Document, NoticeIsTheFixedDisclaimer) {
  EXPECT_EQ(NOTICE_TEXT.size(), 211u);
  EXPECT_TRUE(NOTICE_TEXT.starts_with("Nivalto est un projet indépendant et NON OFFICIEL. "));
  EXPECT_TRUE(NOTICE_TEXT.ends_with("Fourni sans garantie : utilisation à vos risques."));
}

TEST(Document, LayoutIndentsByTwoBlanksAndKeepsMemberOrder) {
  Json document;
  document["zeta"] = 1;
  document["alpha"] = nullptr;
  document["empty"] = Json::array();
  document["list"] = Json::array({Json{{"b", 18446744073709551615u}, {"a", "x"}}, Json::object()});
  document["nested"] = Json{{"k", Json::array({1})}};
  EXPECT_EQ(serialised(document),
            "{\n"
            "  \"zeta\": 1,\n"
            "  \"alpha\": null,\n"
            "  \"empty\": [],\n"
            "  \"list\": [\n"
            "    {\n"
            "      \"b\": 18446744073709551615,\n"
            "      \"a\": \"x\"\n"
            "    },\n"
            "    {}\n"
            "  ],\n"
            "  \"nested\": {\n"
            "    \"k\": [\n"
            "      1\n"
            "    ]\n"
            "  }\n"
            "}");
}

TEST(Document, StringsCarryOnlyTheJsonEscapes) {
  Json document;
  document["s"] = std::string("q\" b\\ /\b\f\n\r\t\x01\x1f\x7f é « » ", 25) + "\xF0\x9F\x98\x80";
  EXPECT_EQ(
      serialised(document),
      "{\n  \"s\": \"q\\\" b\\\\ /\\b\\f\\n\\r\\t\\u0001\\u001f\x7f é « » \xF0\x9F\x98\x80\"\n}");
}

TEST(Document, TextThatIsNotUtf8IsAnError) {
  Json document;
  document["s"] = "\xFF";
  auto text = serialise_document(document);
  ASSERT_FALSE(text);
  EXPECT_NE(text.error().find("UTF-8"), std::string::npos) << text.error();
}

TEST(EmitDocument, ToStandardOutputWithOneLineFeed) {
  RecordingConsole console;
  ASSERT_TRUE(emit_document("{}", std::nullopt, console));
  EXPECT_EQ(console.out_text, "{}\n");
  EXPECT_EQ(console.err_text, "");
}

TEST(EmitDocument, IntoTheOutFileOnly) {
  TempDirectory directory;
  const std::string out = directory.text() + "/r\xC3\xA9sultat.json";
  RecordingConsole console;
  ASSERT_TRUE(emit_document("{\n  \"a\": 1\n}", out, console));
  EXPECT_EQ(console.out_text, "");
  EXPECT_EQ(testing::file_text(path_from_utf8(out)), "{\n  \"a\": 1\n}\n");

  // An existing file is truncated.
  ASSERT_TRUE(emit_document("{}", out, console));
  EXPECT_EQ(testing::file_text(path_from_utf8(out)), "{}\n");
}

TEST(EmitDocument, WriteFailureNamesThePathAsTyped) {
  TempDirectory directory;
  const std::string out = directory.text() + "/absent/r.json";
  RecordingConsole console;
  auto written = emit_document("{}", out, console);
  ASSERT_FALSE(written);
  EXPECT_TRUE(written.error().starts_with("écriture de " + out + " : ")) << written.error();
  EXPECT_GT(written.error().size(), ("écriture de " + out + " : ").size());
  EXPECT_EQ(console.out_text, "");
  EXPECT_FALSE(emit_document("{}", "", console));
}

TEST(LoadProfilesForCommand, WrapsTheLoaderError) {
  TempDirectory directory;
  const std::string missing = directory.text() + "/absent";
  auto profiles = load_profiles_for_command(missing);
  ASSERT_FALSE(profiles);
  EXPECT_TRUE(profiles.error().starts_with("profils (" + missing + ") : ")) << profiles.error();

  directory.write("a.toml",
                  "schema_version = 1\nid = \"a\"\ndisplay_name = \"\"\n"
                  "scope = \"family\"\n[matches]\nversion_contains = [\"A\"]\n");
  auto loaded = load_profiles_for_command(directory.text());
  ASSERT_TRUE(loaded) << loaded.error();
  ASSERT_EQ(loaded->size(), 1u);
  EXPECT_EQ(loaded->front().id, "a");

  directory.write("b.toml", "schema_version = 3\n");
  EXPECT_EQ(load_profiles_for_command(directory.text()).error(),
            "profils (" + directory.text() + ") : " + path_to_utf8(directory.path() / "b.toml") +
                " : TOML invalide : ligne 1, colonne 1 : missing field `id`");
}

}  // namespace
}  // namespace nivalto
