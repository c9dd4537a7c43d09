// The profile database that ships with the program must load as a whole, and
// the program itself must resolve every machine type of the shared
// machine-type tables exactly to the profile that carries the model's name.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/profiles/load_profiles.h"
#include "cli/profiles/resolve_profile.h"

namespace nivalto {
namespace {

struct ListedType {
  std::string model;
  std::string mtm;
};

// The rows of a machine-type table (model_name, mtm_list, source), one entry
// per machine type. The comment lines that some tables end with start with #.
std::vector<ListedType> listed_types(const std::string& table) {
  std::ifstream file(std::string(NIVALTO_SHARED_DIR "/data/") + table, std::ios::binary);
  EXPECT_TRUE(file) << table;
  std::vector<ListedType> types;
  std::string line;
  std::getline(file, line);  // the header
  while (std::getline(file, line)) {
    if (line.empty() || line.starts_with('#')) continue;
    const std::size_t first_tab = line.find('\t');
    const std::size_t second_tab = line.find('\t', first_tab + 1);
    EXPECT_NE(second_tab, std::string::npos) << line;
    if (second_tab == std::string::npos) continue;
    std::istringstream list(line.substr(first_tab + 1, second_tab - first_tab - 1));
    for (std::string mtm; std::getline(list, mtm, ',');) {
      types.push_back({line.substr(0, first_tab), mtm});
    }
  }
  return types;
}

const std::vector<MachineProfile>& shipped() {
  static const std::vector<MachineProfile> profiles = [] {
    auto loaded = load_profiles(NIVALTO_SOURCE_DIR "/profiles");
    EXPECT_TRUE(loaded) << loaded.error();
    return loaded ? std::move(*loaded) : std::vector<MachineProfile>{};
  }();
  return profiles;
}

TEST(ShippedProfiles, LoadAndCoverBothScopes) {
  const auto in_scope = [&](ProfileScope scope) {
    return std::ranges::count(shipped(), scope, &MachineProfile::scope);
  };
  EXPECT_GE(in_scope(ProfileScope::Model), 1);
  EXPECT_GE(in_scope(ProfileScope::Family), 1);
}

TEST(ShippedProfiles, EveryListedMachineTypeResolvesExactToItsModel) {
  std::size_t checked = 0;
  for (const char* table : {"thinkpad_mtm.tsv", "thinkpad_mtm_more.tsv"}) {
    const std::vector<ListedType> types = listed_types(table);
    EXPECT_FALSE(types.empty()) << table;
    for (const ListedType& type : types) {
      // A display name that a family would catch: the machine type must win.
      for (const std::optional<std::string>& display :
           {std::optional<std::string>(), std::optional(type.model)}) {
        MachineIdentity identity;
        identity.manufacturer = "LENOVO";
        identity.mtm = type.mtm;
        identity.display_name = display;
        const Resolution resolution = resolve_profile(shipped(), identity);
        ASSERT_EQ(resolution.kind, ResolutionKind::Exact) << table << " " << type.mtm;
        EXPECT_EQ(resolution.profile->display_name, type.model) << table << " " << type.mtm;
      }
      ++checked;
    }
  }
  // Both tables together: 162 and 548 machine types.
  EXPECT_EQ(checked, 710U);
}

}  // namespace
}  // namespace nivalto
