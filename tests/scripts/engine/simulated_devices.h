#pragma once

// The platform calls of the backlight engine answered by the simulated device
// layer of tests/scripts/simulator: its kernel32.dll.so, hid.dll.so and
// setupapi.dll.so, loaded from one folder and called with the platform's x64
// structure layouts, exactly as the script's C# calls them through .NET. The
// simulator logs every call, so the engine's calls can be set beside the
// script's.

#include <expected>
#include <memory>
#include <string>

#include "nivalto/hal/backlight_engine/device_calls.h"

namespace nivalto::backlight_engine {

class SimulatedDevices {
 public:
  virtual ~SimulatedDevices() = default;
  [[nodiscard]] virtual DeviceFiles& files() = 0;
  [[nodiscard]] virtual DeviceInterfaces& interfaces() = 0;
  [[nodiscard]] virtual HidCalls& hid() = 0;
};

// Loads the three libraries from `folder`; the error names what is missing.
[[nodiscard]] std::expected<std::unique_ptr<SimulatedDevices>, std::string> load_simulated_devices(
    const std::string& folder);

// The vendor tools run as child processes: empty standard input, both output
// streams captured, the whole process group ended once the time limit passes.
class SpawnedVendorTools final : public VendorTools {
 public:
  [[nodiscard]] bool exists(const std::string& path) override;
  [[nodiscard]] std::expected<ProcessExit, ProcessFailure> run(
      const std::string& path, const std::vector<std::string>& arguments,
      std::chrono::milliseconds time_limit) override;
};

}  // namespace nivalto::backlight_engine
