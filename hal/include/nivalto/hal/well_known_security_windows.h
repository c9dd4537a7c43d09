#pragma once

#include <windows.h>

#include <cstddef>
#include <expected>
#include <initializer_list>
#include <memory>
#include <vector>

namespace nivalto {

// One access-allowed entry: a well-known account or group and its rights.
struct WellKnownGrant {
  WELL_KNOWN_SID_TYPE who;
  DWORD rights;
};

// Security attributes whose list grants exactly the given entries, in order,
// and nothing to anyone else; protected, so no inheritable entry of a parent
// widens it. Built from well-known SIDs only, so no name lookup can be
// misled and no language of the system matters.
class WellKnownSecurity {
 public:
  // `inheritance` goes into every entry (0, or OBJECT_INHERIT_ACE and
  // CONTAINER_INHERIT_ACE for a folder). The error is the failed step's code.
  [[nodiscard]] static std::expected<std::unique_ptr<WellKnownSecurity>, unsigned long> create(
      std::initializer_list<WellKnownGrant> grants, BYTE inheritance);

  WellKnownSecurity(const WellKnownSecurity&) = delete;
  WellKnownSecurity& operator=(const WellKnownSecurity&) = delete;

  // Not inherited by child processes.
  [[nodiscard]] SECURITY_ATTRIBUTES* attributes() { return &attributes_; }
  [[nodiscard]] PSECURITY_DESCRIPTOR descriptor() { return &descriptor_; }

 private:
  WellKnownSecurity() = default;

  std::vector<std::vector<std::byte>> sids_;
  std::vector<std::byte> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace nivalto
