#pragma once

#include <string>

#include "cli/console.h"

namespace nivalto::testing {

// Keeps everything written to each stream.
class RecordingConsole final : public Console {
 public:
  void out(std::string_view utf8) override { out_text.append(utf8); }
  void err(std::string_view utf8) override { err_text.append(utf8); }

  std::string out_text;
  std::string err_text;
};

}  // namespace nivalto::testing
