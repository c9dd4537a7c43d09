#pragma once

#include <optional>
#include <string>

namespace nivalto {

// The full path of the running executable, in UTF-8 (GetModuleFileNameW on
// Windows, /proc/self/exe on Linux); absent when the system does not give it.
[[nodiscard]] std::optional<std::string> running_executable_path();

}  // namespace nivalto
