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

const BacklightPlatform& platform_backlight() {
  static WindowsServicePipeClient pipe;
  static WindowsScriptFiles files;
  static WindowsProcessRunner runner;
  static WindowsProcessFacts process;
  // "powershell.exe" without a folder: CreateProcessW looks in the
  // executable's own folder, then the current one (System32 for a service),
  // then the system folders, and only after those in PATH. The executable's
  // folder is where the administrator installed the service, so nothing an
  // ordinary user controls comes before the system's own copy.
  static const BacklightPlatform platform{pipe, files, runner, process, backlight_script_text(),
                                          POWERSHELL_PROGRAM};
  return platform;
}

}  // namespace nivalto
