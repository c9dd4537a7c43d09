#pragma once

#include "nivalto/hal/backlight_access.h"

namespace nivalto {

// GetCurrentProcessId and GetModuleFileNameW of the running executable.
class WindowsProcessFacts final : public ProcessFacts {
 public:
  [[nodiscard]] std::uint32_t process_id() override;
  [[nodiscard]] std::optional<std::string> executable_path() override;
};

// "{system folder}\WindowsPowerShell\v1.0\powershell.exe", the system folder
// from GetSystemDirectoryW; the empty text when there is none.
[[nodiscard]] std::string powershell_program();

}  // namespace nivalto
