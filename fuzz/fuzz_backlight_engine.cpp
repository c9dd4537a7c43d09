// Any device replies to the backlight engine: driver state words and reply
// lengths, HID capabilities and value capabilities, detail sizes, report
// values, send failures and vendor tool output. Whatever they are, the engine
// either hands over or prints one compact JSON object with the script's eight
// members in order, and every handle it received is released exactly once.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "nivalto/hal/backlight_engine/engine.h"
#include "nivalto/hal/keyboard_answer.h"
#include "nivalto/hal/text.h"
#include "tests/support/fake_backlight_devices.h"

namespace {

using nivalto::testing::FakeHidDevice;
using nivalto::testing::FakeMachine;

std::optional<std::uint32_t> maybe_error(FuzzedDataProvider& input) {
  if (!input.ConsumeBool()) return std::nullopt;
  return input.ConsumeIntegral<std::uint32_t>();
}

void add_tool(FuzzedDataProvider& input, FakeMachine& machine, const std::string& file) {
  if (!input.ConsumeBool()) return;
  auto& replies = machine.tools[file];
  const int count = input.ConsumeIntegralInRange(1, 3);
  for (int i = 0; i < count; ++i) {
    if (input.ConsumeIntegralInRange(0, 7) == 0) {
      replies.push_back(std::unexpected(
          nivalto::ProcessFailure{input.ConsumeBool() ? nivalto::ProcessFailure::Kind::NotStarted
                                                      : nivalto::ProcessFailure::Kind::Lost,
                                  input.ConsumeRandomLengthString(16)}));
    } else {
      replies.push_back(nivalto::ProcessExit{input.ConsumeIntegral<std::uint32_t>(),
                                             input.ConsumeRandomLengthString(64),
                                             input.ConsumeRandomLengthString(64)});
    }
  }
}

FakeHidDevice hid_device(FuzzedDataProvider& input) {
  FakeHidDevice device;
  if (input.ConsumeBool()) device.usage_page = input.ConsumeIntegral<std::uint16_t>();
  if (input.ConsumeBool()) device.usage = input.ConsumeIntegral<std::uint16_t>();
  device.output_length = input.ConsumeIntegralInRange<std::uint16_t>(0, 8);
  device.feature_length = input.ConsumeIntegralInRange<std::uint16_t>(0, 8);
  if (input.ConsumeBool()) {
    device.output_caps = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 220));
  }
  if (input.ConsumeBool()) {
    device.feature_caps = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 220));
  }
  if (input.ConsumeBool()) device.claimed_count = input.ConsumeIntegral<std::uint16_t>();
  if (input.ConsumeBool()) device.detail_size = input.ConsumeIntegral<std::uint32_t>();
  device.detail_unterminated = input.ConsumeBool();
  device.value = input.ConsumeIntegral<std::uint32_t>();
  device.write_error = maybe_error(input);
  device.set_output_error = maybe_error(input);
  device.set_feature_error = maybe_error(input);
  device.get_feature_error = maybe_error(input);
  return device;
}

// The members of the script's answer, in its order, each with what may
// follow its colon.
constexpr std::array<std::string_view, 8> MEMBERS = {
    "{\"available\":", ",\"known\":",   ",\"level\":",    ",\"max_level\":",
    ",\"source\":\"",  ",\"applied\":", ",\"verified\":", ",\"reason\":\""};

void check_line(const std::string& line) {
  if (!line.ends_with("}\n") || line.find('\n') != line.size() - 1) __builtin_trap();
  std::size_t at = 0;
  for (const std::string_view member : MEMBERS) {
    const std::size_t found = line.find(member, at);
    if (found == std::string::npos || (at == 0 && found != 0)) __builtin_trap();
    at = found + member.size();
  }
  // The record reads back as the answer the access routine expects.
  const auto decoded = nivalto::decode_keyboard_json(nivalto::trim_white_space(line));
  if (!decoded || decoded->level > 2 || decoded->max_level < 1 || decoded->max_level > 2) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  FakeMachine machine;
  const bool write = input.ConsumeBool();
  const int level = input.ConsumeIntegralInRange(-1, 3);
  const bool with_tools = input.ConsumeBool();
  if (with_tools) {
    add_tool(input, machine, "framework_tool.exe");
    add_tool(input, machine, "qmk_hid.exe");
  }
  const int words = input.ConsumeIntegralInRange(0, 3);
  for (int i = 0; i < words; ++i)
    machine.thinkpad_words.push_back(input.ConsumeIntegral<std::uint32_t>());
  machine.thinkpad_returned = input.ConsumeIntegralInRange<std::uint32_t>(0, 8);
  machine.thinkpad_set_error = maybe_error(input);
  const int devices = input.ConsumeIntegralInRange(0, 2);
  for (int i = 0; i < devices; ++i) machine.hid.push_back(hid_device(input));

  nivalto::backlight_engine::BacklightDevices calls{machine, machine, machine, machine};
  const auto outcome = nivalto::backlight_engine::run_backlight_engine(
      write ? "write" : "read", level, with_tools ? "C:\\N\\framework" : "", calls,
      std::chrono::seconds(60));
  if (!machine.all_released()) __builtin_trap();
  // Only a tool outliving the request is an error, and these tools never do.
  if (!outcome) __builtin_trap();
  if (const auto* answer = std::get_if<nivalto::backlight_engine::EngineAnswer>(&*outcome)) {
    check_line(answer->line);
  }
  return 0;
}
