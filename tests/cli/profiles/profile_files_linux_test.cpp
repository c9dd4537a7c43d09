#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "cli/profiles/load_profiles.h"
#include "cli/profiles/profile_files.h"
#include "tests/cli/profiles/temp_directory.h"

namespace nivalto {
namespace {

using testing::TempDirectory;

TEST(ProfileFilesLinux, ListsEveryEntryButDotAndDotDot) {
  TempDirectory directory;
  directory.write("a.toml", "");
  std::filesystem::create_directory(directory.path() / "sub");
  // However the directory is spelt, each path reads as `directory / name`.
  for (const std::filesystem::path& spelt :
       {directory.path(), std::filesystem::path(directory.path().native() + "/"),
        std::filesystem::path(directory.path().native() + "/.")}) {
    auto entries = list_directory(spelt);
    ASSERT_TRUE(entries) << entries.error();
    std::vector<std::string> names;
    for (const DirectoryEntry& entry : *entries) {
      names.push_back(entry.name);
      EXPECT_EQ(entry.path, (spelt / entry.name).native());
    }
    std::ranges::sort(names);
    EXPECT_EQ(names, (std::vector<std::string>{"a.toml", "sub"}));
  }
}

TEST(ProfileFilesLinux, SystemTexts) {
  TempDirectory directory;
  EXPECT_EQ(list_directory(directory.path() / "absent").error(), "No such file or directory");
  EXPECT_EQ(list_directory("").error(), "No such file or directory");
  EXPECT_EQ(list_directory(directory.write("f", "")).error(), "Not a directory");
  EXPECT_EQ(load_profiles(directory.path() / "absent").error(), "No such file or directory");

  std::filesystem::create_directory(directory.path() / "d.toml");
  EXPECT_EQ(load_profiles(directory.path()).error(), "Is a directory");
}

TEST(ProfileFilesLinux, ReadsWholeFilesWithinTheLimit) {
  TempDirectory directory;
  const auto file = directory.write("f", std::string("a\0b", 3));
  EXPECT_EQ(read_file(file, 3).value(), std::string("a\0b", 3));
  ASSERT_FALSE(read_file(file, 2));
  EXPECT_EQ(std::get<FileTooLarge>(read_file(file, 2).error()).size, 3u);
  EXPECT_EQ(std::get<SystemFailure>(read_file(directory.path() / "absent", 9).error()).text,
            "No such file or directory");
  // A file whose size the system gives as 0 is read whole all the same, the
  // room growing as it is read, and the limit still holds.
  std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
  const std::string expected{std::istreambuf_iterator<char>(cmdline), {}};
  ASSERT_GT(expected.size(), 5u);
  EXPECT_EQ(read_file("/proc/self/cmdline", expected.size()).value(), expected);
  EXPECT_EQ(std::get<FileTooLarge>(read_file("/proc/self/cmdline", 4).error()).size, 5u);
}

TEST(ProfileFilesLinux, NamedPipeIsRefusedWithoutWaiting) {
  TempDirectory directory;
  const auto fifo = directory.path() / "pipe.toml";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(std::holds_alternative<NotRegularFile>(read_file(fifo, 100).error()));
  EXPECT_EQ(load_profiles(directory.path()).error(),
            fifo.string() + " : n'est pas un fichier ordinaire");
}

TEST(ProfileFilesLinux, UnreadableFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDirectory directory;
  const auto file = directory.write("locked.toml", "");
  std::filesystem::permissions(file, std::filesystem::perms::none);
  EXPECT_EQ(load_profiles(directory.path()).error(), "Permission denied");
}

TEST(ProfileFilesLinux, NamesThatAreNotUtf8AreShownReadably) {
  TempDirectory directory;
  directory.write("bad\xFF.toml", "vendor = 1\n");
  auto profiles = load_profiles(directory.path());
  ASSERT_FALSE(profiles);
  EXPECT_TRUE(
      profiles.error().starts_with(directory.text() + "/bad\xEF\xBF\xBD.toml : TOML invalide"))
      << profiles.error();
}

TEST(ProfileFilesLinux, PathsAndUtf8) {
  EXPECT_EQ(path_from_utf8("profils/\xC3\xA9t\xC3\xA9").native(), "profils/\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(path_to_utf8(std::filesystem::path("a/\xC3\xA9")), "a/\xC3\xA9");
}

}  // namespace
}  // namespace nivalto
