// Stand-in for hid.dll, with the platform's published x64 structure layouts.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "simulator.h"

typedef struct {
  uint16_t Usage;
  uint16_t UsagePage;
  uint16_t InputReportByteLength;
  uint16_t OutputReportByteLength;
  uint16_t FeatureReportByteLength;
  uint16_t Reserved[17];
  uint16_t NumberLinkCollectionNodes;
  uint16_t NumberInputButtonCaps;
  uint16_t NumberInputValueCaps;
  uint16_t NumberInputDataIndices;
  uint16_t NumberOutputButtonCaps;
  uint16_t NumberOutputValueCaps;
  uint16_t NumberOutputDataIndices;
  uint16_t NumberFeatureButtonCaps;
  uint16_t NumberFeatureValueCaps;
  uint16_t NumberFeatureDataIndices;
} HIDP_CAPS;
_Static_assert(sizeof(HIDP_CAPS) == 64, "HIDP_CAPS");
_Static_assert(offsetof(HIDP_CAPS, NumberOutputValueCaps) == 54, "HIDP_CAPS");
_Static_assert(offsetof(HIDP_CAPS, NumberFeatureValueCaps) == 60, "HIDP_CAPS");

typedef struct {
  uint16_t UsagePage;
  uint8_t ReportID;
  uint8_t IsAlias;
  uint16_t BitField;
  uint16_t LinkCollection;
  uint16_t LinkUsage;
  uint16_t LinkUsagePage;
  uint8_t IsRange;
  uint8_t IsStringRange;
  uint8_t IsDesignatorRange;
  uint8_t IsAbsolute;
  uint8_t HasNull;
  uint8_t Reserved;
  uint16_t BitSize;
  uint16_t ReportCount;
  uint16_t Reserved2[5];
  uint32_t UnitsExp;
  uint32_t Units;
  int32_t LogicalMin, LogicalMax;
  int32_t PhysicalMin, PhysicalMax;
  union {
    struct {
      uint16_t UsageMin, UsageMax;
      uint16_t StringMin, StringMax;
      uint16_t DesignatorMin, DesignatorMax;
      uint16_t DataIndexMin, DataIndexMax;
    } Range;
    struct {
      uint16_t Usage, Reserved1;
      uint16_t StringIndex, Reserved2;
      uint16_t DesignatorIndex, Reserved3;
      uint16_t DataIndex, Reserved4;
    } NotRange;
  };
} HIDP_VALUE_CAPS;
_Static_assert(sizeof(HIDP_VALUE_CAPS) == 72, "HIDP_VALUE_CAPS");
_Static_assert(offsetof(HIDP_VALUE_CAPS, LogicalMin) == 40, "HIDP_VALUE_CAPS");
_Static_assert(offsetof(HIDP_VALUE_CAPS, Range.UsageMin) == 56, "HIDP_VALUE_CAPS");

#define PREPARSED_MAGIC 0x50505244u

typedef struct {
  uint32_t magic;
  int device;
  int freed;
} Preparsed;

static int preparsed_count;

static int device_of(const Preparsed* preparsed, const char* call) {
  if (preparsed == NULL || preparsed->magic != PREPARSED_MAGIC || preparsed->freed) {
    sim_fault("%s with preparsed data %p that is not live", call, (const void*)preparsed);
    return -1;
  }
  return preparsed->device;
}

SIM_EXPORT void HidD_GetHidGuid(Guid* guid) {
  const Guid hid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  sim_log("HidD_GetHidGuid");
  *guid = hid;
}

SIM_EXPORT uint8_t HidD_GetPreparsedData(void* handle, Preparsed** preparsed) {
  int device = sim_handle(handle, HANDLE_HID, "HidD_GetPreparsedData");
  if (device < 0) return 0;
  int error = sim_next_error(json_object_get(sim_hid(device), "preparsed"),
                             sim_hid_counter(device, "preparsed"));
  if (error) {
    sim_log("HidD_GetPreparsedData handle %p -> error %d", handle, error);
    sim_set_error(error);
    return 0;
  }
  Preparsed* data = calloc(1, sizeof *data);
  data->magic = PREPARSED_MAGIC;
  data->device = device;
  *preparsed = data;
  sim_log("HidD_GetPreparsedData handle %p -> preparsed #%d", handle, ++preparsed_count);
  return 1;
}

