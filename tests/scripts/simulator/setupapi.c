// Stand-in for setupapi.dll: the device interfaces of the simulated HID
// devices, with the platform's published x64 structure layouts.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "simulator.h"

typedef struct {
  uint32_t cbSize;
  Guid InterfaceClassGuid;
  uint32_t Flags;
  uintptr_t Reserved;
} SP_DEVICE_INTERFACE_DATA;
_Static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "SP_DEVICE_INTERFACE_DATA");

typedef struct {
  uint32_t cbSize;
  wchar16 DevicePath[1];
} SP_DEVICE_INTERFACE_DETAIL_DATA_W;
_Static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "detail record");

static const Guid HID_GUID = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
#define DEVICE_INFO_SET ((void*)(intptr_t)0x5E70)

static int sets_open;

static int check_set(void* set, const char* call) {
  if (set != DEVICE_INFO_SET || sets_open <= 0) {
    sim_fault("%s on device information set %p, which is not open", call, set);
    sim_set_error(ERROR_INVALID_HANDLE);
    return 0;
  }
  return 1;
}

SIM_EXPORT void* SetupDiGetClassDevsW(const Guid* guid, const wchar16* enumerator, void* parent,
                                      uint32_t flags) {
  int hid = guid != NULL && memcmp(guid, &HID_GUID, sizeof HID_GUID) == 0;
  sim_log("SetupDiGetClassDevsW guid=%s enumerator=%s parent=%s flags=0x%02x",
          hid ? "hid" : "other", enumerator ? "set" : "null", parent ? "set" : "null", flags);
  if (!hid) sim_fault("SetupDiGetClassDevsW for a class other than HID");
  int error = (int)sim_int(sim_scenario(), "class_devs_error", 0);
  if (error) {
    sim_log("  -> invalid handle, error %d", error);
    sim_set_error(error);
    return INVALID_HANDLE;
  }
  sets_open++;
  return DEVICE_INFO_SET;
}

SIM_EXPORT int SetupDiEnumDeviceInterfaces(void* set, void* device_info, const Guid* guid,
                                           uint32_t index, SP_DEVICE_INTERFACE_DATA* data) {
  if (!check_set(set, "SetupDiEnumDeviceInterfaces")) return 0;
  if (data == NULL || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    sim_fault("SetupDiEnumDeviceInterfaces with cbSize %u, not %zu", data ? data->cbSize : 0,
              sizeof(SP_DEVICE_INTERFACE_DATA));
    sim_set_error(ERROR_INVALID_USER_BUFFER);
    return 0;
  }
  if (device_info != NULL || guid == NULL || memcmp(guid, &HID_GUID, sizeof HID_GUID) != 0) {
    sim_fault("SetupDiEnumDeviceInterfaces with device info %p or a class other than HID",
              device_info);
  }
  if ((int)index >= sim_hid_count()) {
    sim_log("SetupDiEnumDeviceInterfaces index=%u -> no more items", index);
    sim_set_error(ERROR_NO_MORE_ITEMS);
    return 0;
  }
  data->InterfaceClassGuid = HID_GUID;
  data->Flags = 1;
  data->Reserved = index + 1;
  sim_log("SetupDiEnumDeviceInterfaces index=%u -> interface %u", index, index);
  return 1;
}

SIM_EXPORT int SetupDiGetDeviceInterfaceDetailW(void* set, SP_DEVICE_INTERFACE_DATA* data,
                                                SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
                                                uint32_t size, uint32_t* required,
                                                void* device_info) {
  if (!check_set(set, "SetupDiGetDeviceInterfaceDetailW")) return 0;
  int device = data ? (int)data->Reserved - 1 : -1;
  if (data == NULL || data->cbSize != sizeof *data || device < 0 || device >= sim_hid_count()) {
    sim_fault("SetupDiGetDeviceInterfaceDetailW with interface data not from the enumeration");
    sim_set_error(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (device_info != NULL) sim_fault("SetupDiGetDeviceInterfaceDetailW with device info");
  char path[512];
  sim_hid_path(device, path, sizeof path);
  size_t length = strlen(path);
  uint32_t need =
      (uint32_t)sim_int(sim_hid(device), "detail_size",
                        (long long)(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                    (length + 1) * sizeof(wchar16)));
  if (required) *required = need;
  if (detail == NULL) {
    if (size != 0) sim_fault("SetupDiGetDeviceInterfaceDetailW: no buffer but size %u", size);
    sim_log("SetupDiGetDeviceInterfaceDetailW interface %d size query -> %u", device, need);
    sim_set_error(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  sim_log("SetupDiGetDeviceInterfaceDetailW interface %d cbSize=%u size=%u", device, detail->cbSize,
          size);
  if (detail->cbSize != sizeof *detail) {
    sim_fault("SetupDiGetDeviceInterfaceDetailW with cbSize %u, not %zu", detail->cbSize,
              sizeof *detail);
    sim_set_error(ERROR_INVALID_USER_BUFFER);
    return 0;
  }
  int error = (int)sim_int(sim_hid(device), "detail_error", 0);
  if (size < need || error) {
    sim_log("  -> error %d", error ? error : ERROR_INSUFFICIENT_BUFFER);
    sim_set_error(error ? error : ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (length + 1) * 2 > size) {
    sim_fault("detail size %u given by the scenario cannot hold the path", size);
    return 0;
  }
  for (size_t i = 0; i <= length; i++) detail->DevicePath[i] = (unsigned char)path[i];
  sim_log("  -> %s", path);
  return 1;
}

SIM_EXPORT int SetupDiDestroyDeviceInfoList(void* set) {
  if (!check_set(set, "SetupDiDestroyDeviceInfoList")) return 0;
  sets_open--;
  sim_log("SetupDiDestroyDeviceInfoList");
  return 1;
}
