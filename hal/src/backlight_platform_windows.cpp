#include "nivalto/hal/backlight_platform_windows.h"

#include <windows.h>

#include "nivalto/hal/backlight_script.h"
#include "nivalto/hal/pipe_client_windows.h"
#include "nivalto/hal/process_runner_windows.h"
#include "nivalto/hal/script_files_windows.h"
#include "nivalto/hal/win32_text_windows.h"

namespace nivalto {

std::uint32_t WindowsProcessFacts::process_id() { return GetCurrentProcessId(); }

std::optional<std::string> WindowsProcessFacts::executable_path() {
  // Long paths exceed MAX_PATH; the function truncates silently and reports
  // a full buffer, so grow until the path fits.
  std::wstring buffer(MAX_PATH, L'\0');
  while (buffer.size() <= 32768 * 2) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::nullopt;
    if (length < buffer.size()) {
      buffer.resize(length);
      return win32::to_utf8(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
  return std::nullopt;
}

std::string system_powershell_path() {
  std::wstring directory(MAX_PATH, L'\0');
  const UINT length = GetSystemDirectoryW(directory.data(), static_cast<UINT>(directory.size()));
  if (length == 0 || length >= directory.size()) return std::string(POWERSHELL_PROGRAM);
  directory.resize(length);
  return win32::to_utf8(directory) + "\\WindowsPowerShell\\v1.0\\" +
         std::string(POWERSHELL_PROGRAM);
}

const BacklightPlatform& platform_backlight() {
  static WindowsServicePipeClient pipe;
  static WindowsScriptFiles files;
  static WindowsProcessRunner runner;
  static WindowsProcessFacts process;
  // Found by the program search, "powershell.exe" would be taken from the
  // first folder of PATH that has one, and the service runs it as
  // LocalSystem: the system's own copy is named instead.
  static const std::string program = system_powershell_path();
  static const BacklightPlatform platform{pipe,   files, runner, process, backlight_script_text(),
                                          program};
  return platform;
}

}  // namespace nivalto
