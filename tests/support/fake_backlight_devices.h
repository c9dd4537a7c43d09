#pragma once

// One recording fake machine behind all four of the engine's platform
// interfaces: a ThinkPad driver, HID interfaces and vendor tools as the test
// sets them up. Every call lands in `calls`; every handle it hands out is
// tracked, so that a test sees one left open or released twice.
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "nivalto/hal/backlight_engine/device_calls.h"

namespace nivalto::testing {

using namespace nivalto::backlight_engine;

// One 72-byte HIDP_VALUE_CAPS record at the published offsets.
inline std::vector<std::uint8_t> value_caps_record(std::uint16_t page, std::uint16_t usage,
                                                   std::int32_t minimum, std::int32_t maximum,
                                                   std::uint8_t report_id = 0) {
  std::vector<std::uint8_t> record(HIDP_VALUE_CAPS_SIZE);
  const auto put = [&record](std::size_t offset, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) record[offset + i] = static_cast<std::uint8_t>(value >> 8 * i);
  };
  put(0, page, 2);
  record[2] = report_id;
  put(40, static_cast<std::uint32_t>(minimum), 4);
  put(44, static_cast<std::uint32_t>(maximum), 4);
  put(56, usage, 2);
  return record;
}

struct FakeHidDevice {
  std::uint16_t usage_page = 0x0C;
  std::uint16_t usage = 0x07;
  std::uint16_t output_length = 3;
  std::uint16_t feature_length = 3;
  std::vector<std::uint8_t> output_caps = value_caps_record(0x0C, 0x7B, 0, 255);
  std::vector<std::uint8_t> feature_caps = value_caps_record(0x0C, 0x7B, 0, 255);
  // Records the value-caps call claims to have filled, when it lies.
  std::optional<std::uint16_t> claimed_count;
  std::optional<std::uint32_t> detail_size;
  bool detail_unterminated = false;
  std::uint32_t value = 0;
  std::optional<SystemError> write_error, set_output_error, set_feature_error, get_feature_error;
};

