#include <windows.h>

#include "nivalto/hal/backlight_engine/device_calls_windows.h"
#include "nivalto/hal/win32_text_windows.h"

namespace nivalto::backlight_engine {
namespace {

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "C:\..." or "\\server\share\...": never resolved against the current
// folder or drive, and never left to the program search.
bool is_absolute(const std::string& path) {
  if (path.size() >= 3 && is_letter(path[0]) && path[1] == ':' &&
      (path[2] == '\\' || path[2] == '/')) {
    return true;
  }
  return path.starts_with("\\\\");
}

}  // namespace

bool WindowsVendorTools::exists(const std::string& path) {
  if (!is_absolute(path)) return false;
  const DWORD attributes = GetFileAttributesW(win32::to_wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::expected<ProcessExit, ProcessFailure> WindowsVendorTools::run(
    const std::string& path, const std::vector<std::string>& arguments,
    std::chrono::milliseconds time_limit) {
  if (!is_absolute(path)) {
    return std::unexpected(ProcessFailure{ProcessFailure::Kind::NotStarted, {}});
  }
  return runner_.run(path, arguments, time_limit);
}

}  // namespace nivalto::backlight_engine