SIM_EXPORT uint8_t HidD_FreePreparsedData(Preparsed* preparsed) {
  if (device_of(preparsed, "HidD_FreePreparsedData") < 0) return 0;
  preparsed->freed = 1;  // kept, so that a use after free is seen
  sim_log("HidD_FreePreparsedData");
  return 1;
}

SIM_EXPORT int32_t HidP_GetCaps(Preparsed* preparsed, HIDP_CAPS* caps) {
  int device = device_of(preparsed, "HidP_GetCaps");
  if (device < 0) return (int32_t)HIDP_STATUS_INVALID_PREPARSED_DATA;
  json_t* scenario = sim_hid(device);
  int32_t status = (int32_t)sim_int(scenario, "caps_status", HIDP_STATUS_SUCCESS);
  sim_log("HidP_GetCaps -> 0x%08x", (uint32_t)status);
  if (status != HIDP_STATUS_SUCCESS) return status;
  memset(caps, 0, sizeof *caps);
  caps->UsagePage = (uint16_t)sim_int(scenario, "usage_page", 0x0C);
  caps->Usage = (uint16_t)sim_int(scenario, "usage", 0x07);
  caps->OutputReportByteLength = (uint16_t)sim_report_length(device, 1);
  caps->FeatureReportByteLength = (uint16_t)sim_report_length(device, 2);
  caps->NumberLinkCollectionNodes = 1;
  caps->NumberOutputValueCaps = (uint16_t)json_array_size(sim_value_caps(device, 1));
  caps->NumberFeatureValueCaps = (uint16_t)json_array_size(sim_value_caps(device, 2));
  return status;
}

static void fill_value_caps(json_t* value, HIDP_VALUE_CAPS* out) {
  memset(out, 0, sizeof *out);
  out->UsagePage = (uint16_t)sim_int(value, "usage_page", 0x0C);
  out->ReportID = (uint8_t)sim_int(value, "report_id", 0);
  out->LinkUsage = 0x07;
  out->LinkUsagePage = 0x0C;
  out->IsAbsolute = 1;
  out->BitSize = 16;
  out->ReportCount = 1;
  out->LogicalMin = (int32_t)sim_int(value, "min", 0);
  out->LogicalMax = (int32_t)sim_int(value, "max", 255);
  json_t* range = json_object_get(value, "range");
  if (json_is_array(range)) {
    out->IsRange = 1;
    out->Range.UsageMin = (uint16_t)json_integer_value(json_array_get(range, 0));
    out->Range.UsageMax = (uint16_t)json_integer_value(json_array_get(range, 1));
  } else {
    out->NotRange.Usage = (uint16_t)sim_int(value, "usage", 0x7B);
    // What a real stack leaves in the other half of the union is not zero.
    out->NotRange.Reserved1 = 0xFFFF;
  }
}

SIM_EXPORT int32_t HidP_GetValueCaps(int report_type, HIDP_VALUE_CAPS* caps, uint16_t* length,
                                     Preparsed* preparsed) {
  int device = device_of(preparsed, "HidP_GetValueCaps");
  if (device < 0) return (int32_t)HIDP_STATUS_INVALID_PREPARSED_DATA;
  if (report_type < 0 || report_type > 2) return (int32_t)HIDP_STATUS_INVALID_REPORT_TYPE;
  json_t* values = sim_value_caps(device, report_type);
  unsigned count = (unsigned)json_array_size(values);
  unsigned filled = count < *length ? count : *length;
  for (unsigned k = 0; k < filled; k++) fill_value_caps(json_array_get(values, k), &caps[k]);
  int32_t status = (int32_t)sim_int(
      sim_hid(device), "value_caps_status",
      filled == count ? HIDP_STATUS_SUCCESS : (int32_t)HIDP_STATUS_BUFFER_TOO_SMALL);
  sim_log("HidP_GetValueCaps type=%d room=%u -> %u, 0x%08x", report_type, *length, filled,
          (uint32_t)status);
  *length = (uint16_t)filled;
  return status;
}

