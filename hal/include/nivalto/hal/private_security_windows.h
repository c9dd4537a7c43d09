#pragma once

#include <windows.h>

#include <cstddef>
#include <expected>
#include <memory>
#include <vector>

namespace nivalto {

// This process's TOKEN_USER record (the account's SID), as GetTokenInformation
// writes it. The error is the Win32 code of the failed step.
[[nodiscard]] std::expected<std::vector<std::byte>, unsigned long> current_token_user();

// Fills `descriptor` with `acl` as its protected list, so no inheritable entry
// of a parent widens it, and `attributes` (not inherited by child processes)
// with the descriptor.
[[nodiscard]] std::expected<void, unsigned long> protected_attributes(
    SECURITY_DESCRIPTOR& descriptor, ACL* acl, SECURITY_ATTRIBUTES& attributes);

// Security attributes that grant access to the account this process runs as
// and to nobody else, with no access inherited from the parent folder. Files
// and pipes made with them cannot be opened, replaced or deleted by other
// accounts, however open the folder or namespace they live in.
class PrivateSecurity {
 public:
  // The error is the Win32 code of the failed step.
  [[nodiscard]] static std::expected<std::unique_ptr<PrivateSecurity>, unsigned long>
  for_current_account();

  PrivateSecurity(const PrivateSecurity&) = delete;
  PrivateSecurity& operator=(const PrivateSecurity&) = delete;

  // Not inherited by child processes.
  [[nodiscard]] SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

 private:
  PrivateSecurity() = default;

  std::vector<std::byte> token_user_;  // TOKEN_USER with the account's SID
  std::vector<std::byte> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace nivalto
