// The firmware half of `detect`: walking a real-sized SMBIOS table and
// deriving the identity from it.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "nivalto/hal/identity.h"
#include "nivalto/hal/smbios.h"

namespace nivalto {
namespace {

std::uint64_t little_endian(const std::vector<std::byte>& data, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i)
    value = (value << 8) | std::to_integer<std::uint64_t>(data[at + i]);
  return value;
}

// The bare structure table of a `--dump-bin` file, at the address its entry
// point names.
std::vector<std::byte> dump_table(const char* file_name) {
  std::ifstream file(std::string(NIVALTO_SHARED_DIR) + "/data/raw/" + file_name, std::ios::binary);
  if (!file) throw std::runtime_error(std::string("missing shared data: ") + file_name);
  std::vector<char> raw((std::istreambuf_iterator<char>(file)), {});
  std::vector<std::byte> data(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) data[i] = static_cast<std::byte>(raw[i]);
  std::size_t length = 0, address = 0;
  if (raw.size() >= 24 && std::string_view(raw.data(), 5) == "_SM3_") {
    length = little_endian(data, 12, 4);
    address = little_endian(data, 16, 8);
  } else if (raw.size() >= 0x1C && std::string_view(raw.data(), 4) == "_SM_") {
    length = little_endian(data, 0x16, 2);
    address = little_endian(data, 0x18, 4);
  }
  address = std::min(address, data.size());
  length = std::min(length, data.size() - address);
  return {data.begin() + address, data.begin() + address + length};
}

void parse_table(benchmark::State& state, const char* file_name) {
  const auto table = dump_table(file_name);
  for (auto _ : state) {
    auto summary = parse_smbios(table);
    benchmark::DoNotOptimize(summary);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * table.size()));
  state.counters["table_bytes"] = static_cast<double>(table.size());
}

// VMware: 620 structures, 29 KB, types 0, 1 and 2 at the front and hundreds
// of others after them; the walk must still check every structure.
BENCHMARK_CAPTURE(parse_table, vmware_620_structures, "uroot_VMWare.bin");
BENCHMARK_CAPTURE(parse_table, thinkpad_t480s, "uroot_Lenovo-ThinkPad-T480.bin");

void build_identity_from_summary(benchmark::State& state) {
  const auto summary = parse_smbios(dump_table("uroot_Lenovo-ThinkPad-T480.bin"));
  if (!summary) throw std::runtime_error("the T480s table does not parse");
  for (auto _ : state) {
    auto identity = build_identity(*summary);
    benchmark::DoNotOptimize(identity);
  }
}
BENCHMARK(build_identity_from_summary);

}  // namespace
}  // namespace nivalto
