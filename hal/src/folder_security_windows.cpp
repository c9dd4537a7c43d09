#include "nivalto/hal/folder_security_windows.h"

// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include "nivalto/hal/win32_text_windows.h"

namespace nivalto {
namespace {

// Frees what GetNamedSecurityInfoW allocated, on every path.
class LocalMemory {
 public:
  LocalMemory() = default;
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  ~LocalMemory() {
    if (pointer_ != nullptr) LocalFree(pointer_);
  }
  PSECURITY_DESCRIPTOR* out() { return &pointer_; }

 private:
  PSECURITY_DESCRIPTOR pointer_ = nullptr;
};

}  // namespace

std::string sid_text(PSID sid) {
  LPWSTR text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return {};
  std::string utf8 = win32::to_utf8(text);
  LocalFree(text);
  return utf8;
}

std::expected<FolderSecurity, unsigned long> read_folder_security(const std::wstring& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  LocalMemory descriptor;
  const DWORD status = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                             &owner, nullptr, &dacl, nullptr, descriptor.out());
  if (status != ERROR_SUCCESS) return std::unexpected(status);

  FolderSecurity security;
  security.owner = sid_text(owner);
  if (dacl == nullptr) return security;  // no list: everyone may do everything
  security.entries.emplace();
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return std::unexpected(GetLastError());
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    AccessEntry entry;
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      entry.type = AccessEntry::Type::Allow;
    } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
      entry.type = AccessEntry::Type::Deny;
    } else {
      continue;
    }
    // Both kinds share the layout: header, mask, then the SID.
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    entry.mask = allowed->Mask;
    entry.flags = header->AceFlags;
    entry.trustee = sid_text(&allowed->SidStart);
    security.entries->push_back(std::move(entry));
  }
  return security;
}

}  // namespace nivalto
