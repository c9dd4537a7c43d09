#include "tests/support/smbios_builder.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace nivalto::testing {
namespace {

constexpr std::size_t HEADER_SIZE = 4;

// Collects the string set of one structure while its formatted area is laid out.
class StringSet {
 public:
  std::uint8_t add(const std::optional<std::string>& text) {
    if (!text) return 0;
    strings.push_back(*text);
    return static_cast<std::uint8_t>(strings.size());
  }
  std::vector<std::string> strings;
};

void put_u32(std::vector<std::byte>& out, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) out[offset + i] = std::byte((value >> (8 * i)) & 0xFF);
}

std::uint64_t read_le(const std::vector<std::byte>& bytes, std::size_t offset, std::size_t width) {
  if (offset + width > bytes.size()) throw std::runtime_error("entry point beyond file end");
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    value |= static_cast<std::uint64_t>(bytes[offset + i]) << (8 * i);
  }
  return value;
}

bool starts_with(const std::vector<std::byte>& bytes, std::string_view anchor) {
  if (bytes.size() < anchor.size()) return false;
  return std::equal(anchor.begin(), anchor.end(), bytes.begin(),
                    [](char a, std::byte b) { return static_cast<std::byte>(a) == b; });
}

std::vector<std::byte> slice(const std::vector<std::byte>& bytes, std::uint64_t address,
                             std::uint64_t length) {
  if (address > bytes.size()) throw std::runtime_error("table address beyond file end");
  const std::uint64_t end = std::min<std::uint64_t>(address + length, bytes.size());
  return {bytes.begin() + static_cast<std::ptrdiff_t>(address),
          bytes.begin() + static_cast<std::ptrdiff_t>(end)};
}

}  // namespace

