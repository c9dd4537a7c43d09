// The simulated device layer shared by the stand-ins for kernel32.dll,
// hid.dll and setupapi.dll. One scenario (JSON, named by NIVALTO_SIM_SCENARIO)
// describes the machine; every call is appended to the log named by
// NIVALTO_SIM_LOG. A call that breaks the platform's contract (wrong structure
// size, unknown handle, report of the wrong length...) is logged as a line
// starting with "FAULT", which the suite treats as a failure of the script.
#pragma once

#include <jansson.h>
#include <stdint.h>

#define SIM_EXPORT __attribute__((visibility("default")))

// The platform's GUID, shared by hid.dll's class GUID and setupapi.dll's
// interface records.
typedef struct {
  uint32_t Data1;
  uint16_t Data2, Data3;
  uint8_t Data4[8];
} Guid;

// The platform's published x64 values.
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_INVALID_HANDLE 6
#define ERROR_GEN_FAILURE 31
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_NO_MORE_ITEMS 259
#define ERROR_INVALID_USER_BUFFER 1784

#define HIDP_STATUS_SUCCESS 0x00110000
#define HIDP_STATUS_INVALID_PREPARSED_DATA 0xC0110001u
#define HIDP_STATUS_INVALID_REPORT_TYPE 0xC0110002u
#define HIDP_STATUS_INVALID_REPORT_LENGTH 0xC0110003u
#define HIDP_STATUS_USAGE_NOT_FOUND 0xC0110004u
#define HIDP_STATUS_BUFFER_TOO_SMALL 0xC0110007u
#define HIDP_STATUS_INCOMPATIBLE_REPORT_ID 0xC011000Au

#define INVALID_HANDLE ((void*)(intptr_t)-1)

typedef uint16_t wchar16;

enum HandleKind { HANDLE_FREE, HANDLE_THINKPAD, HANDLE_HID };

json_t* sim_scenario(void);
void sim_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A breach of the platform's contract by the caller.
void sim_fault(const char* format, ...) __attribute__((format(printf, 1, 2)));
void sim_set_error(int code);

// The next outcome of a per-call sequence: entry *counter of the array (the
// last entry repeats), or NULL when the scenario gives no such sequence.
json_t* sim_next(json_t* sequence, int* counter);
// The same for a sequence of error codes: 0 means the call succeeds.
int sim_next_error(json_t* sequence, int* counter);

long long sim_int(json_t* object, const char* key, long long fallback);

// Text of a UTF-16 string, ASCII only (anything else becomes '?').
void sim_narrow(const wchar16* text, char* out, int size);

// Handles handed out by CreateFileW.
void* sim_open_handle(enum HandleKind kind, int device);
int sim_handle(void* handle, enum HandleKind kind, const char* call);  // device or -1
int sim_close_handle(void* handle);

// HID devices of the scenario (member "hid", an array).
int sim_hid_count(void);
json_t* sim_hid(int device);
int* sim_hid_value(int device);  // current raw Set Level value
int* sim_hid_counter(int device, const char* sequence);
int sim_find_hid_path(const char* path);
void sim_hid_path(int device, char* out, int size);

void sim_hex(const uint8_t* bytes, unsigned length, char* out, int size);

// Reports of the simulated HID devices (hid_device.c); report types are
// 0 input, 1 output, 2 feature.
json_t* sim_value_caps(int device, int report_type);
unsigned sim_report_length(int device, int report_type);
int sim_find_value(int device, int report_type, unsigned page, unsigned usage);
int sim_hid_send(void* handle, const uint8_t* report, uint32_t length, int report_type,
                 const char* call, const char* sequence);
int sim_hid_get_feature(void* handle, uint8_t* report, uint32_t length);
