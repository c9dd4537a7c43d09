#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/dispatch.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return nivalto::dispatch(arguments, nivalto::product_commands(), nivalto::process_console());
}
