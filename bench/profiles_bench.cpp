// Loading and resolving machine profiles: the shipped database, a generated
// directory of 1,000 profiles, and resolution against 1,000 profiles.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "cli/profiles/decode_profile.h"
#include "cli/profiles/load_profiles.h"
#include "cli/profiles/resolve_profile.h"

namespace nivalto {
namespace {

constexpr int GENERATED_PROFILES = 1000;

std::string machine_type(int index) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", 0x2000 + index);
  return text;
}

// A model profile with three capabilities, about the size of the shipped ones.
std::string model_text(int index) {
  const std::string id = "model-" + std::to_string(index);
  return "schema_version = 1\nid = \"" + id + "\"\ndisplay_name = \"Machine " +
         std::to_string(index) + "\"\nscope = \"model\"\n\n[matches]\nmtm = [\"" +
         machine_type(index) +
         "\"]\n\n"
         "[[capabilities]]\nid = \"keyboard_backlight\"\nlabel = \"Rétroéclairage\"\n"
         "access = { method = \"ec\", offset = 0x0D }\nconfidence = \"validated\"\n"
         "sources = [\"notes\"]\nvalidated_on = \"2024-05-01\"\nbounds = { min = 0, max = 2 }\n\n"
         "[[capabilities]]\nid = \"fan\"\nlabel = \"Ventilateur\"\nconfidence = \"documented\"\n"
         "sources = [\"a\", \"b\"]\n[capabilities.access]\nmethod = \"wmi\"\nclass = \"FAN\"\n"
         "property = \"Speed\"\n\n"
         "[[capabilities]]\nid = \"profile\"\nlabel = \"Profil\"\n"
         "access = { method = \"platform_profile\" }\nconfidence = \"assumed\"\nsources = "
         "[\"x\"]\n";
}

std::string family_text(int index) {
  return "schema_version = 1\nid = \"family-" + std::to_string(index) +
         "\"\ndisplay_name = \"\"\nscope = \"family\"\n[matches]\nversion_contains = "
         "[\"Series " +
         std::to_string(index) + " \", \"S" + std::to_string(index) + "/\"]\n";
}

// A directory of generated profiles, removed when the program ends.
class GeneratedDirectory {
 public:
  GeneratedDirectory() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("nivalto-bench-" + std::to_string(random()));
    std::filesystem::create_directory(path_);
    for (int i = 0; i < GENERATED_PROFILES; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "p%04d.toml", i);
      std::ofstream(path_ / name, std::ios::binary)
          << (i % 4 == 3 ? family_text(i) : model_text(i));
    }
  }
  ~GeneratedDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

const GeneratedDirectory& generated() {
  static const GeneratedDirectory directory;
  return directory;
}

void load(benchmark::State& state, const std::filesystem::path& directory) {
  std::size_t loaded = 0;
  for (auto _ : state) {
    auto profiles = load_profiles(directory);
    if (!profiles) {
      state.SkipWithError(profiles.error().c_str());
      return;
    }
    loaded = profiles->size();
    benchmark::DoNotOptimize(profiles);
  }
  state.counters["profiles"] = static_cast<double>(loaded);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * loaded));
}

void BM_LoadShippedProfiles(benchmark::State& state) {
  load(state, NIVALTO_SOURCE_DIR "/profiles");
}
BENCHMARK(BM_LoadShippedProfiles)->Unit(benchmark::kMillisecond);

void BM_LoadThousandProfiles(benchmark::State& state) { load(state, generated().path()); }
BENCHMARK(BM_LoadThousandProfiles)->Unit(benchmark::kMillisecond);

void BM_DecodeOneProfile(benchmark::State& state) {
  const std::string text = model_text(7);
  for (auto _ : state) benchmark::DoNotOptimize(decode_profile(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeOneProfile)->Unit(benchmark::kMicrosecond);

std::vector<MachineProfile> thousand_profiles() {
  std::vector<MachineProfile> profiles;
  for (int i = 0; i < GENERATED_PROFILES; ++i) {
    profiles.push_back(read_profile(i % 4 == 3 ? family_text(i) : model_text(i)).value());
  }
  return profiles;
}

// state.range(0): 0 exact match on the last model, 1 family match on the
// last family, 2 no profile matches (every list walked, then the vendor rule).
void BM_ResolveAgainstThousandProfiles(benchmark::State& state) {
  const std::vector<MachineProfile> profiles = thousand_profiles();
  MachineIdentity identity;
  identity.manufacturer = "LENOVO";
  identity.display_name = "ThinkPad Series 999 Gen 1";
  switch (state.range(0)) {
    case 0:
      identity.mtm = machine_type(998);
      break;
    case 1:
      identity.mtm = "9999";
      break;
    default:
      identity.mtm = "9999";
      identity.display_name = "ThinkPad Nothing Gen 1";
  }
  for (auto _ : state) benchmark::DoNotOptimize(resolve_profile(profiles, identity));
}
BENCHMARK(BM_ResolveAgainstThousandProfiles)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace nivalto
