#include "cli/smbios_file_table.h"

#include <algorithm>
#include <limits>
#include <span>
#include <utility>
#include <variant>

#include "cli/profiles/profile_files.h"
#include "nivalto/hal/smbios_file.h"
#include "nivalto/hal/windows_firmware_table.h"

namespace nivalto {
namespace {

constexpr std::size_t MAX_SMBIOS_FILE_BYTES = static_cast<std::size_t>(
    std::min<std::uint64_t>(MAX_RSMB_BUFFER_BYTES, std::numeric_limits<std::size_t>::max()));

HalError read_error(const ReadFailure& failure, const std::string& path) {
  if (const auto* system = std::get_if<SystemFailure>(&failure)) {
    return HalError::unavailable("lecture de " + path + " impossible : " + system->text);
  }
  if (const auto* large = std::get_if<FileTooLarge>(&failure)) {
    return HalError::invalid_data(path + " : fichier trop volumineux (" +
                                  std::to_string(large->size) + " octets ; au plus " +
                                  std::to_string(MAX_SMBIOS_FILE_BYTES) + ")");
  }
  return HalError::unavailable(path + " : n'est pas un fichier ordinaire");
}

}  // namespace

SmbiosFileTable::SmbiosFileTable(std::string path) : path_(std::move(path)) {}

HalResult<std::vector<std::byte>> SmbiosFileTable::read_smbios_table() {
  const auto bytes = read_file(path_from_utf8(path_).native(), MAX_SMBIOS_FILE_BYTES);
  if (!bytes) return std::unexpected(read_error(bytes.error(), path_));
  return table_from_smbios_file(std::as_bytes(std::span(*bytes)));
}

}  // namespace nivalto
