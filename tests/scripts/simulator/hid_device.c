// The reports of a simulated HID keyboard backlight. Byte 0 of every report is
// its report id (0 when the device uses none); value capability k of a report
// type sits at bytes 1 + 2k and 2 + 2k, little-endian.
#include <string.h>

#include "simulator.h"

json_t* sim_value_caps(int device, int report_type) {
  const char* key = report_type == 1 ? "output" : report_type == 2 ? "feature" : "input";
  json_t* values = json_object_get(sim_hid(device), key);
  return json_is_array(values) ? values : NULL;
}

unsigned sim_report_length(int device, int report_type) {
  const char* key = report_type == 1 ? "output_length" : "feature_length";
  size_t count = json_array_size(sim_value_caps(device, report_type));
  return (unsigned)sim_int(sim_hid(device), key, count ? (long long)(1 + 2 * count) : 0);
}

// The first value capability of the report type on the usage page that
// covers the usage, or -1.
int sim_find_value(int device, int report_type, unsigned page, unsigned usage) {
  json_t* values = sim_value_caps(device, report_type);
  for (size_t k = 0; k < json_array_size(values); k++) {
    json_t* value = json_array_get(values, k);
    json_t* range = json_object_get(value, "range");
    unsigned low = json_is_array(range) ? (unsigned)json_integer_value(json_array_get(range, 0))
                                        : (unsigned)sim_int(value, "usage", 0x7B);
    unsigned high =
        json_is_array(range) ? (unsigned)json_integer_value(json_array_get(range, 1)) : low;
    if ((unsigned)sim_int(value, "usage_page", 0x0C) == page && low <= usage && usage <= high) {
      return (int)k;
    }
  }
  return -1;
}

// Checks a report against the device's layout: -1 when it does not fit,
// else the slot of the Set Level value.
static int check_report(int device, int report_type, const uint8_t* report, uint32_t length,
                        const char* call) {
  unsigned expected = sim_report_length(device, report_type);
  if (report == NULL || length != expected) {
    sim_fault("%s: report of %u bytes, the device's are %u", call, length, expected);
    return -1;
  }
  int slot = sim_find_value(device, report_type, 0x0C, 0x7B);
  if (slot < 0) {
    sim_fault("%s: the device has no Set Level value in that report type", call);
    return -1;
  }
  json_t* value = json_array_get(sim_value_caps(device, report_type), (size_t)slot);
  unsigned id = (unsigned)sim_int(value, "report_id", 0);
  if (report[0] != id) {
    sim_fault("%s: report id %u, the Set Level value is in report %u", call, report[0], id);
    return -1;
  }
  if ((unsigned)(2 + 2 * slot) >= length) {
    sim_fault("%s: report of %u bytes cannot hold value %d", call, length, slot);
    return -1;
  }
  return slot;
}

int sim_hid_send(void* handle, const uint8_t* report, uint32_t length, int report_type,
                 const char* call, const char* sequence) {
  int device = sim_handle(handle, HANDLE_HID, call);
  if (device < 0) return 0;
  char hex[256];
  sim_hex(report, report ? length : 0, hex, sizeof hex);
  sim_log("%s handle %p report=[%s]", call, handle, hex);
  int slot = check_report(device, report_type, report, length, call);
  if (slot < 0) {
    sim_set_error(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int error =
      sim_next_error(json_object_get(sim_hid(device), sequence), sim_hid_counter(device, sequence));
  if (error) {
    sim_log("  -> error %d", error);
    sim_set_error(error);
    return 0;
  }
  int sent = report[1 + 2 * slot] | (report[2 + 2 * slot] << 8);
  // What the device then reports may differ from what it was sent.
  *sim_hid_value(device) = (int)sim_int(sim_hid(device), "read_back", sent);
  sim_log("  -> sent %d", sent);
  return 1;
}

int sim_hid_get_feature(void* handle, uint8_t* report, uint32_t length) {
  int device = sim_handle(handle, HANDLE_HID, "HidD_GetFeature");
  if (device < 0) return 0;
  char hex[256];
  sim_hex(report, report ? length : 0, hex, sizeof hex);
  sim_log("HidD_GetFeature handle %p report=[%s]", handle, hex);
  int slot = check_report(device, 2, report, length, "HidD_GetFeature");
  if (slot < 0) {
    sim_set_error(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int error = sim_next_error(json_object_get(sim_hid(device), "get_feature"),
                             sim_hid_counter(device, "get_feature"));
  if (error) {
    sim_log("  -> error %d", error);
    sim_set_error(error);
    return 0;
  }
  int value = *sim_hid_value(device);
  report[1 + 2 * slot] = (uint8_t)(value & 0xFF);
  report[2 + 2 * slot] = (uint8_t)((value >> 8) & 0xFF);
  sim_hex(report, length, hex, sizeof hex);
  sim_log("  -> [%s]", hex);
  return 1;
}
