#pragma once

#include "nivalto/hal/backlight_access.h"

namespace nivalto {

// The script file on Windows. The service runs as LocalSystem and the name
// of the file is predictable, so the file is made so that nobody else can
// have prepared, replaced or changed what PowerShell runs:
// - whatever already holds the name is removed (a link itself, never its
//   target), then the file is created anew, failing if the name was taken
//   again meanwhile, and without following a link;
// - it is readable and writable by this account alone;
// - until it is released, it stays open sharing only reading, so nobody can
//   write, rename or delete it while PowerShell reads it.
class WindowsScriptFiles final : public ScriptFiles {
 public:
  // GetTempPath2W where the system has it (the protected SystemTemp folder
  // for LocalSystem); without it, GetTempPathW for an ordinary account and
  // the checked system folder for LocalSystem (see script_directory). Ends
  // with a separator.
  [[nodiscard]] std::expected<std::string, std::string> temporary_directory() override;
  [[nodiscard]] std::expected<std::unique_ptr<HeldScriptFile>, std::string> create(
      const std::string& path, std::string_view contents) override;
};

}  // namespace nivalto
