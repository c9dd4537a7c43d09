#include <windows.h>

// mingw-w64's HID headers declare the functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "nivalto/hal/backlight_engine/device_calls_windows.h"

namespace nivalto::backlight_engine {
namespace {

static_assert(sizeof(HIDP_CAPS) == HIDP_CAPS_SIZE);
static_assert(sizeof(HIDP_VALUE_CAPS) == HIDP_VALUE_CAPS_SIZE);

HANDLE handle_of(RawHandle raw) { return reinterpret_cast<HANDLE>(raw); }
PHIDP_PREPARSED_DATA preparsed_of(RawHandle raw) {
  return reinterpret_cast<PHIDP_PREPARSED_DATA>(raw);
}

// HID_STATUS_SUCCESS is never a failure; this one says the buffer was not
// one the call could take.
constexpr HidStatus INVALID_REPORT_LENGTH = static_cast<HidStatus>(0xC0110003);

bool fits(std::size_t size) { return size <= std::numeric_limits<ULONG>::max(); }

std::expected<void, SystemError> done(BOOLEAN succeeded) {
  if (!succeeded) return std::unexpected(GetLastError());
  return {};
}

}  // namespace

GuidBytes WindowsHidCalls::hid_guid() {
  GUID guid;
  HidD_GetHidGuid(&guid);
  GuidBytes bytes;
  std::memcpy(bytes.data(), &guid, sizeof guid);
  return bytes;
}

std::expected<RawHandle, SystemError> WindowsHidCalls::preparsed_data(RawHandle device) {
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(handle_of(device), &preparsed)) return std::unexpected(GetLastError());
  if (preparsed == nullptr) return std::unexpected(static_cast<SystemError>(ERROR_INVALID_DATA));
  return reinterpret_cast<RawHandle>(preparsed);
}

void WindowsHidCalls::free_preparsed_data(RawHandle preparsed) {
  HidD_FreePreparsedData(preparsed_of(preparsed));
}

HidStatus WindowsHidCalls::caps(RawHandle preparsed, std::span<std::uint8_t, HIDP_CAPS_SIZE> caps) {
  HIDP_CAPS record{};
  const HidStatus status = HidP_GetCaps(preparsed_of(preparsed), &record);
  std::memcpy(caps.data(), &record, sizeof record);
  return status;
}

HidStatus WindowsHidCalls::value_caps(int report_type, std::span<std::uint8_t> buffer,
                                      std::uint16_t& count, RawHandle preparsed) {
  // Never more room than the buffer holds, whatever `count` says.
  const auto room =
      static_cast<USHORT>(std::min<std::size_t>(count, buffer.size() / HIDP_VALUE_CAPS_SIZE));
  std::vector<HIDP_VALUE_CAPS> records(std::max<std::size_t>(room, 1));
  USHORT filled = room;
  const HidStatus status = HidP_GetValueCaps(static_cast<HIDP_REPORT_TYPE>(report_type),
                                             records.data(), &filled, preparsed_of(preparsed));
  filled = std::min(filled, room);
  std::memcpy(buffer.data(), records.data(), std::size_t{filled} * HIDP_VALUE_CAPS_SIZE);
  count = filled;
  return status;
}

std::expected<void, SystemError> WindowsHidCalls::get_feature(RawHandle device,
                                                              std::span<std::uint8_t> report) {
  if (!fits(report.size()))
    return std::unexpected(static_cast<SystemError>(ERROR_INVALID_PARAMETER));
  return done(HidD_GetFeature(handle_of(device), report.data(), static_cast<ULONG>(report.size())));
}

std::expected<void, SystemError> WindowsHidCalls::set_feature(
    RawHandle device, std::span<const std::uint8_t> report) {
  if (!fits(report.size()))
    return std::unexpected(static_cast<SystemError>(ERROR_INVALID_PARAMETER));
  return done(HidD_SetFeature(handle_of(device), const_cast<std::uint8_t*>(report.data()),
                              static_cast<ULONG>(report.size())));
}

std::expected<void, SystemError> WindowsHidCalls::set_output_report(
    RawHandle device, std::span<const std::uint8_t> report) {
  if (!fits(report.size()))
    return std::unexpected(static_cast<SystemError>(ERROR_INVALID_PARAMETER));
  return done(HidD_SetOutputReport(handle_of(device), const_cast<std::uint8_t*>(report.data()),
                                   static_cast<ULONG>(report.size())));
}

HidStatus WindowsHidCalls::get_usage_value(int report_type, std::uint16_t page,
                                           std::uint16_t link_collection, std::uint16_t usage,
                                           std::uint32_t& value, RawHandle preparsed,
                                           std::span<const std::uint8_t> report) {
  if (!fits(report.size())) return INVALID_REPORT_LENGTH;
  ULONG read = 0;
  const HidStatus status = HidP_GetUsageValue(
      static_cast<HIDP_REPORT_TYPE>(report_type), page, link_collection, usage, &read,
      preparsed_of(preparsed), reinterpret_cast<PCHAR>(const_cast<std::uint8_t*>(report.data())),
      static_cast<ULONG>(report.size()));
  value = read;
  return status;
}

HidStatus WindowsHidCalls::set_usage_value(int report_type, std::uint16_t page,
                                           std::uint16_t link_collection, std::uint16_t usage,
                                           std::uint32_t value, RawHandle preparsed,
                                           std::span<std::uint8_t> report) {
  if (!fits(report.size())) return INVALID_REPORT_LENGTH;
  return HidP_SetUsageValue(static_cast<HIDP_REPORT_TYPE>(report_type), page, link_collection,
                            usage, value, preparsed_of(preparsed),
                            reinterpret_cast<PCHAR>(report.data()),
                            static_cast<ULONG>(report.size()));
}

}  // namespace nivalto::backlight_engine