std::vector<std::byte> bytes_of(std::initializer_list<int> values) {
  std::vector<std::byte> out;
  out.reserve(values.size());
  for (const int v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

SmbiosBuilder& SmbiosBuilder::structure(std::uint8_t type, std::vector<std::uint8_t> body,
                                        const std::vector<std::string>& strings) {
  const std::size_t length = HEADER_SIZE + body.size();
  if (length > 0xFF) throw std::invalid_argument("formatted area longer than 255 bytes");
  const std::uint16_t handle = next_handle_++;
  bytes_.push_back(std::byte{type});
  bytes_.push_back(static_cast<std::byte>(length));
  bytes_.push_back(static_cast<std::byte>(handle & 0xFF));
  bytes_.push_back(static_cast<std::byte>(handle >> 8));
  for (const std::uint8_t b : body) bytes_.push_back(std::byte{b});
  for (const std::string& s : strings) {
    for (const char c : s) bytes_.push_back(static_cast<std::byte>(c));
    bytes_.push_back(std::byte{0});
  }
  if (strings.empty()) bytes_.push_back(std::byte{0});
  bytes_.push_back(std::byte{0});
  return *this;
}

SmbiosBuilder& SmbiosBuilder::bios(std::optional<std::string> vendor,
                                   std::optional<std::string> version,
                                   std::optional<std::string> release_date) {
  StringSet set;
  std::vector<std::uint8_t> body(24 - HEADER_SIZE, 0);
  body[0x04 - HEADER_SIZE] = set.add(vendor);
  body[0x05 - HEADER_SIZE] = set.add(version);
  body[0x06 - HEADER_SIZE] = 0x00;  // starting address segment F000h
  body[0x07 - HEADER_SIZE] = 0xF0;
  body[0x08 - HEADER_SIZE] = set.add(release_date);
  body[0x09 - HEADER_SIZE] = 0x7F;  // ROM size 8 MiB
  return structure(0, std::move(body), set.strings);
}

SmbiosBuilder& SmbiosBuilder::system(const SystemFields& fields) {
  StringSet set;
  std::vector<std::uint8_t> body(27 - HEADER_SIZE, 0);
  body[0x04 - HEADER_SIZE] = set.add(fields.manufacturer);
  body[0x05 - HEADER_SIZE] = set.add(fields.product_name);
  body[0x06 - HEADER_SIZE] = set.add(fields.version);
  body[0x07 - HEADER_SIZE] = set.add(fields.serial_number);
  std::copy(fields.uuid.begin(), fields.uuid.end(), body.begin() + (0x08 - HEADER_SIZE));
  body[0x18 - HEADER_SIZE] = 0x06;  // wake-up type: power switch
  body[0x19 - HEADER_SIZE] = set.add(fields.sku_number);
  body[0x1A - HEADER_SIZE] = set.add(fields.family);
  return structure(1, std::move(body), set.strings);
}

SmbiosBuilder& SmbiosBuilder::baseboard(const BaseboardFields& fields) {
  StringSet set;
  std::vector<std::uint8_t> body(15 - HEADER_SIZE, 0);
  body[0x04 - HEADER_SIZE] = set.add(fields.manufacturer);
  body[0x05 - HEADER_SIZE] = set.add(fields.product);
  body[0x06 - HEADER_SIZE] = set.add(fields.version);
  body[0x07 - HEADER_SIZE] = set.add(fields.serial_number);
  body[0x08 - HEADER_SIZE] = set.add(fields.asset_tag);
  body[0x09 - HEADER_SIZE] = 0x01;  // feature flags: hosting board
  body[0x0D - HEADER_SIZE] = 0x0A;  // board type: motherboard
  return structure(2, std::move(body), set.strings);
}

SmbiosBuilder& SmbiosBuilder::chassis(const ChassisFields& fields) {
  StringSet set;
  std::vector<std::uint8_t> body(21 - HEADER_SIZE, 0);
  body[0x04 - HEADER_SIZE] = set.add(fields.manufacturer);
  body[0x05 - HEADER_SIZE] = 0x0A;  // notebook
  body[0x06 - HEADER_SIZE] = set.add(fields.version);
  body[0x07 - HEADER_SIZE] = set.add(fields.serial_number);
  body[0x08 - HEADER_SIZE] = set.add(fields.asset_tag);
  body[0x09 - HEADER_SIZE] = 0x03;  // boot-up, power supply, thermal: safe
  body[0x0A - HEADER_SIZE] = 0x03;
  body[0x0B - HEADER_SIZE] = 0x03;
  body[0x0C - HEADER_SIZE] = 0x03;  // security: none
  return structure(3, std::move(body), set.strings);
}

SmbiosBuilder& SmbiosBuilder::end_of_table() { return structure(127, {}); }

SmbiosBuilder& SmbiosBuilder::raw(std::span<const std::byte> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

std::vector<std::byte> SmbiosBuilder::table() const { return bytes_; }

std::vector<std::byte> SmbiosBuilder::rsmb() const { return with_rsmb_header(bytes_); }

std::vector<std::byte> with_rsmb_header(std::span<const std::byte> table) {
  // Sized once: growing an 8-byte vector here makes mingw's GCC 12 warn of a
  // copy out of its bounds (-Warray-bounds), which it is not.
  std::vector<std::byte> out(8 + table.size(), std::byte{0});
  out[1] = std::byte{3};  // SMBIOS 3.0
  put_u32(out, 4, static_cast<std::uint32_t>(table.size()));
  std::ranges::copy(table, out.begin() + 8);
  return out;
}

std::vector<std::byte> shared_raw_file(std::string_view file_name) {
  const std::string path = std::string(NIVALTO_SHARED_DIR) + "/data/raw/" + std::string(file_name);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::vector<std::byte> file;
  for (auto it = std::istreambuf_iterator<char>(in); it != std::istreambuf_iterator<char>(); ++it) {
    file.push_back(static_cast<std::byte>(*it));
  }
  return file;
}

std::vector<std::byte> shared_raw_table(std::string_view file_name) {
  const std::vector<std::byte> file = shared_raw_file(file_name);

  if (starts_with(file, "_SM3_")) return slice(file, read_le(file, 16, 8), read_le(file, 12, 4));
  if (starts_with(file, "_SM_")) return slice(file, read_le(file, 0x18, 4), read_le(file, 0x16, 2));
  if (file_name.ends_with(".dat")) return slice(file, 8, read_le(file, 4, 4));
  return file;
}

}  // namespace nivalto::testing
