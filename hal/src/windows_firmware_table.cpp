#include "nivalto/hal/windows_firmware_table.h"

#include <utility>

namespace nivalto {
namespace {

constexpr std::size_t RSMB_HEADER_SIZE = 8;
constexpr std::size_t RSMB_LENGTH_OFFSET = 4;

std::uint32_t little_endian_u32(const std::vector<std::byte>& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
  }
  return value;
}

}  // namespace

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
  if (written < RSMB_HEADER_SIZE) {
    return std::unexpected(HalError::invalid_data("en-tête RSMB trop court"));
  }
  // 64-bit sum: a length near 2^32 must not wrap into a small value.
  const std::uint64_t length = little_endian_u32(buffer, RSMB_LENGTH_OFFSET);
  if (length + RSMB_HEADER_SIZE > written) {
    return std::unexpected(HalError::invalid_data("longueur RSMB incohérente"));
  }
  const auto first = buffer.begin() + RSMB_HEADER_SIZE;
  return std::vector<std::byte>(first, first + static_cast<std::ptrdiff_t>(length));
}

}  // namespace nivalto
