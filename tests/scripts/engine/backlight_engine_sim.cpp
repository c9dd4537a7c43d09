// The backlight engine as a program, over the simulated device layer, for
// scripts/compare-backlight and bench/backlight-latency:
//
//   backlight_engine_sim --libraries DIR [-Mode M] [-Level N] [-FrameworkDir D]
//
// DIR holds the simulator's kernel32.dll.so, hid.dll.so and setupapi.dll.so;
// the scenario and the call log come from the simulator's own environment
// variables. The parameters are the script's, bound as PowerShell binds them:
// names in any letter case, Mode one of read and write in any letter case,
// Level a 32-bit integer. A binding failure ends with status 2 and prints
// nothing on standard output, as the script does. Otherwise it prints the
// engine's line, or HANDOVER_LINE when the engine stops before the Lenovo WMI
// class and the script must answer.

#include <charconv>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "nivalto/hal/backlight_access.h"
#include "nivalto/hal/backlight_engine/engine.h"
#include "simulated_devices.h"

namespace {

using namespace nivalto::backlight_engine;

constexpr std::string_view HANDOVER_LINE = "HANDOVER\n";
constexpr int BINDING_FAILED = 2;

struct Parameters {
  std::string libraries;
  std::string mode = "read";
  int level = 0;
  std::string framework_dir;
};

std::string folded(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

// PowerShell's [int] from a text: white space around, an optional sign,
// decimal digits, within 32 bits. (It also takes hexadecimal and fractions,
// which Nivalto never passes.)
std::optional<int> parse_level(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<Parameters> bind(int argc, char** argv) {
  Parameters parameters;
  bool mode_seen = false, level_seen = false, framework_seen = false, libraries_seen = false;
  for (int i = 1; i < argc; i += 2) {
    const std::string name = folded(argv[i]);
    if (i + 1 >= argc) {
      std::cerr << "backlight_engine_sim: " << argv[i] << " needs a value\n";
      return std::nullopt;
    }
    const std::string_view value = argv[i + 1];
    bool* seen = nullptr;
    if (name == "--libraries") {
      seen = &libraries_seen;
      parameters.libraries = value;
    } else if (name == "-mode") {
      seen = &mode_seen;
      parameters.mode = value;
      const std::string mode = folded(value);
      if (mode != "read" && mode != "write") {
        std::cerr << "backlight_engine_sim: -Mode " << value << " is neither read nor write\n";
        return std::nullopt;
      }
    } else if (name == "-level") {
      seen = &level_seen;
      const auto level = parse_level(value);
      if (!level) {
        std::cerr << "backlight_engine_sim: -Level " << value << " is not an integer\n";
        return std::nullopt;
      }
      parameters.level = *level;
    } else if (name == "-frameworkdir") {
      seen = &framework_seen;
      parameters.framework_dir = value;
    } else {
      std::cerr << "backlight_engine_sim: unknown parameter " << argv[i] << "\n";
      return std::nullopt;
    }
    if (*seen) {
      std::cerr << "backlight_engine_sim: " << argv[i] << " given twice\n";
      return std::nullopt;
    }
    *seen = true;
  }
  if (!libraries_seen) {
    std::cerr << "backlight_engine_sim: --libraries DIR is required\n";
    return std::nullopt;
  }
  return parameters;
}

}  // namespace

int main(int argc, char** argv) {
  const auto parameters = bind(argc, argv);
  if (!parameters) return BINDING_FAILED;
  auto simulated = load_simulated_devices(parameters->libraries);
  if (!simulated) {
    std::cerr << "backlight_engine_sim: " << simulated.error() << "\n";
    return 1;
  }
  SpawnedVendorTools tools;
  BacklightDevices devices{(*simulated)->files(), (*simulated)->interfaces(), (*simulated)->hid(),
                           tools};
  const auto outcome =
      run_backlight_engine(parameters->mode, parameters->level, parameters->framework_dir, devices,
                           nivalto::SCRIPT_TIME_LIMIT);
  if (!outcome) {
    std::cerr << "erreur : " << outcome.error().display() << "\n";
    return 1;
  }
  const std::string_view line = std::holds_alternative<EngineAnswer>(*outcome)
                                    ? std::string_view(std::get<EngineAnswer>(*outcome).line)
                                    : HANDOVER_LINE;
  std::fwrite(line.data(), 1, line.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
