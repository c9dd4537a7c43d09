#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "cli/profiles/load_profiles.h"
#include "cli/profiles/profile_files.h"
#include "nivalto/hal/win32_text_windows.h"
#include "tests/cli/profiles/temp_directory.h"

namespace nivalto {
namespace {

using testing::TempDirectory;

TEST(ProfileFilesWindows, EmptyPathIsNotTheDriveRoot) {
  EXPECT_EQ(list_directory("").error(), win32::error_text(ERROR_PATH_NOT_FOUND));
}

TEST(ProfileFilesWindows, NamesComeAsUtf8AndPathsJoinWithBackslash) {
  TempDirectory directory;
  const std::filesystem::path file = directory.path() / L"\u00E9t\u00E9.toml";
  std::ofstream(file) << "";
  auto entries = list_directory(directory.path());
  ASSERT_TRUE(entries) << entries.error();
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ(entries->front().name, "\xC3\xA9t\xC3\xA9.toml");
  EXPECT_EQ(path_to_utf8(entries->front().path),
            path_to_utf8(directory.path()) + "\\\xC3\xA9t\xC3\xA9.toml");
  EXPECT_EQ(path_from_utf8(path_to_utf8(file)), file);
  // However the directory is spelt, the path reads as `directory / name`.
  for (const std::filesystem::path& spelt :
       {std::filesystem::path(directory.path().native() + L"\\"),
        std::filesystem::path(directory.path().native() + L"/"),
        std::filesystem::path(directory.path().native() + L"\\.")}) {
    auto listed = list_directory(spelt);
    ASSERT_TRUE(listed) << listed.error();
    ASSERT_EQ(listed->size(), 1u);
    EXPECT_EQ(listed->front().path, (spelt / L"\u00E9t\u00E9.toml").native());
  }
}

TEST(ProfileFilesWindows, SystemTexts) {
  TempDirectory directory;
  EXPECT_EQ(list_directory(directory.path() / "absent").error(),
            win32::error_text(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(std::get<SystemFailure>(read_file(directory.path() / "absent", 9).error()).text,
            win32::error_text(ERROR_FILE_NOT_FOUND));
  std::filesystem::create_directory(directory.path() / "d.toml");
  EXPECT_EQ(load_profiles(directory.path()).error(), win32::error_text(ERROR_ACCESS_DENIED));
}

}  // namespace
}  // namespace nivalto
