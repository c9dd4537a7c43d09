#include "nivalto/hal/private_security_windows.h"

#include <aclapi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "nivalto/hal/unique_handle_windows.h"

namespace nivalto {
namespace {

std::vector<std::byte> current_user() {
  UniqueHandle token;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out()));
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<std::byte> user(size);
  EXPECT_TRUE(GetTokenInformation(token.get(), TokenUser, user.data(), size, &size));
  return user;
}

TEST(PrivateSecurity, GrantsEverythingToThisAccountAndNothingToOthers) {
  auto security = PrivateSecurity::for_current_account();
  ASSERT_TRUE(security.has_value()) << security.error();
  EXPECT_FALSE((*security)->attributes()->bInheritHandle);

  UniqueHandle event(CreateEventW((*security)->attributes(), TRUE, FALSE, nullptr));
  ASSERT_TRUE(event.valid());
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(event.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor),
            ERROR_SUCCESS);
  ASSERT_NE(dacl, nullptr);
  EXPECT_EQ(dacl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &ace));
  auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  const auto user = current_user();
  EXPECT_TRUE(EqualSid(reinterpret_cast<PSID>(&allowed->SidStart),
                       reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid));
  LocalFree(descriptor);
}

}  // namespace
}  // namespace nivalto
