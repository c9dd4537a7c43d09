// The TOML parser measured against the official TOML 1.1.0 conformance files:
// every valid document must be accepted and every invalid one rejected.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/profiles/decode_profile.h"

namespace nivalto {
namespace {

const std::string SUITE = NIVALTO_SHARED_DIR "/toml-test/";

std::string file_bytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::vector<std::string> suite_files(std::string_view kind) {
  std::ifstream list(SUITE + "files-toml-1.1.0");
  std::vector<std::string> files;
  for (std::string line; std::getline(list, line);) {
    if (line.starts_with(kind) && line.ends_with(".toml")) files.push_back(line);
  }
  return files;
}

TEST(TomlConformance, AcceptsEveryValidDocument) {
  const std::vector<std::string> files = suite_files("valid/");
  ASSERT_EQ(files.size(), 220u);
  std::vector<std::string> refused;
  for (const std::string& file : files) {
    auto checked = check_toml_document(file_bytes(SUITE + file));
    if (!checked) refused.push_back(file + " : " + checked.error());
  }
  EXPECT_EQ(files.size() - refused.size(), 220u) << ::testing::PrintToString(refused);
}

TEST(TomlConformance, RejectsEveryInvalidDocument) {
  const std::vector<std::string> files = suite_files("invalid/");
  ASSERT_EQ(files.size(), 492u);
  std::vector<std::string> accepted;
  for (const std::string& file : files) {
    if (check_toml_document(file_bytes(SUITE + file))) accepted.push_back(file);
  }
  EXPECT_EQ(files.size() - accepted.size(), 492u) << ::testing::PrintToString(accepted);
}

}  // namespace
}  // namespace nivalto
