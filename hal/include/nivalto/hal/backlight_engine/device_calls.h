#pragma once

// The platform calls the native backlight engine makes, one thin interface
// per group of system functions. Each operation forwards to one function of
// the same name, with the same arguments, and turns its failure into a value
// at once (the platform's last error, or the HID status), so that the engine
// itself builds and runs without Windows. The Windows twins call the real
// functions; the test twin calls the simulated device layer's libraries,
// which export the same functions.
//
// Structures that the system fills (HIDP_CAPS, HIDP_VALUE_CAPS,
// SP_DEVICE_INTERFACE_DATA, SP_DEVICE_INTERFACE_DETAIL_DATA_W) travel as byte
// buffers of their published x64 size; the engine reads them at their
// published offsets and checks every length first.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "nivalto/hal/backlight_access.h"

namespace nivalto::backlight_engine {

// A HANDLE, HDEVINFO or PHIDP_PREPARSED_DATA, as a number. The engine owns
// every one it receives in a move-only guard that releases it on every path.
using RawHandle = std::uintptr_t;

// What GetLastError said right after the call that failed.
using SystemError = std::uint32_t;

// An NTSTATUS-like HID status; HID_STATUS_SUCCESS is the only success.
using HidStatus = std::int32_t;
inline constexpr HidStatus HID_STATUS_SUCCESS = 0x00110000;

// A GUID in its binary layout.
using GuidBytes = std::array<std::uint8_t, 16>;

// Published x64 sizes of the structures the system fills.
inline constexpr std::size_t HIDP_CAPS_SIZE = 64;
inline constexpr std::size_t HIDP_VALUE_CAPS_SIZE = 72;
inline constexpr std::size_t INTERFACE_DATA_SIZE = 32;  // SP_DEVICE_INTERFACE_DATA
// cbSize of SP_DEVICE_INTERFACE_DETAIL_DATA_W on a 64-bit process: the fixed
// part with its packing, not the whole buffer.
inline constexpr std::uint32_t INTERFACE_DETAIL_HEADER_SIZE = 8;

// SP_DEVICE_INTERFACE_DATA, cbSize set by whoever makes it.
using InterfaceData = std::array<std::uint8_t, INTERFACE_DATA_SIZE>;

// kernel32: devices opened by path (the ThinkPad driver, HID devices).
class DeviceFiles {
 public:
  virtual ~DeviceFiles() = default;
  // CreateFileW(path, access, share, no security attributes, disposition,
  // flags, no template).
  [[nodiscard]] virtual std::expected<RawHandle, SystemError> open(std::u16string_view path,
                                                                   std::uint32_t access,
                                                                   std::uint32_t share,
                                                                   std::uint32_t disposition,
                                                                   std::uint32_t flags) = 0;
  // DeviceIoControl, synchronous; the number of bytes returned.
  [[nodiscard]] virtual std::expected<std::uint32_t, SystemError> control(
      RawHandle device, std::uint32_t code, std::span<const std::uint8_t> in,
      std::span<std::uint8_t> out) = 0;
  // WriteFile, synchronous; the number of bytes written.
  [[nodiscard]] virtual std::expected<std::uint32_t, SystemError> write(
      RawHandle device, std::span<const std::uint8_t> bytes) = 0;
  // CloseHandle.
  virtual void close(RawHandle device) = 0;
};

// setupapi: the present interfaces of a device class.
class DeviceInterfaces {
 public:
  virtual ~DeviceInterfaces() = default;
  // SetupDiGetClassDevsW(class, no enumerator, no parent, flags).
  [[nodiscard]] virtual std::expected<RawHandle, SystemError> open_set(const GuidBytes& class_guid,
                                                                       std::uint32_t flags) = 0;
  // SetupDiEnumDeviceInterfaces(set, no device info, class, index, data);
  // `data` comes with its cbSize set.
  [[nodiscard]] virtual std::expected<void, SystemError> interface_at(RawHandle set,
                                                                      const GuidBytes& class_guid,
                                                                      std::uint32_t index,
                                                                      InterfaceData& data) = 0;
  // SetupDiGetDeviceInterfaceDetailW without a buffer: the size it asks for
  // (0 when it gives none).
  [[nodiscard]] virtual std::uint32_t detail_size(RawHandle set, InterfaceData& data) = 0;
  // SetupDiGetDeviceInterfaceDetailW into `detail`, whose first four bytes
  // hold cbSize.
  [[nodiscard]] virtual std::expected<void, SystemError> detail(RawHandle set, InterfaceData& data,
                                                                std::span<std::uint8_t> detail) = 0;
  // SetupDiDestroyDeviceInfoList.
  virtual void close_set(RawHandle set) = 0;
};

// hid.dll.
class HidCalls {
 public:
  virtual ~HidCalls() = default;
  // HidD_GetHidGuid.
  [[nodiscard]] virtual GuidBytes hid_guid() = 0;
  // HidD_GetPreparsedData / HidD_FreePreparsedData.
  [[nodiscard]] virtual std::expected<RawHandle, SystemError> preparsed_data(RawHandle device) = 0;
  virtual void free_preparsed_data(RawHandle preparsed) = 0;
  // HidP_GetCaps into a buffer of HIDP_CAPS_SIZE bytes.
  [[nodiscard]] virtual HidStatus caps(RawHandle preparsed,
                                       std::span<std::uint8_t, HIDP_CAPS_SIZE> caps) = 0;
  // HidP_GetValueCaps: `count` holds the room (in records of
  // HIDP_VALUE_CAPS_SIZE bytes) on entry and the number filled on return.
  [[nodiscard]] virtual HidStatus value_caps(int report_type, std::span<std::uint8_t> buffer,
                                             std::uint16_t& count, RawHandle preparsed) = 0;
  // HidD_GetFeature / HidD_SetFeature / HidD_SetOutputReport.
  [[nodiscard]] virtual std::expected<void, SystemError> get_feature(
      RawHandle device, std::span<std::uint8_t> report) = 0;
  [[nodiscard]] virtual std::expected<void, SystemError> set_feature(
      RawHandle device, std::span<const std::uint8_t> report) = 0;
  [[nodiscard]] virtual std::expected<void, SystemError> set_output_report(
      RawHandle device, std::span<const std::uint8_t> report) = 0;
  // HidP_GetUsageValue / HidP_SetUsageValue.
  [[nodiscard]] virtual HidStatus get_usage_value(int report_type, std::uint16_t page,
                                                  std::uint16_t link_collection,
                                                  std::uint16_t usage, std::uint32_t& value,
                                                  RawHandle preparsed,
                                                  std::span<const std::uint8_t> report) = 0;
  [[nodiscard]] virtual HidStatus set_usage_value(int report_type, std::uint16_t page,
                                                  std::uint16_t link_collection,
                                                  std::uint16_t usage, std::uint32_t value,
                                                  RawHandle preparsed,
                                                  std::span<std::uint8_t> report) = 0;
};

// The Framework vendor tools, run by absolute path from the framework folder
// beside the executable.
class VendorTools {
 public:
  virtual ~VendorTools() = default;
  // A file (not a folder) exists at `path`.
  [[nodiscard]] virtual bool exists(const std::string& path) = 0;
  // Runs the program at `path` with an empty standard input and both output
  // streams captured, ended once `time_limit` passes.
  [[nodiscard]] virtual std::expected<ProcessExit, ProcessFailure> run(
      const std::string& path, const std::vector<std::string>& arguments,
      std::chrono::milliseconds time_limit) = 0;
};

// Everything the engine touches.
struct BacklightDevices {
  DeviceFiles& files;
  DeviceInterfaces& interfaces;
  HidCalls& hid;
  VendorTools& tools;
};

}  // namespace nivalto::backlight_engine
