#pragma once

#include "nivalto/hal/backlight_access.h"

namespace nivalto {

// GetCurrentProcessId and GetModuleFileNameW of the running executable.
class WindowsProcessFacts final : public ProcessFacts {
 public:
  [[nodiscard]] std::uint32_t process_id() override;
  [[nodiscard]] std::optional<std::string> executable_path() override;
};

}  // namespace nivalto
