#include "tests/support/argument_echo_windows.h"

#include <windows.h>

#include <atomic>
#include <filesystem>

#include "nivalto/hal/win32_text_windows.h"

namespace nivalto::testing {
namespace {

std::atomic<unsigned> counter{0};

}  // namespace

std::string argument_echo_path() {
  wchar_t self[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  const std::filesystem::path here(self);
  return win32::to_utf8((here.parent_path() / L"argument_echo.exe").wstring());
}

std::wstring unique_test_name(std::wstring_view stem) {
  return std::wstring(stem) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(++counter);
}

ScratchDirectory::ScratchDirectory() {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  path_ = std::wstring(temp) + unique_test_name(L"nivalto-tests") + L"\\";
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(path_), ignored);
}

std::string ScratchDirectory::utf8() const { return win32::to_utf8(path_); }

}  // namespace nivalto::testing