// Checks shared by HidP_GetUsageValue and HidP_SetUsageValue; the slot of
// the value, or -1 with *status set.
static int locate(int device, int report_type, unsigned page, unsigned link, unsigned usage,
                  const uint8_t* report, uint32_t length, int32_t* status) {
  int slot = sim_find_value(device, report_type, page, usage);
  *status = (int32_t)HIDP_STATUS_SUCCESS;
  if (link != 0) sim_fault("link collection %u: the device has only collection 0", link);
  if (slot < 0) {
    *status = (int32_t)HIDP_STATUS_USAGE_NOT_FOUND;
  } else if (length != sim_report_length(device, report_type) || report == NULL) {
    *status = (int32_t)HIDP_STATUS_INVALID_REPORT_LENGTH;
  } else if (report[0] !=
             (uint8_t)sim_int(json_array_get(sim_value_caps(device, report_type), (size_t)slot),
                              "report_id", 0)) {
    *status = (int32_t)HIDP_STATUS_INCOMPATIBLE_REPORT_ID;
  }
  return *status == (int32_t)HIDP_STATUS_SUCCESS ? slot : -1;
}

SIM_EXPORT int32_t HidP_SetUsageValue(int report_type, uint16_t page, uint16_t link, uint16_t usage,
                                      uint32_t value, Preparsed* preparsed, uint8_t* report,
                                      uint32_t length) {
  int device = device_of(preparsed, "HidP_SetUsageValue");
  if (device < 0) return (int32_t)HIDP_STATUS_INVALID_PREPARSED_DATA;
  int32_t status;
  int slot = locate(device, report_type, page, link, usage, report, length, &status);
  status = (int32_t)sim_int(sim_hid(device), "set_usage_status", status);
  if (slot >= 0 && status == (int32_t)HIDP_STATUS_SUCCESS) {
    report[1 + 2 * slot] = (uint8_t)(value & 0xFF);
    report[2 + 2 * slot] = (uint8_t)((value >> 8) & 0xFF);
  }
  sim_log("HidP_SetUsageValue type=%d page=0x%02x usage=0x%02x value=%u length=%u -> 0x%08x",
          report_type, page, usage, value, length, (uint32_t)status);
  return status;
}

SIM_EXPORT int32_t HidP_GetUsageValue(int report_type, uint16_t page, uint16_t link, uint16_t usage,
                                      uint32_t* value, Preparsed* preparsed, const uint8_t* report,
                                      uint32_t length) {
  int device = device_of(preparsed, "HidP_GetUsageValue");
  if (device < 0) return (int32_t)HIDP_STATUS_INVALID_PREPARSED_DATA;
  int32_t status;
  int slot = locate(device, report_type, page, link, usage, report, length, &status);
  status = (int32_t)sim_int(sim_hid(device), "get_usage_status", status);
  if (slot >= 0 && status == (int32_t)HIDP_STATUS_SUCCESS) {
    *value = report[1 + 2 * slot] | ((uint32_t)report[2 + 2 * slot] << 8);
  }
  sim_log("HidP_GetUsageValue type=%d page=0x%02x usage=0x%02x length=%u -> 0x%08x value=%u",
          report_type, page, usage, length, (uint32_t)status,
          status == (int32_t)HIDP_STATUS_SUCCESS ? *value : 0);
  return status;
}

SIM_EXPORT uint8_t HidD_GetFeature(void* handle, uint8_t* report, uint32_t length) {
  return (uint8_t)sim_hid_get_feature(handle, report, length);
}

SIM_EXPORT uint8_t HidD_SetFeature(void* handle, const uint8_t* report, uint32_t length) {
  return (uint8_t)sim_hid_send(handle, report, length, 2, "HidD_SetFeature", "set_feature");
}

SIM_EXPORT uint8_t HidD_SetOutputReport(void* handle, const uint8_t* report, uint32_t length) {
  return (uint8_t)sim_hid_send(handle, report, length, 1, "HidD_SetOutputReport", "set_output");
}
