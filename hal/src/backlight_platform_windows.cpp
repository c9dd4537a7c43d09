#include "nivalto/hal/backlight_platform_windows.h"

#include <windows.h>

#include "nivalto/hal/backlight_engine/device_calls_windows.h"
#include "nivalto/hal/backlight_script.h"
#include "nivalto/hal/executable_path.h"
#include "nivalto/hal/pipe_client_windows.h"
#include "nivalto/hal/process_runner_windows.h"
#include "nivalto/hal/script_files_windows.h"
#include "nivalto/hal/win32_text_windows.h"

namespace nivalto {

std::uint32_t WindowsProcessFacts::process_id() { return GetCurrentProcessId(); }

std::optional<std::string> WindowsProcessFacts::executable_path() {
  return running_executable_path();
}

std::string powershell_program() {
  std::wstring folder(MAX_PATH, L'\0');
  for (;;) {
    const UINT length = GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    // No system folder: an empty name, which process creation refuses.
    if (length == 0) return {};
    if (length < folder.size()) {
      folder.resize(length);
      break;
    }
    folder.resize(length);  // too small: `length` is the size needed
  }
  return win32::to_utf8(folder + L"\\WindowsPowerShell\\v1.0\\powershell.exe");
}

const BacklightPlatform& platform_backlight() {
  static WindowsServicePipeClient pipe;
  static WindowsScriptFiles files;
  static WindowsProcessRunner runner;
  static WindowsProcessFacts process;
  // By its full path in the system folder, which only administrators can
  // change: named without a folder, the program search would look in the
  // executable's folder and the current one first, and whoever can write
  // there would have their program run as LocalSystem.
  static const std::string program = powershell_program();
  static backlight_engine::WindowsDeviceFiles device_files;
  static backlight_engine::WindowsDeviceInterfaces device_interfaces;
  static backlight_engine::WindowsHidCalls hid;
  static backlight_engine::WindowsVendorTools tools;
  static backlight_engine::BacklightDevices devices{device_files, device_interfaces, hid, tools};
  static const BacklightPlatform platform{
      .pipe = pipe,
      .files = files,
      .runner = runner,
      .process = process,
      .script = backlight_script_text(),
      .program = program,
      .devices = &devices,
  };
  return platform;
}

}  // namespace nivalto
