#pragma once

// The three backends the engine drives, and the result record they fill in,
// which mirrors the backlight script's own: the same members in the same
// order, the same initial values, and the same "first failure wins" rule.

#include <chrono>
#include <expected>
#include <string>
#include <string_view>

#include "nivalto/hal/backlight_engine/device_calls.h"
#include "nivalto/hal/hal_error.h"

namespace nivalto::backlight_engine {

struct BacklightResult {
  bool available = false;
  bool known = false;
  int level = 0;
  int max_level = 2;
  std::string source;
  bool applied = false;
  bool verified = false;
  std::string reason;

  // Sets `reason` only while it is empty or white space: the first failure
  // is the one closest to the cause.
  void add_error(std::string_view text);
};

// The result as one line of compact JSON with its line feed, byte for byte
// what the script's ConvertTo-Json -Compress prints for it.
[[nodiscard]] std::string compact_json(const BacklightResult& result);

// One request as the script sees its parameters.
struct BacklightRequest {
  bool write = false;
  int level = 0;
};

[[nodiscard]] inline bool level_in_range(int level, int maximum) {
  return level >= 0 && level <= maximum;
}

// Answered: the backend was found, `result` is the answer. PassedOver: the
// script would go on to its next backend.
enum class BackendStep : bool { PassedOver, Answered };

// The end of the time one request may take; a vendor tool still running then
// is ended and the request fails.
struct RequestDeadline {
  std::chrono::steady_clock::time_point end;
  std::chrono::milliseconds limit;
};

// The Framework vendor tools in `framework_dir` (not empty). A failure to
// run a tool goes to `result.reason`, as the script's does; a tool that
// outlives the deadline is the only error.
[[nodiscard]] std::expected<BackendStep, HalError> try_framework(const BacklightRequest& request,
                                                                 const std::string& framework_dir,
                                                                 VendorTools& tools,
                                                                 const RequestDeadline& deadline,
                                                                 BacklightResult& result);

// The ThinkPad power-management driver \\.\IBMPmDrv.
[[nodiscard]] BackendStep try_thinkpad(const BacklightRequest& request, DeviceFiles& files,
                                       BacklightResult& result);

// The standard HID keyboard backlight (Consumer page, Set Level value).
[[nodiscard]] BackendStep try_hid(const BacklightRequest& request, BacklightDevices& devices,
                                  BacklightResult& result);

}  // namespace nivalto::backlight_engine
