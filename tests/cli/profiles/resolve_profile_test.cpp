#include "cli/profiles/resolve_profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace nivalto {
namespace {

MachineProfile model(std::string id, std::vector<std::string> mtm,
                     std::vector<std::string> version_contains = {}) {
  MachineProfile profile;
  profile.schema_version = 1;
  profile.id = std::move(id);
  profile.scope = ProfileScope::Model;
  profile.matches = {std::move(mtm), std::move(version_contains)};
  return profile;
}

MachineProfile family(std::string id, std::vector<std::string> version_contains,
                      std::vector<std::string> mtm = {}) {
  MachineProfile profile = model(std::move(id), std::move(mtm), std::move(version_contains));
  profile.scope = ProfileScope::Family;
  return profile;
}

MachineIdentity identity(std::optional<std::string> manufacturer, std::optional<std::string> mtm,
                         std::optional<std::string> display_name) {
  MachineIdentity result;
  result.manufacturer = std::move(manufacturer);
  result.mtm = std::move(mtm);
  result.display_name = std::move(display_name);
  return result;
}

const MachineIdentity THINKPAD = identity("LENOVO", "20AB", "ThinkPad Q1 Gen 2");

Resolution resolve(const std::vector<MachineProfile>& profiles, const MachineIdentity& machine) {
  return resolve_profile(profiles, machine);
}

ResolutionKind kind_for_manufacturer(std::optional<std::string> manufacturer) {
  return resolve({}, identity(std::move(manufacturer), std::nullopt, "Notebook")).kind;
}

TEST(ResolveProfile, ExactMatchIgnoresLetterCase) {
  const std::vector profiles{model("q1", {"21XX", "20ab"})};
  const Resolution resolution = resolve(profiles, THINKPAD);
  EXPECT_EQ(resolution.kind, ResolutionKind::Exact);
  EXPECT_EQ(resolution.profile, &profiles[0]);  // a reference into the list, not a copy
}

TEST(ResolveProfile, ExactMatchNeedsTheWholeMachineType) {
  const std::vector profiles{model("short", {"20A"}), model("long", {"20ABC"})};
  EXPECT_EQ(resolve(profiles, THINKPAD).kind, ResolutionKind::DynamicProbe);
}

TEST(ResolveProfile, FamilyMatchOnFoldedFragment) {
  const std::vector profiles{model("other", {"20ZZ"}), family("q1", {"x1", "q1 gen"})};
  const Resolution resolution = resolve(profiles, THINKPAD);
  EXPECT_EQ(resolution.kind, ResolutionKind::Family);
  EXPECT_EQ(resolution.profile, &profiles[1]);
}

TEST(ResolveProfile, ModelWinsOverFamilyWhateverTheOrder) {
  const std::vector profiles{family("a-family", {"ThinkPad"}), model("z-model", {"20AB"})};
  const Resolution resolution = resolve(profiles, THINKPAD);
  EXPECT_EQ(resolution.kind, ResolutionKind::Exact);
  EXPECT_EQ(resolution.profile, &profiles[1]);
}

TEST(ResolveProfile, EarlierProfileWinsWithinAScope) {
  const std::vector models{model("first", {"20AB"}), model("second", {"20AB"})};
  EXPECT_EQ(resolve(models, THINKPAD).profile, &models[0]);
  const std::vector families{family("first", {"gen 2"}), family("second", {"thinkpad"})};
  EXPECT_EQ(resolve(families, THINKPAD).profile, &families[0]);
}

TEST(ResolveProfile, ThinkPadRule) {
  EXPECT_EQ(resolve({}, THINKPAD).kind, ResolutionKind::DynamicProbe);
  EXPECT_EQ(resolve({model("x", {"9999"})}, THINKPAD).kind, ResolutionKind::DynamicProbe);
  EXPECT_EQ(resolve({}, identity("lenovo", std::nullopt, "my THINKPAD")).kind,
            ResolutionKind::DynamicProbe);
  EXPECT_EQ(resolve({}, identity("LENOVO", "20AB", "Notebook 15")).kind,
            ResolutionKind::Unsupported);
  EXPECT_EQ(resolve({}, identity("Lenovo Group", "20AB", "ThinkPad X1")).kind,
            ResolutionKind::Unsupported);
  EXPECT_EQ(resolve({}, identity("LENOVO", "20AB", std::nullopt)).kind,
            ResolutionKind::Unsupported);
}

TEST(ResolveProfile, VendorRuleMatchesFragmentsAnywhere) {
  for (const char* manufacturer :
       {"HP", "Dell Inc.", "ASUSTeK Computer", "Micro-Star International", "LG Electronics",
        "Framework", "Alienware", "sHPx", "Panasonic Corporation"}) {
    EXPECT_EQ(kind_for_manufacturer(manufacturer), ResolutionKind::DynamicProbe) << manufacturer;
  }
  EXPECT_EQ(kind_for_manufacturer("Example Corp"), ResolutionKind::Unsupported);
  EXPECT_EQ(kind_for_manufacturer("LG"), ResolutionKind::Unsupported);
  EXPECT_EQ(kind_for_manufacturer(std::nullopt), ResolutionKind::Unsupported);
  // Folding touches ASCII letters only: "Ｈ" (fullwidth) is not "h".
  EXPECT_EQ(kind_for_manufacturer("\xEF\xBC\xA8P"), ResolutionKind::Unsupported);
}

TEST(ResolveProfile, EveryVendorFragmentIsLowerCaseAndReachable) {
  ASSERT_EQ(DYNAMIC_PROBE_VENDORS.size(), 19u);
  for (const std::string_view vendor : DYNAMIC_PROBE_VENDORS) {
    std::string upper(vendor);
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    EXPECT_EQ(kind_for_manufacturer("X " + upper + " Y"), ResolutionKind::DynamicProbe) << vendor;
  }
  EXPECT_EQ(std::ranges::count(DYNAMIC_PROBE_VENDORS, "lenovo"), 0);
}

TEST(ResolveProfile, MissingIdentityFieldsSkipTheirSteps) {
  const std::vector profiles{model("m", {"20AB"}), family("f", {""})};
  EXPECT_EQ(resolve(profiles, identity("LENOVO", std::nullopt, "ThinkPad")).kind,
            ResolutionKind::Family);
  EXPECT_EQ(resolve(profiles, identity("Example", std::nullopt, std::nullopt)).kind,
            ResolutionKind::Unsupported);
}

TEST(ResolveProfile, EmptyFragmentMatchesAnyDisplayName) {
  const std::vector profiles{family("any", {""})};
  const Resolution resolution = resolve(profiles, identity(std::nullopt, std::nullopt, "Z"));
  EXPECT_EQ(resolution.kind, ResolutionKind::Family);
  EXPECT_EQ(resolution.profile, &profiles[0]);
}

TEST(ResolveProfile, EachScopeLooksOnlyAtItsOwnList) {
  const std::vector model_with_fragment{model("m", {"9999"}, {"ThinkPad"})};
  EXPECT_EQ(resolve(model_with_fragment, identity("Example", "20AB", "ThinkPad")).kind,
            ResolutionKind::Unsupported);
  const std::vector family_with_mtm{family("f", {"nothing"}, {"20AB"})};
  EXPECT_EQ(resolve(family_with_mtm, identity("Example", "20AB", "ThinkPad")).kind,
            ResolutionKind::Unsupported);
}

TEST(ResolveProfile, Spellings) {
  EXPECT_EQ(resolution_spelling(ResolutionKind::Exact), "exact");
  EXPECT_EQ(resolution_spelling(ResolutionKind::Family), "family");
  EXPECT_EQ(resolution_spelling(ResolutionKind::DynamicProbe), "dynamic_probe");
  EXPECT_EQ(resolution_spelling(ResolutionKind::Unsupported), "unsupported");
}

}  // namespace
}  // namespace nivalto
