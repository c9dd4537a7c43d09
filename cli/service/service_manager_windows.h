#pragma once

#include "cli/service/service_manager.h"

namespace nivalto {

// The local service control manager (advapi32).
class Win32ServiceManager final : public ServiceManager {
 public:
  std::expected<ScHandleValue, Win32Code> open_manager(std::uint32_t access) override;
  std::expected<std::string, std::string> executable_path() override;
  std::expected<ScHandleValue, Win32Code> create_service(
      ScHandleValue manager, const ServiceRegistration& registration) override;
  std::expected<ScHandleValue, Win32Code> open_service(ScHandleValue manager, std::string_view name,
                                                       std::uint32_t access) override;
  std::expected<void, Win32Code> delete_service(ScHandleValue service) override;
  void close(ScHandleValue handle) override;
};

}  // namespace nivalto
