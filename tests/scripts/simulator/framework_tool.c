// Stands in for framework_tool.exe and qmk_hid.exe: logs its name and every
// argument exactly as received, then prints the next output the scenario gives
// for that name (member "framework", then the tool's file name: "outputs",
// the last one repeating, and "stream", "stdout" or "stderr").
#include <jansson.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int earlier_runs(const char* log, const char* name) {
  FILE* file = fopen(log, "r");
  if (file == NULL) return 0;
  char line[4096];
  size_t length = strlen(name);
  int runs = 0;
  while (fgets(line, sizeof line, file)) {
    if (strncmp(line, name, length) == 0 && line[length] == ' ') runs++;
  }
  fclose(file);
  return runs;
}

int main(int argc, char** argv) {
  const char* name = strrchr(argv[0], '/') ? strrchr(argv[0], '/') + 1 : argv[0];
  const char* log = getenv("NIVALTO_SIM_LOG");
  const char* path = getenv("NIVALTO_SIM_SCENARIO");
  if (log == NULL || path == NULL) return 3;
  int run = earlier_runs(log, name);

  FILE* out = fopen(log, "a");
  if (out == NULL) return 3;
  fprintf(out, "%s argc=%d", name, argc - 1);
  for (int i = 1; i < argc; i++) fprintf(out, " [%s]", argv[i]);
  fputc('\n', out);
  fclose(out);

  json_error_t error;
  json_t* scenario = json_load_file(path, 0, &error);
  json_t* tool = json_object_get(json_object_get(scenario, "framework"), name);
  json_t* outputs = json_object_get(tool, "outputs");
  size_t count = json_array_size(outputs);
  if (count == 0) return 0;
  const char* text =
      json_string_value(json_array_get(outputs, run < (int)count ? (size_t)run : count - 1));
  const char* stream = json_string_value(json_object_get(tool, "stream"));
  FILE* target = stream && strcmp(stream, "stderr") == 0 ? stderr : stdout;
  if (text) fprintf(target, "%s\n", text);
  return (int)json_integer_value(json_object_get(tool, "exit"));
}
