#pragma once

// The file-system side of loading profiles: listing a directory and reading
// one file whole, with the platform's own error descriptions.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nivalto {

// The path stays the platform's own string: building a std::filesystem::path
// splits it into components, which costs more than reading a small profile.
struct DirectoryEntry {
  std::string name;  // UTF-8; characters that are not valid Unicode become U+FFFD
  std::filesystem::path::string_type path;  // the directory joined with the name by the
                                            // platform's separator
};

// Every entry of the directory but "." and "..", in the order the file system
// gives them, or the system's description of why it cannot be listed.
[[nodiscard]] std::expected<std::vector<DirectoryEntry>, std::string> list_directory(
    const std::filesystem::path& directory);

// Why a file could not be read.
struct SystemFailure {
  std::string text;  // the system's description
};
struct FileTooLarge {
  std::uint64_t size;
};
struct NotRegularFile {};
using ReadFailure = std::variant<SystemFailure, FileTooLarge, NotRegularFile>;

// The bytes of a regular file of at most `max_bytes` bytes. Anything that is
// not a regular file (a pipe, a device) is refused without waiting on it; a
// directory fails as the system fails to read it.
[[nodiscard]] std::expected<std::string, ReadFailure> read_file(
    const std::filesystem::path::string_type& file, std::size_t max_bytes);

// Paths to and from the program's UTF-8 text. Never fails: text that is not
// valid Unicode is shown with U+FFFD.
[[nodiscard]] std::filesystem::path path_from_utf8(std::string_view utf8);
[[nodiscard]] std::string path_to_utf8(const std::filesystem::path& path);

}  // namespace nivalto
