#include "cli/service/service_manager_windows.h"

#include <windows.h>

#include <vector>

#include "nivalto/hal/win32_text_windows.h"

namespace nivalto {
namespace {

SC_HANDLE sc(ScHandleValue value) { return static_cast<SC_HANDLE>(value); }

std::unexpected<Win32Code> last_error() {
  return std::unexpected(static_cast<Win32Code>(GetLastError()));
}

// The longest path the wide API can name.
constexpr DWORD MAX_WIDE_PATH = 32768;

}  // namespace

std::expected<ScHandleValue, Win32Code> Win32ServiceManager::open_manager(std::uint32_t access) {
  // No machine name: the local machine; no database name: the active one.
  const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, access);
  if (manager == nullptr) return last_error();
  return manager;
}

std::expected<std::string, std::string> Win32ServiceManager::executable_path() {
  // GetModuleFileNameW truncates silently when the buffer is short, so grow
  // it until the path fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::unexpected(win32::error_text(GetLastError()));
    if (length < buffer.size()) return win32::to_utf8(std::wstring_view(buffer.data(), length));
    if (buffer.size() >= MAX_WIDE_PATH) {
      return std::unexpected(win32::error_text(ERROR_INSUFFICIENT_BUFFER));
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::expected<ScHandleValue, Win32Code> Win32ServiceManager::create_service(
    ScHandleValue manager, const ServiceRegistration& registration) {
  const std::wstring name = win32::to_wide(registration.name);
  const std::wstring display_name = win32::to_wide(registration.display_name);
  const std::wstring command_line = win32::to_wide(registration.command_line);
  const SC_HANDLE service =
      CreateServiceW(sc(manager), name.c_str(), display_name.c_str(), registration.desired_access,
                     registration.service_type, registration.start_type, registration.error_control,
                     command_line.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (service == nullptr) return last_error();
  return service;
}

std::expected<ScHandleValue, Win32Code> Win32ServiceManager::open_service(ScHandleValue manager,
                                                                          std::string_view name,
                                                                          std::uint32_t access) {
  const std::wstring wide = win32::to_wide(name);
  const SC_HANDLE service = OpenServiceW(sc(manager), wide.c_str(), access);
  if (service == nullptr) return last_error();
  return service;
}

std::expected<void, Win32Code> Win32ServiceManager::delete_service(ScHandleValue service) {
  if (!DeleteService(sc(service))) return last_error();
  return {};
}

void Win32ServiceManager::close(ScHandleValue handle) { CloseServiceHandle(sc(handle)); }

}  // namespace nivalto
