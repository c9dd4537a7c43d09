// The profile database that ships with the program must load as a whole.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/profiles/load_profiles.h"

namespace nivalto {
namespace {

TEST(ShippedProfiles, LoadAndCoverBothScopes) {
  auto profiles = load_profiles(NIVALTO_SOURCE_DIR "/profiles");
  ASSERT_TRUE(profiles) << profiles.error();
  const auto in_scope = [&](ProfileScope scope) {
    return std::ranges::count(*profiles, scope, &MachineProfile::scope);
  };
  EXPECT_GE(in_scope(ProfileScope::Model), 1);
  EXPECT_GE(in_scope(ProfileScope::Family), 1);
}

}  // namespace
}  // namespace nivalto
