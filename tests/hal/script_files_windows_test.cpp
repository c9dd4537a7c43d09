#include "nivalto/hal/script_files_windows.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "nivalto/hal/unique_handle_windows.h"
#include "nivalto/hal/win32_text_windows.h"
#include "tests/support/argument_echo_windows.h"

namespace nivalto {
namespace {

using testing::ScratchDirectory;

bool exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string read_sharing_reads(const std::wstring& path) {
  UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return "(illisible)";
  std::string contents(65536, '\0');
  DWORD got = 0;
  ReadFile(file.get(), contents.data(), static_cast<DWORD>(contents.size()), &got, nullptr);
  contents.resize(got);
  return contents;
}

void put_file(const std::wstring& path, std::string_view contents) {
  UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file.valid());
  DWORD written = 0;
  WriteFile(file.get(), contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
}

class WindowsScriptFilesTest : public ::testing::Test {
 protected:
  ScratchDirectory scratch;
  std::wstring wide_path = scratch.wide() + L"nivalto-keyboard-77.ps1";
  std::string path = win32::to_utf8(wide_path);
  WindowsScriptFiles files;
};

TEST_F(WindowsScriptFilesTest, TemporaryDirectoryIsAnExistingFolderEndingInASeparator) {
  const auto directory = files.temporary_directory();
  ASSERT_TRUE(directory.has_value()) << directory.error();
  ASSERT_FALSE(directory->empty());
  EXPECT_EQ(directory->back(), '\\');
  const DWORD attributes = GetFileAttributesW(win32::to_wide(*directory).c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(WindowsScriptFilesTest, FileHoldsTheBytesWhileHeldAndIsGoneAfter) {
  const std::string script = "param([string]$Mode)\n# rétroéclairage\n" + std::string(40000, '#');
  {
    auto held = files.create(path, script);
    ASSERT_TRUE(held.has_value()) << held.error();
    EXPECT_EQ(read_sharing_reads(wide_path), script);
  }
  EXPECT_FALSE(exists(wide_path));
}

TEST_F(WindowsScriptFilesTest, NobodyCanWriteRenameOrDeleteTheHeldFile) {
  auto held = files.create(path, "Write-Output 1\n");
  ASSERT_TRUE(held.has_value()) << held.error();
  UniqueHandle writer(CreateFileW(wide_path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer.valid());
  EXPECT_FALSE(DeleteFileW(wide_path.c_str()));
  EXPECT_FALSE(MoveFileW(wide_path.c_str(), (scratch.wide() + L"moved.ps1").c_str()));
  EXPECT_EQ(read_sharing_reads(wide_path), "Write-Output 1\n");
}

TEST_F(WindowsScriptFilesTest, LeftoverFileIsReplaced) {
  put_file(wide_path, "Remove-Item C:\\ -Recurse # planted, and longer than the script\n");
  auto held = files.create(path, "# ours\n");
  ASSERT_TRUE(held.has_value()) << held.error();
  EXPECT_EQ(read_sharing_reads(wide_path), "# ours\n");
}

TEST_F(WindowsScriptFilesTest, LeftoverLinkIsRemovedAndItsTargetLeftAlone) {
  const std::wstring target = scratch.wide() + L"precious.txt";
  put_file(target, "precious");
  if (!CreateSymbolicLinkW(wide_path.c_str(), target.c_str(), 0)) {
    GTEST_SKIP() << "symbolic links unavailable here: " << win32::error_text(GetLastError());
  }
  {
    auto held = files.create(path, "# ours\n");
    ASSERT_TRUE(held.has_value()) << held.error();
    EXPECT_EQ(read_sharing_reads(wide_path), "# ours\n");
  }
  EXPECT_EQ(read_sharing_reads(target), "precious");
}

TEST_F(WindowsScriptFilesTest, NameThatCannotBeFreedIsAnError) {
  ASSERT_TRUE(CreateDirectoryW(wide_path.c_str(), nullptr));
  const auto held = files.create(path, "# ours\n");
  ASSERT_FALSE(held.has_value());
  EXPECT_FALSE(held.error().empty());

  const auto missing = files.create(scratch.utf8() + "absent\\x.ps1", "# ours\n");
  ASSERT_FALSE(missing.has_value());
  EXPECT_FALSE(missing.error().empty());
}

}  // namespace
}  // namespace nivalto