class FakeMachine final : public DeviceFiles,
                          public DeviceInterfaces,
                          public HidCalls,
                          public VendorTools {
 public:
  // ---- ThinkPad driver: absent unless `thinkpad_words` has replies.
  std::deque<std::uint32_t> thinkpad_words;  // get-state replies, the last repeating
  std::uint32_t thinkpad_returned = 4;       // bytes DeviceIoControl says it returned
  std::optional<SystemError> thinkpad_set_error;
  // ---- HID interfaces, in enumeration order.
  std::vector<FakeHidDevice> hid;
  // ---- vendor tools by file name: replies in turn, the last repeating.
  std::map<std::string, std::deque<std::expected<ProcessExit, ProcessFailure>>> tools;
  std::chrono::milliseconds tool_delay{0};  // how long each tool run takes

  std::vector<std::string> calls;
  std::set<RawHandle> open_handles;
  int bad_releases = 0;

  [[nodiscard]] bool all_released() const { return open_handles.empty() && bad_releases == 0; }

  std::expected<RawHandle, SystemError> open(std::u16string_view path, std::uint32_t, std::uint32_t,
                                             std::uint32_t, std::uint32_t) override {
    const std::string name(path.begin(), path.end());
    calls.push_back("open " + name);
    if (name == "\\\\.\\IBMPmDrv") {
      if (thinkpad_words.empty()) return std::unexpected(SystemError{2});
      return hand_out(0x1000);
    }
    for (std::size_t i = 0; i < hid.size(); ++i) {
      if (name == path_of(i)) return hand_out(0x2000 + i);
    }
    return std::unexpected(SystemError{2});
  }
  std::expected<std::uint32_t, SystemError> control(RawHandle device, std::uint32_t code,
                                                    std::span<const std::uint8_t> in,
                                                    std::span<std::uint8_t> out) override {
    check_live(device);
    calls.push_back("control " + std::to_string(code) + " " +
                    std::to_string(in[0] | in[1] << 8 | in[2] << 16 | in[3] << 24));
    if (code == 0x222684) {
      if (thinkpad_set_error) return std::unexpected(*thinkpad_set_error);
      return 4;
    }
    const std::uint32_t word = thinkpad_words.front();
    if (thinkpad_words.size() > 1) thinkpad_words.pop_front();
    // A short reply may still leave other bytes dirty in a hostile twin.
    for (std::size_t i = 0; i < out.size(); ++i) {
      out[i] = i < 4 ? static_cast<std::uint8_t>(word >> 8 * i) : 0;
    }
    return thinkpad_returned;
  }
  std::expected<std::uint32_t, SystemError> write(RawHandle device,
                                                  std::span<const std::uint8_t> bytes) override {
    return send(device, bytes, "write", &FakeHidDevice::write_error);
  }
  void close(RawHandle device) override { release(device); }

  std::expected<RawHandle, SystemError> open_set(const GuidBytes&, std::uint32_t) override {
    return hand_out(0x5E7);
  }
  std::expected<void, SystemError> interface_at(RawHandle set, const GuidBytes&,
                                                std::uint32_t index, InterfaceData& data) override {
    check_live(set);
    if (index >= hid.size()) return std::unexpected(SystemError{259});
    data[4] = static_cast<std::uint8_t>(index);
    return {};
  }
  std::uint32_t detail_size(RawHandle set, InterfaceData& data) override {
    check_live(set);
    return hid[data[4]].detail_size.value_or(4 + 2 * (path_of(data[4]).size() + 1));
  }
  std::expected<void, SystemError> detail(RawHandle set, InterfaceData& data,
                                          std::span<std::uint8_t> detail) override {
    check_live(set);
    calls.push_back("detail " + std::to_string(detail.size()));
    const std::string path = path_of(data[4]);
    std::size_t offset = 4;
    for (std::size_t i = 0; offset + 1 < detail.size(); ++i, offset += 2) {
      const bool fill = hid[data[4]].detail_unterminated || i < path.size();
      detail[offset] = fill ? static_cast<std::uint8_t>(path[i % path.size()]) : 0;
      detail[offset + 1] = 0;
    }
    return {};
  }
  void close_set(RawHandle set) override { release(set); }

  GuidBytes hid_guid() override { return GuidBytes{0xB2}; }
  std::expected<RawHandle, SystemError> preparsed_data(RawHandle device) override {
    check_live(device);
    return hand_out(device + 0x10000);
  }
  void free_preparsed_data(RawHandle preparsed) override { release(preparsed); }
  HidStatus caps(RawHandle preparsed, std::span<std::uint8_t, HIDP_CAPS_SIZE> caps) override {
    const FakeHidDevice& device = device_of(preparsed);
    const auto put = [&caps](std::size_t offset, std::size_t value) {
      caps[offset] = static_cast<std::uint8_t>(value);
      caps[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    put(0, device.usage);
    put(2, device.usage_page);
    put(6, device.output_length);
    put(8, device.feature_length);
    put(54, device.output_caps.size() / HIDP_VALUE_CAPS_SIZE);
    put(60, device.feature_caps.size() / HIDP_VALUE_CAPS_SIZE);
    return HID_STATUS_SUCCESS;
  }
  HidStatus value_caps(int report_type, std::span<std::uint8_t> buffer, std::uint16_t& count,
                       RawHandle preparsed) override {
    const FakeHidDevice& device = device_of(preparsed);
    const auto& records = report_type == 1 ? device.output_caps : device.feature_caps;
    const std::size_t bytes = std::min(records.size(), buffer.size());
    std::copy_n(records.begin(), bytes, buffer.begin());
    count = device.claimed_count.value_or(static_cast<std::uint16_t>(bytes / HIDP_VALUE_CAPS_SIZE));
    return HID_STATUS_SUCCESS;
  }
  std::expected<void, SystemError> get_feature(RawHandle device,
                                               std::span<std::uint8_t> report) override {
    const auto& fake = device_at(device);
    calls.push_back("get_feature");
    if (fake.get_feature_error) return std::unexpected(*fake.get_feature_error);
    if (report.size() >= 3) {
      report[1] = static_cast<std::uint8_t>(fake.value);
      report[2] = static_cast<std::uint8_t>(fake.value >> 8);
    }
    return {};
  }
  std::expected<void, SystemError> set_feature(RawHandle device,
                                               std::span<const std::uint8_t> report) override {
    return sent(send(device, report, "set_feature", &FakeHidDevice::set_feature_error));
  }
  std::expected<void, SystemError> set_output_report(
      RawHandle device, std::span<const std::uint8_t> report) override {
    return sent(send(device, report, "set_output", &FakeHidDevice::set_output_error));
  }
  HidStatus get_usage_value(int, std::uint16_t, std::uint16_t, std::uint16_t, std::uint32_t& value,
                            RawHandle preparsed, std::span<const std::uint8_t> report) override {
    device_of(preparsed);
    value = report.size() >= 3 ? report[1] | report[2] << 8 : 0;
    return HID_STATUS_SUCCESS;
  }
  HidStatus set_usage_value(int, std::uint16_t, std::uint16_t, std::uint16_t, std::uint32_t value,
                            RawHandle preparsed, std::span<std::uint8_t> report) override {
    device_of(preparsed);
    if (report.size() < 3) return static_cast<HidStatus>(0xC0110003);
    report[1] = static_cast<std::uint8_t>(value);
    report[2] = static_cast<std::uint8_t>(value >> 8);
    return HID_STATUS_SUCCESS;
  }

  bool exists(const std::string& path) override {
    calls.push_back("exists " + path);
    return tools.contains(file_of(path));
  }
  std::expected<ProcessExit, ProcessFailure> run(const std::string& path,
                                                 const std::vector<std::string>& arguments,
                                                 std::chrono::milliseconds) override {
    std::this_thread::sleep_for(tool_delay);
    std::string call = "run " + file_of(path);
    for (const auto& argument : arguments) call += " " + argument;
    calls.push_back(call);
    auto& replies = tools.at(file_of(path));
    auto reply = replies.front();
    if (replies.size() > 1) replies.pop_front();
    return reply;
  }

 private:
  static std::string file_of(const std::string& path) {
    return path.substr(path.find_last_of("\\/") + 1);
  }
  static std::string path_of(std::size_t index) { return "hid#" + std::to_string(index); }

  RawHandle hand_out(RawHandle raw) {
    if (!open_handles.insert(raw).second) ++bad_releases;  // handed out twice, never closed
    return raw;
  }
  void check_live(RawHandle raw) {
    if (!open_handles.contains(raw)) ++bad_releases;
  }
  void release(RawHandle raw) {
    if (open_handles.erase(raw) == 0) ++bad_releases;
  }
  FakeHidDevice& device_at(RawHandle handle) {
    check_live(handle);
    return hid.at(handle - 0x2000);
  }
  FakeHidDevice& device_of(RawHandle preparsed) { return device_at(preparsed - 0x10000); }

  std::expected<std::uint32_t, SystemError> send(RawHandle device,
                                                 std::span<const std::uint8_t> report,
                                                 const std::string& how,
                                                 std::optional<SystemError> FakeHidDevice::*error) {
    FakeHidDevice& fake = device_at(device);
    calls.push_back(how + " " +
                    std::to_string(report.size() >= 3 ? report[1] | report[2] << 8 : -1));
    if (fake.*error) return std::unexpected(*(fake.*error));
    if (report.size() >= 3) fake.value = report[1] | report[2] << 8;
    return static_cast<std::uint32_t>(report.size());
  }
  static std::expected<void, SystemError> sent(std::expected<std::uint32_t, SystemError> result) {
    if (!result) return std::unexpected(result.error());
    return {};
  }
};

}  // namespace nivalto::testing
