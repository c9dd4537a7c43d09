#include "cli/profiles/load_profiles.h"

#include <gtest/gtest.h>

#include <vector>

#include "cli/profiles/decode_profile.h"
#include "cli/profiles/profile_files.h"
#include "tests/cli/profiles/temp_directory.h"

namespace nivalto {
namespace {

using testing::TempDirectory;

std::string model_profile(std::string_view id, std::string_view extra = "") {
  return "schema_version = 1\nid = \"" + std::string(id) +
         "\"\ndisplay_name = \"x\"\nscope = \"model\"\n" + std::string(extra) +
         "[matches]\nmtm = [\"20AB\"]\n";
}

MachineProfile valid_model() {
  MachineProfile profile;
  profile.schema_version = 1;
  profile.id = "t480";
  profile.scope = ProfileScope::Model;
  profile.matches.mtm = {"20L5"};
  return profile;
}

Capability capability(std::string id) {
  Capability result;
  result.id = std::move(id);
  result.access = PlatformProfile{};
  result.confidence = Confidence::Documented;
  result.sources = {"manuel"};
  return result;
}

// The validation error text, or "valid".
std::string verdict(const MachineProfile& profile) {
  auto valid = validate_profile(profile);
  return valid ? std::string("valid") : profile_error_text(valid.error());
}

std::vector<std::string> ids_of(const std::vector<MachineProfile>& profiles) {
  std::vector<std::string> ids;
  for (const MachineProfile& profile : profiles) ids.push_back(profile.id);
  return ids;
}

std::string shown(const std::filesystem::path& path) { return path_to_utf8(path); }

TEST(ValidateProfile, SchemaVersionComesFirst) {
  MachineProfile profile = valid_model();
  EXPECT_EQ(verdict(profile), "valid");
  profile.schema_version = 2;
  profile.id = "";
  EXPECT_EQ(validate_profile(profile).error(), ProfileError(UnsupportedSchema{2}));
  EXPECT_EQ(verdict(profile), "version de schéma 2 non supportée (attendu 1)");
  profile.schema_version = 0;
  EXPECT_EQ(verdict(profile), "version de schéma 0 non supportée (attendu 1)");
}

TEST(ValidateProfile, BlankIdentifierKeepsItsBlanks) {
  MachineProfile profile = valid_model();
  profile.id = "   ";
  EXPECT_EQ(validate_profile(profile).error(),
            ProfileError(InvalidProfile{"   ", "identifiant vide"}));
  EXPECT_EQ(verdict(profile), "profil «     » : identifiant vide");
  profile.id = "\t\xE3\x80\x80\xC2\xA0";  // tab, ideographic space, no-break space
  EXPECT_EQ(verdict(profile), "profil « \t\xE3\x80\x80\xC2\xA0 » : identifiant vide");
  profile.id = " x ";
  EXPECT_EQ(verdict(profile), "valid");
}

TEST(ValidateProfile, ScopeNeedsItsMatches) {
  MachineProfile model = valid_model();
  model.matches.mtm.clear();
  model.matches.version_contains = {"T480"};
  EXPECT_EQ(verdict(model), "profil « t480 » : profil de modèle sans MTM");

  MachineProfile family = valid_model();
  family.scope = ProfileScope::Family;
  family.display_name = "ThinkPad T480";
  EXPECT_EQ(verdict(family), "profil « t480 » : profil de famille sans nom commercial");
  family.matches.mtm.clear();
  family.matches.version_contains = {" "};  // fragments themselves are not judged
  family.display_name = "";
  EXPECT_EQ(verdict(family), "valid");
}

TEST(ValidateProfile, MachineTypesAreFourAsciiLettersOrDigits) {
  MachineProfile profile = valid_model();
  profile.matches.mtm = {"20AB", "20AB-", "x"};
  EXPECT_EQ(verdict(profile), "profil « t480 » : MTM mal formé : « 20AB- »");
  profile.matches.mtm = {"20ab"};
  EXPECT_EQ(verdict(profile), "valid");
  profile.matches.mtm = {
      "20\xC3\x89"
      "1"};  // 20É1: five bytes
  EXPECT_EQ(verdict(profile),
            "profil « t480 » : MTM mal formé : « 20\xC3\x89"
            "1 »");
  profile.matches.mtm = {"20A"};
  EXPECT_EQ(verdict(profile), "profil « t480 » : MTM mal formé : « 20A »");
  // Checked in a family too, though never matched there.
  profile.scope = ProfileScope::Family;
  profile.matches.version_contains = {"T480"};
  profile.matches.mtm = {"20_B"};
  EXPECT_EQ(verdict(profile), "profil « t480 » : MTM mal formé : « 20_B »");
}

TEST(ValidateProfile, CapabilityRulesInOrder) {
  MachineProfile profile = valid_model();
  profile.capabilities = {capability("kbd"), capability("kbd")};
  EXPECT_EQ(verdict(profile), "profil « t480 » : capacité dupliquée : kbd");
  profile.capabilities[0].sources.clear();  // each capability is checked whole first
  EXPECT_EQ(verdict(profile), "profil « t480 » : capacité kbd sans source");

  profile.capabilities = {capability("Kbd"), capability("kbd"), capability(""), capability(" kbd")};
  EXPECT_EQ(verdict(profile), "valid");

  profile.capabilities = {capability("fan")};
  profile.capabilities[0].sources = {"", "  ", "\xC2\xA0"};
  EXPECT_EQ(verdict(profile), "profil « t480 » : capacité fan sans source");
  profile.capabilities[0].sources.push_back(".");
  EXPECT_EQ(verdict(profile), "valid");

  profile.capabilities[0].confidence = Confidence::Validated;
  EXPECT_EQ(verdict(profile), "profil « t480 » : capacité fan « validated » sans validated_on");
  profile.capabilities[0].validated_on = " ";
  EXPECT_EQ(verdict(profile), "profil « t480 » : capacité fan « validated » sans validated_on");
  profile.capabilities[0].validated_on = "T480, 2024";
  EXPECT_EQ(verdict(profile), "valid");

  profile.capabilities[0].bounds = Bounds{5, 5};
  EXPECT_EQ(verdict(profile), "valid");
  profile.capabilities[0].bounds = Bounds{1, -1};
  EXPECT_EQ(verdict(profile), "profil « t480 » : bornes inversées pour fan");
}

TEST(ReadProfile, DecodingPrecedesValidation) {
  EXPECT_EQ(read_profile(model_profile("a")).value().id, "a");
  auto unsupported = read_profile("schema_version = 2\n" + model_profile("a").substr(19));
  EXPECT_EQ(unsupported.error(), ProfileError(UnsupportedSchema{2}));
  auto unknown_key =
      read_profile("schema_version = 2\nvendor = 1\n" + model_profile("a").substr(19));
  ASSERT_FALSE(unknown_key);
  EXPECT_TRUE(profile_error_text(unknown_key.error()).starts_with("TOML invalide : ligne 2, "))
      << profile_error_text(unknown_key.error());
  EXPECT_EQ(profile_error_text(read_profile(model_profile("  ")).error()),
            "profil «    » : identifiant vide");
}

TEST(HasProfileExtension, OnlyTheLastDotCountsAndCaseMatters) {
  for (const char* name : {"a.toml", "a.b.toml", "..toml", "x y.toml"}) {
    EXPECT_TRUE(has_profile_extension(name)) << name;
  }
  for (const char* name : {".toml", "x.TOML", "x.toml.bak", "toml", "x.toml ", "x.", "x"}) {
    EXPECT_FALSE(has_profile_extension(name)) << name;
  }
}

TEST(LoadProfiles, OrdersFileNamesByBytesAndSkipsOtherFiles) {
  TempDirectory directory;
  directory.write("b.toml", model_profile("b"));
  directory.write("a.toml", model_profile("a"));
  directory.write("notes.txt", "not a profile");
  directory.write("C.toml", model_profile("C"));
  directory.write(".toml", "not a profile either");
  directory.write("d.TOML", "nor this");
  directory.write("\xC3\xA9.toml", model_profile("e-acute"));  // sorts after every ASCII name
  // Names alike in their first eight bytes, and a name that begins another.
  directory.write("model-20-long.toml", model_profile("long"));
  directory.write("model-20-a.toml", model_profile("m-a"));
  directory.write("x.toml.toml", model_profile("x-x"));
  directory.write("x.toml", model_profile("x"));
  auto profiles = load_profiles(directory.path());
  ASSERT_TRUE(profiles) << profiles.error();
  EXPECT_EQ(ids_of(*profiles),
            (std::vector<std::string>{"C", "a", "b", "m-a", "long", "x", "x-x", "e-acute"}));
}

TEST(LoadProfiles, EmptyDirectoryAndDuplicateIdentifiers) {
  TempDirectory directory;
  auto empty = load_profiles(directory.path());
  ASSERT_TRUE(empty) << empty.error();
  EXPECT_TRUE(empty->empty());

  directory.write("one.toml", model_profile("same"));
  directory.write("two.toml", model_profile("same"));
  EXPECT_EQ(ids_of(load_profiles(directory.path()).value()),
            (std::vector<std::string>{"same", "same"}));
}

TEST(LoadProfiles, MissingDirectoryIsAnError) {
  TempDirectory directory;
  auto missing = load_profiles(directory.path() / "absent");
  ASSERT_FALSE(missing);
  EXPECT_FALSE(missing.error().empty());
  auto file = load_profiles(directory.write("file.toml", model_profile("f")));
  EXPECT_FALSE(file);
}

TEST(LoadProfiles, FirstBadFileFailsTheWholeLoad) {
  TempDirectory directory;
  directory.write("a.toml", model_profile("a"));
  const auto bad = directory.write("b.toml", model_profile("b", "vendor = \"x\"\n"));
  directory.write("c.toml", model_profile("  "));
  auto profiles = load_profiles(directory.path());
  ASSERT_FALSE(profiles);
  EXPECT_EQ(profiles.error(),
            shown(bad) +
                " : TOML invalide : ligne 5, colonne 1 : unknown field `vendor`, expected one of "
                "`schema_version`, `id`, `display_name`, `scope`, `matches`, `capabilities`");
}

TEST(LoadProfiles, ErrorNamesTheFileWithThePlatformSeparator) {
  TempDirectory directory;
  directory.write("x.toml", model_profile("x", "").replace(0, 18, "schema_version = 2"));
  auto profiles = load_profiles(directory.path());
  ASSERT_FALSE(profiles);
  const std::string expected_path =
      directory.text() + static_cast<char>(std::filesystem::path::preferred_separator) + "x.toml";
  EXPECT_EQ(profiles.error(), expected_path + " : version de schéma 2 non supportée (attendu 1)");
}

TEST(LoadProfiles, FileThatIsNotUtf8) {
  TempDirectory directory;
  directory.write("a.toml", model_profile("a"));
  directory.write("b.toml", "id = \"\xE9t\xE9\"\n");
  EXPECT_EQ(load_profiles(directory.path()).error(), "stream did not contain valid UTF-8");
  // A profile that is whole but for one byte: the same error, not a decoder's.
  std::filesystem::remove(directory.path() / "b.toml");
  directory.write("c.toml", model_profile("c") + "# caf\xE9\n");
  EXPECT_EQ(load_profiles(directory.path()).error(), "stream did not contain valid UTF-8");
}

TEST(LoadProfiles, SubdirectoryWithProfileExtensionFails) {
  TempDirectory directory;
  std::filesystem::create_directory(directory.path() / "sub.toml");
  auto profiles = load_profiles(directory.path());
  ASSERT_FALSE(profiles);
  EXPECT_FALSE(profiles.error().empty());
  std::filesystem::create_directory(directory.path() / "sub.d");  // other directories are skipped
  std::filesystem::remove(directory.path() / "sub.toml");
  EXPECT_TRUE(load_profiles(directory.path()));
}

TEST(LoadProfiles, OversizedFileIsRefusedUnread) {
  TempDirectory directory;
  const std::string big = model_profile("big") + "# " + std::string(MAX_PROFILE_BYTES, 'x') + "\n";
  const auto file = directory.write("big.toml", big);
  EXPECT_EQ(load_profiles(directory.path()).error(), shown(file) + " : fichier trop volumineux (" +
                                                         std::to_string(big.size()) +
                                                         " octets ; au plus 1048576)");
  // Just under the limit still loads.
  directory.write("big.toml",
                  model_profile("big") + "# " +
                      std::string(MAX_PROFILE_BYTES - model_profile("big").size() - 3, 'x') + "\n");
  EXPECT_TRUE(load_profiles(directory.path()));
}

TEST(LoadProfiles, TenThousandFiles) {
  TempDirectory directory;
  for (int i = 0; i < 10'000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "p%05d.toml", 9'999 - i);
    directory.write(name, model_profile(name));
  }
  auto profiles = load_profiles(directory.path());
  ASSERT_TRUE(profiles) << profiles.error();
  ASSERT_EQ(profiles->size(), 10'000u);
  EXPECT_EQ(profiles->front().id, "p00000.toml");
  EXPECT_EQ(profiles->back().id, "p09999.toml");
}

}  // namespace
}  // namespace nivalto
