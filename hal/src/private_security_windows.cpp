#include "nivalto/hal/private_security_windows.h"

#include "nivalto/hal/unique_handle_windows.h"

namespace nivalto {

std::expected<std::vector<std::byte>, unsigned long> current_token_user() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out())) {
    return std::unexpected(GetLastError());
  }
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return std::unexpected(GetLastError());
  std::vector<std::byte> user(size);
  if (!GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
    return std::unexpected(GetLastError());
  }
  return user;
}

std::expected<void, unsigned long> protected_attributes(SECURITY_DESCRIPTOR& descriptor, ACL* acl,
                                                        SECURITY_ATTRIBUTES& attributes) {
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
      // Protected: the folder's inheritable entries must not widen the list.
      !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return std::unexpected(GetLastError());
  }
  attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
  attributes.lpSecurityDescriptor = &descriptor;
  attributes.bInheritHandle = FALSE;
  return {};
}

std::expected<std::unique_ptr<PrivateSecurity>, unsigned long>
PrivateSecurity::for_current_account() {
  std::unique_ptr<PrivateSecurity> security(new PrivateSecurity());
  auto user = current_token_user();
  if (!user) return std::unexpected(user.error());
  security->token_user_ = std::move(*user);
  PSID account = reinterpret_cast<TOKEN_USER*>(security->token_user_.data())->User.Sid;

  const DWORD acl_size =
      sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(account);
  security->acl_.resize(acl_size);
  auto* acl = reinterpret_cast<ACL*>(security->acl_.data());
  if (!InitializeAcl(acl, acl_size, ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, account)) {
    return std::unexpected(GetLastError());
  }
  auto protect = protected_attributes(security->descriptor_, acl, security->attributes_);
  if (!protect) return std::unexpected(protect.error());
  return security;
}

}  // namespace nivalto
