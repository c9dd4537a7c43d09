#pragma once

// The Windows twins of the engine's platform calls: each operation calls the
// function it is named after and nothing else.

#include "nivalto/hal/backlight_engine/device_calls.h"
#include "nivalto/hal/process_runner_windows.h"

namespace nivalto::backlight_engine {

class WindowsDeviceFiles final : public DeviceFiles {
 public:
  [[nodiscard]] std::expected<RawHandle, SystemError> open(std::u16string_view path,
                                                           std::uint32_t access,
                                                           std::uint32_t share,
                                                           std::uint32_t disposition,
                                                           std::uint32_t flags) override;
  [[nodiscard]] std::expected<std::uint32_t, SystemError> control(
      RawHandle device, std::uint32_t code, std::span<const std::uint8_t> in,
      std::span<std::uint8_t> out) override;
  [[nodiscard]] std::expected<std::uint32_t, SystemError> write(
      RawHandle device, std::span<const std::uint8_t> bytes) override;
  void close(RawHandle device) override;
};

class WindowsDeviceInterfaces final : public DeviceInterfaces {
 public:
  [[nodiscard]] std::expected<RawHandle, SystemError> open_set(const GuidBytes& class_guid,
                                                               std::uint32_t flags) override;
  [[nodiscard]] std::expected<void, SystemError> interface_at(RawHandle set,
                                                              const GuidBytes& class_guid,
                                                              std::uint32_t index,
                                                              InterfaceData& data) override;
  [[nodiscard]] std::uint32_t detail_size(RawHandle set, InterfaceData& data) override;
  [[nodiscard]] std::expected<void, SystemError> detail(RawHandle set, InterfaceData& data,
                                                        std::span<std::uint8_t> detail) override;
  void close_set(RawHandle set) override;
};

class WindowsHidCalls final : public HidCalls {
 public:
  [[nodiscard]] GuidBytes hid_guid() override;
  [[nodiscard]] std::expected<RawHandle, SystemError> preparsed_data(RawHandle device) override;
  void free_preparsed_data(RawHandle preparsed) override;
  [[nodiscard]] HidStatus caps(RawHandle preparsed,
                               std::span<std::uint8_t, HIDP_CAPS_SIZE> caps) override;
  [[nodiscard]] HidStatus value_caps(int report_type, std::span<std::uint8_t> buffer,
                                     std::uint16_t& count, RawHandle preparsed) override;
  [[nodiscard]] std::expected<void, SystemError> get_feature(
      RawHandle device, std::span<std::uint8_t> report) override;
  [[nodiscard]] std::expected<void, SystemError> set_feature(
      RawHandle device, std::span<const std::uint8_t> report) override;
  [[nodiscard]] std::expected<void, SystemError> set_output_report(
      RawHandle device, std::span<const std::uint8_t> report) override;
  [[nodiscard]] HidStatus get_usage_value(int report_type, std::uint16_t page,
                                          std::uint16_t link_collection, std::uint16_t usage,
                                          std::uint32_t& value, RawHandle preparsed,
                                          std::span<const std::uint8_t> report) override;
  [[nodiscard]] HidStatus set_usage_value(int report_type, std::uint16_t page,
                                          std::uint16_t link_collection, std::uint16_t usage,
                                          std::uint32_t value, RawHandle preparsed,
                                          std::span<std::uint8_t> report) override;
};

// GetFileAttributesW, and the product's process runner. Only absolute paths
// (a drive and a backslash, or a UNC path) are ever looked at or run: a
// relative one would make the current folder choose the program.
class WindowsVendorTools final : public VendorTools {
 public:
  [[nodiscard]] bool exists(const std::string& path) override;
  [[nodiscard]] std::expected<ProcessExit, ProcessFailure> run(
      const std::string& path, const std::vector<std::string>& arguments,
      std::chrono::milliseconds time_limit) override;

 private:
  WindowsProcessRunner runner_;
};

}  // namespace nivalto::backlight_engine
