#include "nivalto/hal/well_known_security_windows.h"

#include "nivalto/hal/private_security_windows.h"

namespace nivalto {

std::expected<std::unique_ptr<WellKnownSecurity>, unsigned long> WellKnownSecurity::create(
    std::initializer_list<WellKnownGrant> grants, BYTE inheritance) {
  std::unique_ptr<WellKnownSecurity> security(new WellKnownSecurity());
  DWORD acl_size = sizeof(ACL);
  for (const WellKnownGrant& grant : grants) {
    DWORD size = SECURITY_MAX_SID_SIZE;
    std::vector<std::byte> sid(size);
    if (!CreateWellKnownSid(grant.who, nullptr, sid.data(), &size)) {
      return std::unexpected(GetLastError());
    }
    sid.resize(size);
    acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + size;
    security->sids_.push_back(std::move(sid));
  }
  security->acl_.resize(acl_size);
  auto* acl = reinterpret_cast<ACL*>(security->acl_.data());
  if (!InitializeAcl(acl, acl_size, ACL_REVISION)) return std::unexpected(GetLastError());
  std::size_t index = 0;
  for (const WellKnownGrant& grant : grants) {
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, inheritance, grant.rights,
                               security->sids_[index++].data())) {
      return std::unexpected(GetLastError());
    }
  }
  auto protect = protected_attributes(security->descriptor_, acl, security->attributes_);
  if (!protect) return std::unexpected(protect.error());
  return security;
}

}  // namespace nivalto
