#include "nivalto/hal/private_security_windows.h"

#include "nivalto/hal/unique_handle_windows.h"

namespace nivalto {

std::expected<std::unique_ptr<PrivateSecurity>, unsigned long>
PrivateSecurity::for_current_account() {
  std::unique_ptr<PrivateSecurity> security(new PrivateSecurity());

  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out())) {
    return std::unexpected(GetLastError());
  }
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return std::unexpected(GetLastError());
  security->token_user_.resize(size);
  if (!GetTokenInformation(token.get(), TokenUser, security->token_user_.data(), size, &size)) {
    return std::unexpected(GetLastError());
  }
  PSID account = reinterpret_cast<TOKEN_USER*>(security->token_user_.data())->User.Sid;

  const DWORD acl_size =
      sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(account);
  security->acl_.resize(acl_size);
  auto* acl = reinterpret_cast<ACL*>(security->acl_.data());
  if (!InitializeAcl(acl, acl_size, ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, account)) {
    return std::unexpected(GetLastError());
  }
  if (!InitializeSecurityDescriptor(&security->descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&security->descriptor_, TRUE, acl, FALSE) ||
      // Protected: the folder's inheritable entries must not widen the list.
      !SetSecurityDescriptorControl(&security->descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return std::unexpected(GetLastError());
  }
  security->attributes_.nLength = sizeof(SECURITY_ATTRIBUTES);
  security->attributes_.lpSecurityDescriptor = &security->descriptor_;
  security->attributes_.bInheritHandle = FALSE;
  return security;
}

}  // namespace nivalto
