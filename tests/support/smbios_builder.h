#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "nivalto/hal/firmware_table.h"
#include "nivalto/hal/hal_error.h"

namespace nivalto::testing {

// Bytes from small integers, for writing tables in hexadecimal:
// bytes_of({0x01, 0x08, 0x00, 0x00}).
[[nodiscard]] std::vector<std::byte> bytes_of(std::initializer_list<int> values);

// String fields of the builder helpers: an absent string gets index 0, a
// present one the next free index of its structure's string set. Every field
// has a default, so designated initializers may name only the ones needed.
struct SystemFields {
  std::optional<std::string> manufacturer{};
  std::optional<std::string> product_name{};
  std::optional<std::string> version{};
  std::optional<std::string> serial_number{};
  std::array<std::uint8_t, 16> uuid{};
  std::optional<std::string> sku_number{};
  std::optional<std::string> family{};
};

struct BaseboardFields {
  std::optional<std::string> manufacturer{};
  std::optional<std::string> product{};
  std::optional<std::string> version{};
  std::optional<std::string> serial_number{};
  std::optional<std::string> asset_tag{};
};

struct ChassisFields {
  std::optional<std::string> manufacturer{};
  std::optional<std::string> version{};
  std::optional<std::string> serial_number{};
  std::optional<std::string> asset_tag{};
};

// Builds an SMBIOS structure table, structure after structure, in the order
// of the calls. Handles are numbered from 0. Example:
//
//   const auto table = SmbiosBuilder()
//                          .bios("LENOVO", "N22ET52W (1.29 )", "01/16/2019")
//                          .system({.manufacturer = "LENOVO", .product_name = "20L8S07A14"})
//                          .end_of_table()
//                          .table();
class SmbiosBuilder {
 public:
  // Any structure: `type`, the formatted area after the 4-byte header (the
  // length byte is 4 + body.size(), at most 255) and the string set, index 1
  // first. No strings gives the two-NUL set. The strings are written as given:
  // an empty string ends the set early, as it would in firmware.
  SmbiosBuilder& structure(std::uint8_t type, std::vector<std::uint8_t> body,
                           const std::vector<std::string>& strings = {});

  // Type 0, SMBIOS 2.4 layout (length 24): vendor, version, release date.
  SmbiosBuilder& bios(std::optional<std::string> vendor, std::optional<std::string> version,
                      std::optional<std::string> release_date);
  // Type 1, SMBIOS 2.4 layout (length 27), family included.
  SmbiosBuilder& system(const SystemFields& fields);
  // Type 2 (length 15).
  SmbiosBuilder& baseboard(const BaseboardFields& fields);
  // Type 3 (length 21), chassis type 0x0A (notebook).
  SmbiosBuilder& chassis(const ChassisFields& fields);
  // Type 127 without strings.
  SmbiosBuilder& end_of_table();
  // Bytes appended as they are, for malformed or trailing data.
  SmbiosBuilder& raw(std::span<const std::byte> bytes);

  // The bare structure table, as parse_smbios takes it.
  [[nodiscard]] std::vector<std::byte> table() const;
  // The table behind the 8-byte header that GetSystemFirmwareTable('RSMB')
  // returns (SMBIOS 3.0, length field = table size).
  [[nodiscard]] std::vector<std::byte> rsmb() const;

 private:
  std::vector<std::byte> bytes_;
  std::uint16_t next_handle_ = 0;
};

// `table` behind an 'RSMB' header whose length field is `table.size()`.
[[nodiscard]] std::vector<std::byte> with_rsmb_header(std::span<const std::byte> table);

// A firmware source handing out fixed bytes, or a fixed error, on every read;
// counts the reads.
class FixedFirmwareTable final : public FirmwareTableSource {
 public:
  explicit FixedFirmwareTable(HalResult<std::vector<std::byte>> result)
      : result_(std::move(result)) {}

  [[nodiscard]] HalResult<std::vector<std::byte>> read_smbios_table() override {
    ++reads;
    return result_;
  }

  int reads = 0;

 private:
  HalResult<std::vector<std::byte>> result_;
};

// The bytes of one file of the shared raw firmware data (data/raw/<file_name>).
// Throws std::runtime_error when the file cannot be read.
[[nodiscard]] std::vector<std::byte> shared_raw_file(std::string_view file_name);

// The bare structure table of one file of the shared raw firmware data
// (data/raw/<file_name>): dump-bin files with an _SM_ or _SM3_ entry point,
// .dat files with the 'RSMB' header, anything else taken as a bare table. A
// table that the file holds only in part is cut at the file's end. Throws
// std::runtime_error when the file cannot be read.
[[nodiscard]] std::vector<std::byte> shared_raw_table(std::string_view file_name);

}  // namespace nivalto::testing
