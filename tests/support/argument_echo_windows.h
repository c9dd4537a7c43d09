#pragma once

#include <string>

namespace nivalto::testing {

// The stand-in program built next to unit_tests.exe (tests/helpers).
[[nodiscard]] std::string argument_echo_path();

// A name no other test run uses: this process's identifier and a counter.
[[nodiscard]] std::wstring unique_test_name(std::wstring_view stem);

// A fresh empty directory under the temporary directory, removed with its
// files when the object goes.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  [[nodiscard]] const std::wstring& wide() const { return path_; }
  [[nodiscard]] std::string utf8() const;  // ends with a backslash

 private:
  std::wstring path_;  // ends with a backslash
};

}  // namespace nivalto::testing
