// Stand-in for kernel32.dll: CreateFileW, DeviceIoControl, WriteFile and
// CloseHandle over the simulated \\.\IBMPmDrv driver and HID devices.
#include <stdint.h>
#include <string.h>

#include "simulator.h"

#define IBMPMDRV "\\\\.\\IBMPmDrv"
#define GET_STATE 0x222680u
#define SET_STATE 0x222684u

static int thinkpad_opens, thinkpad_gets, thinkpad_sets;

static json_t* thinkpad(void) { return json_object_get(sim_scenario(), "thinkpad"); }

SIM_EXPORT void* CreateFileW(const wchar16* name, uint32_t access, uint32_t share, void* security,
                             uint32_t disposition, uint32_t flags, void* template_file) {
  char path[512];
  sim_narrow(name, path, sizeof path);
  sim_log("CreateFileW %s access=0x%08x share=%u disposition=%u flags=0x%x security=%s template=%s",
          path, access, share, disposition, flags, security ? "set" : "null",
          template_file ? "set" : "null");
  int error = ERROR_FILE_NOT_FOUND;
  void* handle = INVALID_HANDLE;
  if (strcmp(path, IBMPMDRV) == 0) {
    if (thinkpad() != NULL) {
      error = sim_next_error(json_object_get(thinkpad(), "opens"), &thinkpad_opens);
      if (error == 0) handle = sim_open_handle(HANDLE_THINKPAD, 0);
    }
  } else {
    int device = sim_find_hid_path(path);
    if (device >= 0) {
      error = sim_next_error(json_object_get(sim_hid(device), "opens"),
                             sim_hid_counter(device, "opens"));
      if (error == 0) handle = sim_open_handle(HANDLE_HID, device);
    }
  }
  if (handle == INVALID_HANDLE) {
    sim_log("  -> invalid handle, error %d", error);
    sim_set_error(error);
  } else {
    sim_log("  -> handle %p", handle);
  }
  return handle;
}

static uint32_t little_endian(const uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | ((uint32_t)bytes[3] << 24);
}

SIM_EXPORT int DeviceIoControl(void* device, uint32_t code, uint8_t* in, uint32_t in_size,
                               uint8_t* out, uint32_t out_size, uint32_t* returned,
                               void* overlapped) {
  if (sim_handle(device, HANDLE_THINKPAD, "DeviceIoControl") < 0) return 0;
  if (in == NULL || in_size != 4 || out == NULL || out_size != 4 || overlapped != NULL ||
      returned == NULL) {
    sim_fault("DeviceIoControl 0x%x with in %u bytes, out %u bytes, overlapped %p", code, in_size,
              out_size, overlapped);
    sim_set_error(ERROR_INVALID_PARAMETER);
    return 0;
  }
  sim_log("DeviceIoControl handle %p code=0x%x in=0x%08x", device, code, little_endian(in));
  int error = 0;
  uint32_t word = 0;
  if (code == GET_STATE) {
    json_t* entry = sim_next(json_object_get(thinkpad(), "gets"), &thinkpad_gets);
    if (json_is_object(entry)) {
      error = (int)sim_int(entry, "error", ERROR_GEN_FAILURE);
    } else {
      word = (uint32_t)json_integer_value(entry);
    }
  } else if (code == SET_STATE) {
    error = sim_next_error(json_object_get(thinkpad(), "sets"), &thinkpad_sets);
  } else {
    sim_fault("DeviceIoControl with unknown control code 0x%x", code);
    error = 1;
  }
  if (error) {
    sim_log("  -> error %d", error);
    sim_set_error(error);
    return 0;
  }
  for (int i = 0; i < 4; i++) out[i] = (uint8_t)(word >> (8 * i));
  *returned = 4;
  sim_log("  -> out=0x%08x", word);
  return 1;
}

SIM_EXPORT int WriteFile(void* file, const uint8_t* buffer, uint32_t length, uint32_t* written,
                         void* overlapped) {
  if (overlapped != NULL || written == NULL) {
    sim_fault("WriteFile with overlapped %p, written %p", overlapped, (void*)written);
  }
  if (!sim_hid_send(file, buffer, length, 1, "WriteFile", "write_file")) return 0;
  *written = length;
  return 1;
}

SIM_EXPORT int CloseHandle(void* handle) {
  if (!sim_close_handle(handle)) {
    sim_fault("CloseHandle %p: not an open handle", handle);
    sim_set_error(ERROR_INVALID_HANDLE);
    return 0;
  }
  sim_log("CloseHandle %p", handle);
  return 1;
}
