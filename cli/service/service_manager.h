#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace nivalto {

// A handle of the service manager (an SC_HANDLE on Windows), opaque here.
using ScHandleValue = void*;

// Win32 error codes are reported as they are.
using Win32Code = std::uint32_t;

// Everything CreateServiceW is given; texts are UTF-8 and become
// NUL-terminated UTF-16 at the call.
struct ServiceRegistration {
  std::string name;
  std::string display_name;
  std::uint32_t desired_access = 0;
  std::uint32_t service_type = 0;
  std::uint32_t start_type = 0;
  std::uint32_t error_control = 0;
  std::string command_line;  // lpBinaryPathName
};

// The service control manager, one operation per Win32 call. Each handle
// obtained must be given back to close() exactly once.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // OpenSCManagerW on the local machine's active database.
  [[nodiscard]] virtual std::expected<ScHandleValue, Win32Code> open_manager(
      std::uint32_t access) = 0;
  // The full path of the running executable in its display form (anything
  // that is not valid UTF-16 becomes U+FFFD), or the platform's description of
  // why it cannot be had.
  [[nodiscard]] virtual std::expected<std::string, std::string> executable_path() = 0;
  // CreateServiceW with no load order group, tag, dependencies, account or
  // password: the service runs as LocalSystem.
  [[nodiscard]] virtual std::expected<ScHandleValue, Win32Code> create_service(
      ScHandleValue manager, const ServiceRegistration& registration) = 0;
  [[nodiscard]] virtual std::expected<ScHandleValue, Win32Code> open_service(
      ScHandleValue manager, std::string_view name, std::uint32_t access) = 0;
  [[nodiscard]] virtual std::expected<void, Win32Code> delete_service(ScHandleValue service) = 0;
  // CloseServiceHandle.
  virtual void close(ScHandleValue handle) = 0;
};

}  // namespace nivalto
