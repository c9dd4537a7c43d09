#pragma once

#include <chrono>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "nivalto/hal/backlight_engine/device_calls.h"
#include "nivalto/hal/hal_error.h"

namespace nivalto::backlight_engine {

// The one line the backlight script prints on the same machine (its
// KeyboardJson members plus `verified`, compact, ending with a line feed).
struct EngineAnswer {
  std::string line;
};

// The engine went as far as the Lenovo WMI class, which it does not drive:
// the script must answer. Only reads were made up to here.
struct HandOver {};

using EngineOutcome = std::variant<EngineAnswer, HandOver>;

// Tries the Framework tools (when `framework_dir` is not empty), the ThinkPad
// driver and the HID keyboard backlight in the script's order, with its
// fall-through. `mode` is "read" or "write" in any letter case; `level` is
// taken as given, like the script's -Level. An error only when a vendor tool
// outlives `time_limit`.
[[nodiscard]] std::expected<EngineOutcome, HalError> run_backlight_engine(
    std::string_view mode, int level, const std::string& framework_dir, BacklightDevices& devices,
    std::chrono::milliseconds time_limit);

}  // namespace nivalto::backlight_engine
