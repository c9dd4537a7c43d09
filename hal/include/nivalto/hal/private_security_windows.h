#pragma once

#include <windows.h>

#include <cstddef>
#include <expected>
#include <memory>
#include <vector>

namespace nivalto {

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
