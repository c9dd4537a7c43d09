#include "cli/listing.h"

#include <gtest/gtest.h>

#include "cli/document.h"
#include "cli/profiles/profile_files.h"
#include "tests/cli/profiles/temp_directory.h"
#include "tests/support/recording_console.h"

namespace nivalto {
namespace {

using testing::RecordingConsole;
using testing::TempDirectory;

const std::string NOTICE_LINE = "  \"notice\": \"" + std::string(NOTICE_TEXT) + "\",\n";

constexpr std::string_view MODEL_PROFILE = R"(schema_version = 1
id = "thinkpad-t480"
display_name = "ThinkPad T480 « Ω »"
scope = "model"
[matches]
mtm = ["20L5"]
[[capabilities]]
id = "kbd"
label = "Clavier"
access = { method = "ec", offset = 13 }
confidence = "documented"
sources = ["manuel"]
[[capabilities]]
id = "fan"
label = "Ventilateur"
access = { method = "platform_profile" }
confidence = "assumed"
sources = ["x"]
)";

constexpr std::string_view FAMILY = R"(schema_version = 1
id = "t\"ab\tx"
display_name = ""
scope = "family"
[matches]
version_contains = ["T"]
)";

TEST(Listing, ListsProfilesInLoadingOrder) {
  TempDirectory directory;
  directory.write("b.toml", MODEL_PROFILE);
  directory.write("a.toml", FAMILY);
  RecordingConsole console;
  ASSERT_TRUE(run_profiles(directory.text(), std::nullopt, console));
  EXPECT_EQ(console.err_text, "");
  EXPECT_EQ(console.out_text, "{\n" + NOTICE_LINE +
                                  "  \"profiles\": [\n"
                                  "    {\n"
                                  "      \"id\": \"t\\\"ab\\tx\",\n"
                                  "      \"display_name\": \"\",\n"
                                  "      \"scope\": \"family\",\n"
                                  "      \"capabilities\": 0\n"
                                  "    },\n"
                                  "    {\n"
                                  "      \"id\": \"thinkpad-t480\",\n"
                                  "      \"display_name\": \"ThinkPad T480 « Ω »\",\n"
                                  "      \"scope\": \"model\",\n"
                                  "      \"capabilities\": 2\n"
                                  "    }\n"
                                  "  ]\n"
                                  "}\n");
}

TEST(Listing, EmptyDirectoryGivesAnEmptyList) {
  TempDirectory directory;
  directory.write("readme.md", "no profiles here");
  RecordingConsole console;
  ASSERT_TRUE(run_profiles(directory.text(), std::nullopt, console));
  EXPECT_EQ(console.out_text, "{\n" + NOTICE_LINE + "  \"profiles\": []\n}\n");
}

TEST(Listing, OutFileGetsTheSameBytes) {
  TempDirectory directory;
  directory.write("m.toml", MODEL_PROFILE);
  RecordingConsole to_stdout;
  ASSERT_TRUE(run_profiles(directory.text(), std::nullopt, to_stdout));

  const std::string out = directory.text() + "/listing.json";
  RecordingConsole to_file;
  ASSERT_TRUE(run_profiles(directory.text(), out, to_file));
  EXPECT_EQ(to_file.out_text, "");
  EXPECT_EQ(to_file.err_text, "");
  EXPECT_EQ(testing::file_text(path_from_utf8(out)), to_stdout.out_text);
}

TEST(Listing, FailuresWriteNothing) {
  TempDirectory directory;
  RecordingConsole console;
  const std::string missing = directory.text() + "/absent";
  auto result = run_profiles(missing, std::nullopt, console);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("profils (" + missing + ") : ")) << result.error();

  directory.write("a.toml", MODEL_PROFILE);
  directory.write("b.toml", "schema_version = 1\nid = \"\"\n");
  result = run_profiles(directory.text(), std::nullopt, console);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "profils (" + directory.text() +
                                ") : " + path_to_utf8(directory.path() / "b.toml") +
                                " : TOML invalide : ligne 1, colonne 1 : missing field "
                                "`display_name`");

  std::filesystem::remove(directory.path() / "b.toml");
  const std::string unwritable = directory.text() + "/absent/listing.json";
  result = run_profiles(directory.text(), unwritable, console);
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("écriture de " + unwritable + " : ")) << result.error();
  EXPECT_EQ(console.out_text, "");
}

}  // namespace
}  // namespace nivalto
