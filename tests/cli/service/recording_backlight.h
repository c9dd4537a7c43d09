#pragma once

#include <string>
#include <vector>

#include "cli/service/protocol.h"

namespace nivalto::testing {

// Answers with a fixed result and records every call ("read", "write N").
class RecordingBacklight final : public KeyboardBacklight {
 public:
  HalResult<KeyboardState> read() override {
    calls.push_back("read");
    return result;
  }
  HalResult<KeyboardState> write(std::uint8_t level) override {
    calls.push_back("write " + std::to_string(level));
    return result;
  }

  HalResult<KeyboardState> result =
      KeyboardState{.known = true, .source = BacklightSource::Hid, .level = 1, .max_level = 2};
  std::vector<std::string> calls;
};

}  // namespace nivalto::testing
