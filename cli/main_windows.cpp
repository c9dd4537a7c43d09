#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/dispatch.h"
#include "nivalto/hal/win32_text_windows.h"

// The arguments come from the wide command line, so that any character the
// user typed arrives intact whatever the ANSI code page.
int main() {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int i = 1; i < count; ++i) arguments.push_back(nivalto::win32::to_utf8(wide[i]));
    LocalFree(wide);
  }
  return nivalto::dispatch(arguments, nivalto::product_commands(), nivalto::process_console());
}
