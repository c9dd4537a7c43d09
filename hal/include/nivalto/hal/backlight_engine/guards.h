#pragma once

// Move-only owners of the raw handles the engine receives from its platform
// calls. Each gives its handle back through the call that made it, exactly
// once, on whatever path the engine leaves by.

#include <utility>

#include "nivalto/hal/backlight_engine/device_calls.h"

namespace nivalto::backlight_engine {

template <typename Calls, void (Calls::*Release)(RawHandle)>
class RawGuard {
 public:
  RawGuard(Calls& calls, RawHandle raw) noexcept : calls_(&calls), raw_(raw), owned_(true) {}
  RawGuard(RawGuard&& other) noexcept
      : calls_(other.calls_), raw_(other.raw_), owned_(std::exchange(other.owned_, false)) {}
  RawGuard& operator=(RawGuard&& other) noexcept {
    if (this != &other) {
      release();
      calls_ = other.calls_;
      raw_ = other.raw_;
      owned_ = std::exchange(other.owned_, false);
    }
    return *this;
  }
  RawGuard(const RawGuard&) = delete;
  RawGuard& operator=(const RawGuard&) = delete;
  ~RawGuard() { release(); }

  [[nodiscard]] RawHandle get() const noexcept { return raw_; }

 private:
  void release() noexcept {
    if (std::exchange(owned_, false)) (calls_->*Release)(raw_);
  }

  Calls* calls_;
  RawHandle raw_;
  bool owned_;
};

// A file or device handle from DeviceFiles::open.
using DeviceHandle = RawGuard<DeviceFiles, &DeviceFiles::close>;
// A device information set from DeviceInterfaces::open_set.
using DeviceInfoSet = RawGuard<DeviceInterfaces, &DeviceInterfaces::close_set>;
// Preparsed data from HidCalls::preparsed_data.
using PreparsedData = RawGuard<HidCalls, &HidCalls::free_preparsed_data>;

}  // namespace nivalto::backlight_engine
