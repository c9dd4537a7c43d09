#pragma once

#include "cli/service/level_store.h"

namespace nivalto {

// The REG_DWORD "KeyboardLevel" under
// HKLM\SYSTEM\CurrentControlSet\Services\NivaltoHal\Parameters. Only the
// service writes it; it goes with the service's key when the service is
// deleted.
class RegistryLevelStore final : public LevelStore {
 public:
  [[nodiscard]] std::optional<std::uint32_t> read() override;
  [[nodiscard]] std::expected<void, std::uint32_t> write(std::uint32_t level) override;
};

}  // namespace nivalto
