#include "nivalto/hal/windows_firmware_table.h"

#include <utility>

namespace nivalto {
namespace {

constexpr std::size_t RSMB_LENGTH_OFFSET = 4;

std::uint32_t little_endian_u32(std::span<const std::byte> bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
  }
  return value;
}

}  // namespace

HalResult<std::vector<std::byte>> table_from_rsmb_buffer(std::span<const std::byte> written) {
  if (written.size() < RSMB_HEADER_SIZE) {
    return std::unexpected(HalError::invalid_data("en-tête RSMB trop court"));
  }
  // 64-bit sum: a length near 2^32 must not wrap into a small value.
  const std::uint64_t length = little_endian_u32(written, RSMB_LENGTH_OFFSET);
  if (length + RSMB_HEADER_SIZE > written.size()) {
    return std::unexpected(HalError::invalid_data("longueur RSMB incohérente"));
  }
  const auto table = written.subspan(RSMB_HEADER_SIZE, static_cast<std::size_t>(length));
  return std::vector<std::byte>(table.begin(), table.end());
}

WindowsFirmwareTable::WindowsFirmwareTable(FirmwareCall call) : call_(std::move(call)) {}

HalResult<std::vector<std::byte>> WindowsFirmwareTable::read_smbios_table() {
  const std::uint32_t size = call_(RSMB_SIGNATURE, 0, nullptr, 0);
  if (size == 0) return std::unexpected(HalError::unavailable("table RSMB absente"));

  std::vector<std::byte> buffer(size);
  const std::uint32_t written = call_(RSMB_SIGNATURE, 0, buffer.data(), size);
  // A result above the buffer size means the table grew since the size query;
  // the call wrote nothing usable and a retry could race again.
  if (written == 0 || written > size) {
    return std::unexpected(HalError::access_denied("lecture de la table RSMB refusée"));
  }
  return table_from_rsmb_buffer(std::span<const std::byte>(buffer).first(written));
}

}  // namespace nivalto
