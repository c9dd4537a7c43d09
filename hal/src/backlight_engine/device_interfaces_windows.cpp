#include <windows.h>

#include <setupapi.h>

#include <cstring>
#include <limits>

#include "nivalto/hal/backlight_engine/device_calls_windows.h"

namespace nivalto::backlight_engine {
namespace {

static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == INTERFACE_DATA_SIZE);
static_assert(sizeof(GUID) == sizeof(GuidBytes));

HDEVINFO set_of(RawHandle raw) { return reinterpret_cast<HDEVINFO>(raw); }

GUID guid_of(const GuidBytes& bytes) {
  GUID guid;
  std::memcpy(&guid, bytes.data(), sizeof guid);
  return guid;
}

// The record goes through a properly aligned copy both ways.
SP_DEVICE_INTERFACE_DATA record_of(const InterfaceData& data) {
  SP_DEVICE_INTERFACE_DATA record;
  std::memcpy(&record, data.data(), sizeof record);
  return record;
}

void store(const SP_DEVICE_INTERFACE_DATA& record, InterfaceData& data) {
  std::memcpy(data.data(), &record, sizeof record);
}

}  // namespace

std::expected<RawHandle, SystemError> WindowsDeviceInterfaces::open_set(const GuidBytes& class_guid,
                                                                        std::uint32_t flags) {
  const GUID guid = guid_of(class_guid);
  const HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags);
  if (set == INVALID_HANDLE_VALUE || set == nullptr) return std::unexpected(GetLastError());
  return reinterpret_cast<RawHandle>(set);
}

std::expected<void, SystemError> WindowsDeviceInterfaces::interface_at(RawHandle set,
                                                                       const GuidBytes& class_guid,
                                                                       std::uint32_t index,
                                                                       InterfaceData& data) {
  const GUID guid = guid_of(class_guid);
  SP_DEVICE_INTERFACE_DATA record = record_of(data);
  if (!SetupDiEnumDeviceInterfaces(set_of(set), nullptr, &guid, index, &record)) {
    return std::unexpected(GetLastError());
  }
  store(record, data);
  return {};
}

std::uint32_t WindowsDeviceInterfaces::detail_size(RawHandle set, InterfaceData& data) {
  SP_DEVICE_INTERFACE_DATA record = record_of(data);
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailW(set_of(set), &record, nullptr, 0, &required, nullptr);
  return required;
}

std::expected<void, SystemError> WindowsDeviceInterfaces::detail(RawHandle set, InterfaceData& data,
                                                                 std::span<std::uint8_t> detail) {
  // The system writes a DWORD and WCHARs there: the buffer must hold the
  // fixed part and be aligned for it.
  if (detail.size() < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) ||
      detail.size() > std::numeric_limits<DWORD>::max() ||
      reinterpret_cast<std::uintptr_t>(detail.data()) %
              alignof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) !=
          0) {
    return std::unexpected(ERROR_INVALID_USER_BUFFER);
  }
  SP_DEVICE_INTERFACE_DATA record = record_of(data);
  DWORD required = 0;
  if (!SetupDiGetDeviceInterfaceDetailW(
          set_of(set), &record, reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail.data()),
          static_cast<DWORD>(detail.size()), &required, nullptr)) {
    return std::unexpected(GetLastError());
  }
  return {};
}

void WindowsDeviceInterfaces::close_set(RawHandle set) {
  SetupDiDestroyDeviceInfoList(set_of(set));
}

}  // namespace nivalto::backlight_engine
