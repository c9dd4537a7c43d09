// Loading and resolving machine profiles: the shipped database and a
// generated directory of 5,000 profiles, each by the program's decoder (the
// direct reader, the TOML parser for what it declines) and by the TOML parser
// alone; resolution against 1,000 profiles.
//
//   profiles_bench [benchmark options]   times
//   profiles_bench --instructions        instructions per byte of profile text,
//                                        counted by valgrind's callgrind
#include <benchmark/benchmark.h>
#include <valgrind/callgrind.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

constexpr int GENERATED_PROFILES = 5000;
constexpr int RESOLVED_PROFILES = 1000;

std::string machine_type(int index) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X", 0x2000 + index);
  return text;
}

// A model profile with three capabilities, laid out as the shipped ones but
// with short texts: about 600 bytes against some 2,800 for a shipped model,
// so that the costs of each key and each file weigh more here.
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
  explicit GeneratedDirectory(int count) {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("nivalto-bench-" + std::to_string(random()));
    std::filesystem::create_directory(path_);
    for (int i = 0; i < count; ++i) {
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
  static const GeneratedDirectory directory(GENERATED_PROFILES);
  return directory;
}

const std::filesystem::path SHIPPED = NIVALTO_SOURCE_DIR "/profiles";

void load(benchmark::State& state, const std::filesystem::path& directory, ProfileDecoder decode) {
  std::size_t loaded = 0;
  for (auto _ : state) {
    auto profiles = load_profiles(directory, decode);
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

void BM_LoadShippedProfiles(benchmark::State& state) { load(state, SHIPPED, decode_profile); }
BENCHMARK(BM_LoadShippedProfiles)->Unit(benchmark::kMillisecond);

void BM_LoadShippedProfilesByParser(benchmark::State& state) {
  load(state, SHIPPED, decode_profile_by_parser);
}
BENCHMARK(BM_LoadShippedProfilesByParser)->Unit(benchmark::kMillisecond);

void BM_LoadGeneratedProfiles(benchmark::State& state) {
  load(state, generated().path(), decode_profile);
}
BENCHMARK(BM_LoadGeneratedProfiles)->Unit(benchmark::kMillisecond);

void BM_LoadGeneratedProfilesByParser(benchmark::State& state) {
  load(state, generated().path(), decode_profile_by_parser);
}
BENCHMARK(BM_LoadGeneratedProfilesByParser)->Unit(benchmark::kMillisecond);

void decode_one(benchmark::State& state, ProfileDecoder decode) {
  const std::string text = model_text(7);
  for (auto _ : state) benchmark::DoNotOptimize(decode(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_DecodeOneProfile(benchmark::State& state) { decode_one(state, decode_profile); }
BENCHMARK(BM_DecodeOneProfile)->Unit(benchmark::kMicrosecond);

void BM_DecodeOneProfileByParser(benchmark::State& state) {
  decode_one(state, decode_profile_by_parser);
}
BENCHMARK(BM_DecodeOneProfileByParser)->Unit(benchmark::kMicrosecond);

std::vector<MachineProfile> thousand_profiles() {
  std::vector<MachineProfile> profiles;
  for (int i = 0; i < RESOLVED_PROFILES; ++i) {
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

// One load of `directory`, the only part of the run callgrind counts.
int load_once(const char* directory, std::string_view decoder) {
  const ProfileDecoder decode = decoder == "parser" ? decode_profile_by_parser : decode_profile;
  CALLGRIND_TOGGLE_COLLECT;
  auto profiles = load_profiles(directory, decode);
  CALLGRIND_TOGGLE_COLLECT;
  if (!profiles) {
    std::fprintf(stderr, "%s\n", profiles.error().c_str());
    return 1;
  }
  return 0;
}

std::uint64_t profile_text_bytes(const std::filesystem::path& directory) {
  std::uint64_t bytes = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (has_profile_extension(entry.path().filename().string())) bytes += entry.file_size();
  }
  return bytes;
}

// The instructions of one load_once() run under callgrind, or 0.
std::uint64_t counted_instructions(const char* self, const std::filesystem::path& directory,
                                   const char* decoder) {
  const std::filesystem::path out =
      std::filesystem::temp_directory_path() / ("nivalto-bench-" + std::to_string(::getpid()));
  const std::string command =
      "valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file='" + out.string() +
      "' '" + self + "' --load-once '" + directory.string() + "' " + decoder + " >/dev/null 2>&1";
  std::uint64_t instructions = 0;
  if (std::system(command.c_str()) == 0) {
    std::ifstream file(out);
    for (std::string line; std::getline(file, line);) {
      if (line.starts_with("summary:")) instructions = std::stoull(line.substr(8));
    }
  }
  std::error_code ignored;
  std::filesystem::remove(out, ignored);
  return instructions;
}

int print_instructions(const char* self) {
  const GeneratedDirectory thousand(1000);
  const struct {
    const char* name;
    std::filesystem::path directory;
  } databases[] = {{"shipped", SHIPPED},
                   {"generated, 1,000", thousand.path()},
                   {"generated, 5,000", generated().path()}};
  std::printf("%-18s %9s %10s %22s %22s\n", "profiles", "files", "bytes", "direct (instr./byte)",
              "parser (instr./byte)");
  for (const auto& database : databases) {
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(database.directory)) {
      files += has_profile_extension(entry.path().filename().string()) ? 1 : 0;
    }
    const auto bytes = static_cast<double>(profile_text_bytes(database.directory));
    const std::uint64_t direct = counted_instructions(self, database.directory, "direct");
    const std::uint64_t parser = counted_instructions(self, database.directory, "parser");
    if (direct == 0 || parser == 0) {
      std::fprintf(stderr, "callgrind did not count the load of %s\n", database.name);
      return 1;
    }
    std::printf("%-18s %9zu %10.0f %22.1f %22.1f\n", database.name, files, bytes,
                static_cast<double>(direct) / bytes, static_cast<double>(parser) / bytes);
  }
  return 0;
}

}  // namespace
}  // namespace nivalto

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--load-once") == 0) {
    return nivalto::load_once(argv[2], argv[3]);
  }
  if (argc == 2 && std::strcmp(argv[1], "--instructions") == 0) {
    return nivalto::print_instructions(argv[0]);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
