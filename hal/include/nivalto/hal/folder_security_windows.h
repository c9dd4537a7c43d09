#pragma once

#include <windows.h>

#include <expected>
#include <string>

#include "nivalto/hal/folder_access.h"

namespace nivalto {

// "S-1-5-18" for LocalSystem's SID; empty when it cannot be written out.
[[nodiscard]] std::string sid_text(PSID sid);

// The owner and access list of the file or folder at `path`
// (GetNamedSecurityInfoW). Allow and deny entries are kept in order; entries
// of other kinds (object, callback, audit) are left out. The error is the
// platform's code.
[[nodiscard]] std::expected<FolderSecurity, unsigned long> read_folder_security(
    const std::wstring& path);

}  // namespace nivalto
