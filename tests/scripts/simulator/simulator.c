// State and log of the simulated device layer (see simulator.h).
#include "simulator.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define MAX_HANDLES 256
#define MAX_DEVICES 32
#define MAX_COUNTERS 8

static pthread_once_t loaded = PTHREAD_ONCE_INIT;
static json_t* scenario;

struct Handle {
  enum HandleKind kind;
  int device;
};
static struct Handle handles[MAX_HANDLES];
static int handle_count;

struct Device {
  int value;
  const char* counter_names[MAX_COUNTERS];
  int counters[MAX_COUNTERS];
};
static struct Device devices[MAX_DEVICES];

static void write_line(const char* prefix, const char* format, va_list arguments) {
  const char* path = getenv("NIVALTO_SIM_LOG");
  if (path == NULL) return;
  char line[4096];
  int used = snprintf(line, sizeof line, "%s", prefix);
  used += vsnprintf(line + used, sizeof line - (size_t)used - 1, format, arguments);
  if (used > (int)sizeof line - 2) used = (int)sizeof line - 2;
  line[used++] = '\n';
  // One write per line with O_APPEND: the fake CIM cmdlets and the Framework
  // tools append to the same file.
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  ssize_t ignored = write(fd, line, (size_t)used);
  (void)ignored;
  close(fd);
}

void sim_log(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  write_line("", format, arguments);
  va_end(arguments);
}

void sim_fault(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  write_line("FAULT ", format, arguments);
  va_end(arguments);
}

static void load(void) {
  const char* path = getenv("NIVALTO_SIM_SCENARIO");
  json_error_t error;
  scenario = path ? json_load_file(path, 0, &error) : NULL;
  if (scenario == NULL) {
    sim_fault("scenario %s unreadable: %s", path ? path : "(unset)", path ? error.text : "");
    scenario = json_object();
  }
  json_t* hid = json_object_get(scenario, "hid");
  for (size_t i = 0; i < json_array_size(hid) && i < MAX_DEVICES; i++) {
    devices[i].value = (int)sim_int(json_array_get(hid, i), "value", 0);
  }
}

json_t* sim_scenario(void) {
  pthread_once(&loaded, load);
  return scenario;
}

// .NET reads errno after a call declared with SetLastError = true.
void sim_set_error(int code) { errno = code; }

json_t* sim_next(json_t* sequence, int* counter) {
  if (!json_is_array(sequence) || json_array_size(sequence) == 0) return NULL;
  size_t index = (size_t)*counter;
  if (index >= json_array_size(sequence)) index = json_array_size(sequence) - 1;
  (*counter)++;
  return json_array_get(sequence, index);
}

int sim_next_error(json_t* sequence, int* counter) {
  json_t* entry = sim_next(sequence, counter);
  return entry ? (int)json_integer_value(entry) : 0;
}

long long sim_int(json_t* object, const char* key, long long fallback) {
  json_t* value = json_object_get(object, key);
  if (json_is_integer(value)) return json_integer_value(value);
  if (json_is_boolean(value)) return json_is_true(value);
  return fallback;
}

void sim_narrow(const wchar16* text, char* out, int size) {
  int i = 0;
  for (; text && text[i] && i < size - 1; i++) out[i] = text[i] < 0x80 ? (char)text[i] : '?';
  out[i] = 0;
}

void* sim_open_handle(enum HandleKind kind, int device) {
  if (handle_count == MAX_HANDLES) {
    sim_fault("more than %d handles opened", MAX_HANDLES);
    return INVALID_HANDLE;
  }
  handles[handle_count].kind = kind;
  handles[handle_count].device = device;
  return (void*)(intptr_t)(0x100 + handle_count++);
}

static struct Handle* find_handle(void* handle) {
  intptr_t index = (intptr_t)handle - 0x100;
  if (index < 0 || index >= handle_count || handles[index].kind == HANDLE_FREE) return NULL;
  return &handles[index];
}

int sim_handle(void* handle, enum HandleKind kind, const char* call) {
  struct Handle* entry = find_handle(handle);
  if (entry == NULL || entry->kind != kind) {
    sim_fault("%s on handle %p, which is not an open %s handle", call, handle,
              kind == HANDLE_HID ? "HID" : "IBMPmDrv");
    sim_set_error(ERROR_INVALID_HANDLE);
    return -1;
  }
  return entry->device;
}

int sim_close_handle(void* handle) {
  struct Handle* entry = find_handle(handle);
  if (entry == NULL) return 0;
  entry->kind = HANDLE_FREE;
  return 1;
}

int sim_hid_count(void) {
  size_t count = json_array_size(json_object_get(sim_scenario(), "hid"));
  return count > MAX_DEVICES ? MAX_DEVICES : (int)count;
}

json_t* sim_hid(int device) {
  return json_array_get(json_object_get(sim_scenario(), "hid"), (size_t)device);
}

int* sim_hid_value(int device) { return &devices[device].value; }

int* sim_hid_counter(int device, const char* sequence) {
  struct Device* entry = &devices[device];
  for (int i = 0; i < MAX_COUNTERS; i++) {
    if (entry->counter_names[i] == NULL) entry->counter_names[i] = sequence;
    if (strcmp(entry->counter_names[i], sequence) == 0) return &entry->counters[i];
  }
  sim_fault("too many call sequences on HID device %d", device);
  return &entry->counters[0];
}

void sim_hid_path(int device, char* out, int size) {
  const char* path = json_string_value(json_object_get(sim_hid(device), "path"));
  if (path) {
    snprintf(out, (size_t)size, "%s", path);
  } else {
    snprintf(out, (size_t)size, "\\\\?\\hid#vid_17ef&pid_60%02d#%d", device, device);
  }
}

int sim_find_hid_path(const char* path) {
  char candidate[512];
  for (int i = 0; i < sim_hid_count(); i++) {
    sim_hid_path(i, candidate, sizeof candidate);
    if (strcmp(candidate, path) == 0) return i;
  }
  return -1;
}

void sim_hex(const uint8_t* bytes, unsigned length, char* out, int size) {
  int used = 0;
  out[0] = 0;
  for (unsigned i = 0; i < length && used < size - 4; i++) {
    used += snprintf(out + used, (size_t)(size - used), i ? " %02x" : "%02x", bytes[i]);
  }
}
