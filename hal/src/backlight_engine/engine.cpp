#include "nivalto/hal/backlight_engine/engine.h"

#include "nivalto/hal/backlight_engine/backends.h"
#include "nivalto/hal/text.h"

namespace nivalto::backlight_engine {
namespace {

// The member's name and colon, after a comma unless it is the first.
void append_name(std::string& out, std::string_view name) {
  if (out.size() > 1) out += ',';
  out += '"';
  out += name;
  out += "\":";
}

void append_bool(std::string& out, std::string_view name, bool value) {
  append_name(out, name);
  out += value ? "true" : "false";
}

void append_int(std::string& out, std::string_view name, int value) {
  append_name(out, name);
  out += std::to_string(value);
}

constexpr char HEX_DIGITS[] = "0123456789abcdef";

// The escaping of the serialiser behind ConvertTo-Json: the quote, the
// backslash and the control characters, plus U+0085, U+2028 and U+2029;
// every other character is written as it is.
void append_string(std::string& out, std::string_view name, std::string_view text) {
  append_name(out, name);
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::string_view rest = text.substr(i);
    switch (byte) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\b':
        out += "\\b";
        continue;
      case '\f':
        out += "\\f";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      default:
        break;
    }
    if (byte < 0x20) {
      out += "\\u00";
      out += HEX_DIGITS[byte >> 4];
      out += HEX_DIGITS[byte & 0xF];
    } else if (rest.starts_with("\xC2\x85")) {
      out += "\\u0085";
      ++i;
    } else if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) {
      out += rest[2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += static_cast<char>(byte);
    }
  }
  out += '"';
}

}  // namespace

void BacklightResult::add_error(std::string_view text) {
  if (trim_white_space(reason).empty()) reason = std::string(text);
}

std::string compact_json(const BacklightResult& result) {
  std::string out = "{";
  append_bool(out, "available", result.available);
  append_bool(out, "known", result.known);
  append_int(out, "level", result.level);
  append_int(out, "max_level", result.max_level);
  append_string(out, "source", result.source);
  append_bool(out, "applied", result.applied);
  append_bool(out, "verified", result.verified);
  append_string(out, "reason", result.reason);
  out += "}\n";
  return out;
}

std::expected<EngineOutcome, HalError> run_backlight_engine(std::string_view mode, int level,
                                                            const std::string& framework_dir,
                                                            BacklightDevices& devices,
                                                            std::chrono::milliseconds time_limit) {
  const RequestDeadline deadline{std::chrono::steady_clock::now() + time_limit, time_limit};
  const std::string folded = ascii_fold(mode);
  // The script refuses any other mode before it touches a device; it then
  // fails as it always did.
  if (folded != "read" && folded != "write") return HandOver{};
  const BacklightRequest request{folded == "write", level};

  BacklightResult result;
  if (!framework_dir.empty()) {
    const auto step = try_framework(request, framework_dir, devices.tools, deadline, result);
    if (!step) return std::unexpected(step.error());
    if (*step == BackendStep::Answered) return EngineAnswer{compact_json(result)};
  }
  if (try_thinkpad(request, devices.files, result) == BackendStep::Answered ||
      try_hid(request, devices, result) == BackendStep::Answered) {
    return EngineAnswer{compact_json(result)};
  }
  // Next comes the Lenovo WMI class, which only the script drives. Nothing
  // has been written, and the script starts afresh: the diagnostics of the
  // backends passed over, which only its end text would show, are its own.
  return HandOver{};
}

}  // namespace nivalto::backlight_engine
