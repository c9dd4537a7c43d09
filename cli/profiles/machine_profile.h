#pragma once

// The records a machine profile file decodes into. They are plain values,
// immutable once loaded; fields are in declaration order, which is also the
// order the profile format lists its keys in.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nivalto {

enum class ProfileScope : std::uint8_t { Model, Family };

enum class Confidence : std::uint8_t { Validated, Documented, Assumed };

struct Bounds {
  std::int64_t min = 0;
  std::int64_t max = 0;

  friend bool operator==(const Bounds&, const Bounds&) = default;
};

// Model-specific register.
struct Msr {
  std::uint32_t address = 0;

  friend bool operator==(const Msr&, const Msr&) = default;
};

// Embedded-controller register.
struct Ec {
  std::uint8_t offset = 0;

  friend bool operator==(const Ec&, const Ec&) = default;
};

struct Wmi {
  std::string class_name;  // the key `class` in the file; `class` is reserved in C++
  std::string property;

  friend bool operator==(const Wmi&, const Wmi&) = default;
};

struct Acpi {
  std::string path;

  friend bool operator==(const Acpi&, const Acpi&) = default;
};

struct PlatformProfile {
  friend bool operator==(const PlatformProfile&, const PlatformProfile&) = default;
};

// Tagged in the file by the `method` key of the `access` table.
using Access = std::variant<Msr, Ec, Wmi, Acpi, PlatformProfile>;

struct Capability {
  std::string id;
  std::string label;
  Access access;
  Confidence confidence = Confidence::Assumed;
  std::vector<std::string> sources;
  std::optional<std::string> validated_on;
  std::optional<Bounds> bounds;
  std::optional<std::string> notes;

  friend bool operator==(const Capability&, const Capability&) = default;
};

struct Matches {
  std::vector<std::string> mtm;
  std::vector<std::string> version_contains;

  friend bool operator==(const Matches&, const Matches&) = default;
};

struct MachineProfile {
  std::uint32_t schema_version = 0;
  std::string id;
  std::string display_name;
  ProfileScope scope = ProfileScope::Model;
  Matches matches;
  std::vector<Capability> capabilities;

  friend bool operator==(const MachineProfile&, const MachineProfile&) = default;
};

// The spellings used in profile files and in the listing.
[[nodiscard]] constexpr std::string_view scope_spelling(ProfileScope scope) {
  return scope == ProfileScope::Model ? "model" : "family";
}

[[nodiscard]] constexpr std::string_view confidence_spelling(Confidence confidence) {
  switch (confidence) {
    case Confidence::Validated:
      return "validated";
    case Confidence::Documented:
      return "documented";
    case Confidence::Assumed:
      break;
  }
  return "assumed";
}

}  // namespace nivalto
