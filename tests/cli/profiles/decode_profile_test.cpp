#include "cli/profiles/decode_profile.h"

#include <gtest/gtest.h>

#include <string>

namespace nivalto {
namespace {

// The error text, or "decoded" when the text decodes.
std::string error_of(std::string_view text) {
  auto profile = decode_profile(text);
  return profile ? std::string("decoded") : profile.error();
}

MachineProfile decoded(std::string_view text) {
  auto profile = decode_profile(text);
  EXPECT_TRUE(profile) << profile.error();
  return profile ? *profile : MachineProfile{};
}

constexpr std::string_view HEADER = R"(schema_version = 1
id = "t480"
display_name = "ThinkPad T480"
scope = "model"
)";

// A profile whose only capability has the given body lines.
std::string with_capability(std::string_view body) {
  return std::string(HEADER) + "[matches]\nmtm = [\"20L5\"]\n\n[[capabilities]]\n" +
         std::string(body);
}

constexpr std::string_view GOOD_CAPABILITY = R"(id = "kbd"
label = "Clavier"
confidence = "documented"
sources = ["manuel"]
)";

TEST(DecodeProfile, MinimalDocumentTakesDefaults) {
  const MachineProfile profile = decoded(std::string(HEADER) + "[matches]\n");
  EXPECT_EQ(profile.schema_version, 1u);
  EXPECT_EQ(profile.id, "t480");
  EXPECT_EQ(profile.display_name, "ThinkPad T480");
  EXPECT_EQ(profile.scope, ProfileScope::Model);
  EXPECT_TRUE(profile.matches.mtm.empty());
  EXPECT_TRUE(profile.matches.version_contains.empty());
  EXPECT_TRUE(profile.capabilities.empty());
  EXPECT_EQ(profile, decoded(std::string(HEADER) + "capabilities = []\n[matches]\n"));
}

TEST(DecodeProfile, CompleteModelProfile) {
  const MachineProfile profile = decoded(R"(schema_version = 1
id = "t480"
display_name = "ThinkPad T480"
scope = "model"

[matches]
mtm = ["20L5", "20L6"]

[[capabilities]]
id = "kbd"
label = 'Rétroéclairage'
access = { method = "ec", offset = 0x0D }
confidence = "validated"
sources = ["""manuel"""]
validated_on = "2024-05-01"
bounds = { min = -1, max = 2 }

[[capabilities]]
id = "fan"
label = "Ventilateur"
confidence = "documented"
sources = ["a", "b"]
notes = "note"

[capabilities.access]
method = "wmi"
class = "LENOVO_FAN"
property = "Speed"

[[capabilities]]
id = "msr"
label = "MSR"
access = { method = "msr", address = 0xFFFFFFFF }
confidence = "assumed"
sources = ["x"]

[[capabilities]]
id = "acpi"
label = "ACPI"
access.method = "acpi"
access.path = "\\_SB.PCI0"
confidence = "assumed"
sources = ["x"]

[[capabilities]]
id = "pp"
label = "Profil"
access = { method = "platform_profile", address = 5, anything = [1] }
confidence = "assumed"
sources = ["x"]
)");
  EXPECT_EQ(profile.matches.mtm, (std::vector<std::string>{"20L5", "20L6"}));
  ASSERT_EQ(profile.capabilities.size(), 5u);

  const Capability& kbd = profile.capabilities[0];
  EXPECT_EQ(kbd.label, "Rétroéclairage");
  EXPECT_EQ(kbd.access, Access(Ec{0x0D}));
  EXPECT_EQ(kbd.confidence, Confidence::Validated);
  EXPECT_EQ(kbd.sources, std::vector<std::string>{"manuel"});
  EXPECT_EQ(kbd.validated_on, "2024-05-01");
  EXPECT_EQ(kbd.bounds, (Bounds{-1, 2}));
  EXPECT_EQ(kbd.notes, std::nullopt);

  const Capability& fan = profile.capabilities[1];
  EXPECT_EQ(fan.access, Access(Wmi{"LENOVO_FAN", "Speed"}));
  EXPECT_EQ(fan.confidence, Confidence::Documented);
  EXPECT_EQ(fan.validated_on, std::nullopt);
  EXPECT_EQ(fan.bounds, std::nullopt);
  EXPECT_EQ(fan.notes, "note");

  EXPECT_EQ(profile.capabilities[2].access, Access(Msr{0xFFFFFFFF}));
  EXPECT_EQ(profile.capabilities[2].confidence, Confidence::Assumed);
  EXPECT_EQ(profile.capabilities[3].access, Access(Acpi{"\\_SB.PCI0"}));
  EXPECT_EQ(profile.capabilities[4].access, Access(PlatformProfile{}));
}

TEST(DecodeProfile, FamilyProfileInInlineForm) {
  const MachineProfile profile = decoded(R"(
schema_version = 2
id = "t14"
display_name = ""
scope = "family"
matches = { version_contains = ["T14", "t14 gen"], mtm = [] }
capabilities = [
  { id = "a", label = "b", access = { method = "platform_profile" }, confidence = "assumed", sources = [] },
]
)");
  EXPECT_EQ(profile.schema_version, 2u);  // the version is judged by validation, not here
  EXPECT_EQ(profile.scope, ProfileScope::Family);
  EXPECT_EQ(profile.display_name, "");
  EXPECT_EQ(profile.matches.version_contains, (std::vector<std::string>{"T14", "t14 gen"}));
  ASSERT_EQ(profile.capabilities.size(), 1u);
  EXPECT_TRUE(profile.capabilities[0].sources.empty());
}

TEST(DecodeProfile, MissingRequiredKeys) {
  EXPECT_EQ(error_of(HEADER), "ligne 1, colonne 1 : missing field `matches`");
  EXPECT_EQ(error_of("schema_version = 1\nid = \"x\"\nscope = \"family\"\n[matches]\n"),
            "ligne 1, colonne 1 : missing field `display_name`");
  EXPECT_EQ(error_of(""), "ligne 1, colonne 1 : missing field `schema_version`");
  EXPECT_EQ(error_of(with_capability("id = \"kbd\"\nlabel = \"l\"\nconfidence = \"assumed\"\n"
                                     "access = { method = \"ec\", offset = 1 }\n")),
            "ligne 8, colonne 1 : missing field `sources`");
  EXPECT_EQ(error_of(with_capability(std::string(GOOD_CAPABILITY) +
                                     "access = { method = \"ec\", offset = 1 }\n"
                                     "bounds = { min = 0 }\n")),
            "ligne 14, colonne 10 : missing field `max`");
  EXPECT_EQ(error_of(with_capability(std::string(GOOD_CAPABILITY) + "[capabilities.access]\n"
                                                                    "offset = 1\n")),
            "ligne 13, colonne 1 : missing field `method`");
  EXPECT_EQ(error_of(with_capability(std::string(GOOD_CAPABILITY) +
                                     "access = { method = \"wmi\", class = \"C\" }\n")),
            "ligne 13, colonne 10 : missing field `property`");
}

TEST(DecodeProfile, UnknownKeysAtEveryLevel) {
  EXPECT_EQ(error_of(std::string(HEADER) + "vendor = \"x\"\n[matches]\n"),
            "ligne 5, colonne 1 : unknown field `vendor`, expected one of `schema_version`, `id`, "
            "`display_name`, `scope`, `matches`, `capabilities`");
  EXPECT_EQ(error_of(std::string(HEADER) + "[matches]\nmodel = []\n"),
            "ligne 6, colonne 1 : unknown field `model`, expected `mtm` or `version_contains`");
  EXPECT_EQ(error_of(with_capability(std::string(GOOD_CAPABILITY) + "colour = 1\n")),
            "ligne 13, colonne 1 : unknown field `colour`, expected one of `id`, `label`, "
            "`access`, `confidence`, `sources`, `validated_on`, `bounds`, `notes`");
  EXPECT_EQ(error_of(with_capability(std::string(GOOD_CAPABILITY) +
                                     "access = { method = \"ec\", offset = 1 }\n"
                                     "bounds = { min = 0, max = 1, step = 1 }\n")),
            "ligne 14, colonne 30 : unknown field `step`, expected `min` or `max`");
  const auto access_error = [](std::string_view access) {
    return error_of(
        with_capability(std::string(GOOD_CAPABILITY) + "access = " + std::string(access) + "\n"));
  };
  EXPECT_EQ(access_error(R"({ method = "msr", offset = 5 })"),
            "ligne 13, colonne 28 : unknown field `offset`, expected `address`");
  EXPECT_EQ(access_error(R"({ method = "ec", address = 5 })"),
            "ligne 13, colonne 27 : unknown field `address`, expected `offset`");
  EXPECT_EQ(access_error(R"({ method = "wmi", class = "C", property = "P", path = "x" })"),
            "ligne 13, colonne 57 : unknown field `path`, expected `class` or `property`");
  EXPECT_EQ(access_error(R"({ method = "acpi", path = "p", class = "C" })"),
            "ligne 13, colonne 41 : unknown field `class`, expected `path`");
  EXPECT_EQ(access_error(R"({ method = "platform_profile", address = 5 })"), "decoded");
}

TEST(DecodeProfile, EnumerationSpellingsAreCaseSensitive) {
  EXPECT_EQ(error_of("scope = \"Model\""),
            "ligne 1, colonne 9 : unknown variant `Model`, expected `model` or `family`");
  EXPECT_EQ(error_of(with_capability("confidence = \"sure\"")),
            "ligne 9, colonne 14 : unknown variant `sure`, expected one of `validated`, "
            "`documented`, `assumed`");
  EXPECT_EQ(error_of(with_capability("access = { method = \"smbus\" }")),
            "ligne 9, colonne 21 : unknown variant `smbus`, expected one of `msr`, `ec`, `wmi`, "
            "`acpi`, `platform_profile`");
  EXPECT_EQ(error_of(with_capability("access = { method = \"MSR\", address = 1 }")),
            "ligne 9, colonne 21 : unknown variant `MSR`, expected one of `msr`, `ec`, `wmi`, "
            "`acpi`, `platform_profile`");
  EXPECT_EQ(error_of("scope = 1"),
            "ligne 1, colonne 9 : invalid type: integer `1`, expected `model` or `family`");
  EXPECT_EQ(error_of("scope = [\"model\"]"),
            "ligne 1, colonne 9 : invalid type: sequence, expected `model` or `family`");
}

TEST(DecodeProfile, IntegerRangesAreNeverTruncated) {
  const auto offset_error = [](std::string_view offset) {
    return error_of(with_capability(std::string(GOOD_CAPABILITY) +
                                    "access = { method = \"ec\", offset = " + std::string(offset) +
                                    " }\n"));
  };
  EXPECT_EQ(offset_error("255"), "decoded");
  EXPECT_EQ(offset_error("0xFF"), "decoded");
  EXPECT_EQ(offset_error("256"),
            "ligne 13, colonne 36 : invalid value: integer `256`, expected u8");
  EXPECT_EQ(offset_error("-1"), "ligne 13, colonne 36 : invalid value: integer `-1`, expected u8");

  const auto address_error = [](std::string_view address) {
    return error_of(
        with_capability(std::string(GOOD_CAPABILITY) +
                        "access = { method = \"msr\", address = " + std::string(address) + " }\n"));
  };
  EXPECT_EQ(address_error("0xFFFFFFFF"), "decoded");
  EXPECT_EQ(address_error("0o37777777777"), "decoded");
  EXPECT_EQ(address_error("0x100000000"),
            "ligne 13, colonne 38 : invalid value: integer `4294967296`, expected u32");

  EXPECT_EQ(error_of("schema_version = 4294967295\n"), "ligne 1, colonne 1 : missing field `id`");
  EXPECT_EQ(error_of("schema_version = -1\n"),
            "ligne 1, colonne 18 : invalid value: integer `-1`, expected u32");
  EXPECT_EQ(error_of("schema_version = 4294967296\n"),
            "ligne 1, colonne 18 : invalid value: integer `4294967296`, expected u32");

  const MachineProfile extremes = decoded(with_capability(
      std::string(GOOD_CAPABILITY) + "access = { method = \"platform_profile\" }\n" +
      "bounds = { min = -9223372036854775808, max = 9223372036854775807 }\n"));
  ASSERT_EQ(extremes.capabilities.size(), 1u);
  EXPECT_EQ(extremes.capabilities[0].bounds, (Bounds{INT64_MIN, INT64_MAX}));
}

TEST(DecodeProfile, ValuesOfTheWrongType) {
  EXPECT_EQ(error_of("id = 5"),
            "ligne 1, colonne 6 : invalid type: integer `5`, expected a string");
  EXPECT_EQ(error_of("schema_version = \"1\""),
            "ligne 1, colonne 18 : invalid type: string \"1\", expected u32");
  EXPECT_EQ(error_of("schema_version = 1.5"),
            "ligne 1, colonne 18 : invalid type: floating point `1.5`, expected u32");
  EXPECT_EQ(error_of("schema_version = 1.0"),
            "ligne 1, colonne 18 : invalid type: floating point `1.0`, expected u32");
  EXPECT_EQ(error_of("schema_version = inf"),
            "ligne 1, colonne 18 : invalid type: floating point `inf`, expected u32");
  EXPECT_EQ(error_of("display_name = true"),
            "ligne 1, colonne 16 : invalid type: boolean `true`, expected a string");
  EXPECT_EQ(error_of("matches = \"20AB\""),
            "ligne 1, colonne 11 : invalid type: string \"20AB\", expected struct Matches");
  EXPECT_EQ(error_of("matches = { mtm = \"20AB\" }"),
            "ligne 1, colonne 19 : invalid type: string \"20AB\", expected a sequence");
  EXPECT_EQ(error_of("matches = { version_contains = [\"a\", 1] }"),
            "ligne 1, colonne 38 : invalid type: integer `1`, expected a string");
  EXPECT_EQ(error_of("capabilities = { id = \"x\" }"),
            "ligne 1, colonne 16 : invalid type: map, expected a sequence");
  EXPECT_EQ(error_of("capabilities = [[]]"),
            "ligne 1, colonne 17 : invalid type: sequence, expected struct Capability");
  EXPECT_EQ(error_of(with_capability("access = \"ec\"")),
            "ligne 9, colonne 10 : invalid type: string \"ec\", expected internally tagged enum "
            "Access");
  EXPECT_EQ(error_of(with_capability("access = 7")),
            "ligne 9, colonne 10 : invalid type: integer `7`, expected internally tagged enum "
            "Access");
  EXPECT_EQ(error_of(with_capability("bounds = 3")),
            "ligne 9, colonne 10 : invalid type: integer `3`, expected struct Bounds");
  EXPECT_EQ(error_of(with_capability("bounds = { min = 1.0 }")),
            "ligne 9, colonne 18 : invalid type: floating point `1.0`, expected i64");
  EXPECT_EQ(error_of(with_capability("validated_on = 2024-05-01")),
            "ligne 9, colonne 16 : invalid type: date `2024-05-01`, expected a string");
  EXPECT_EQ(error_of(with_capability("validated_on = 2024-05-01T10:20:30.5-01:30")),
            "ligne 9, colonne 16 : invalid type: date-time `2024-05-01T10:20:30.5-01:30`, "
            "expected a string");
  EXPECT_EQ(error_of(with_capability("notes = 07:32")),
            "ligne 9, colonne 9 : invalid type: time `07:32:00`, expected a string");
  EXPECT_EQ(error_of(with_capability("sources = \"manuel\"")),
            "ligne 9, colonne 11 : invalid type: string \"manuel\", expected a sequence");
}

TEST(DecodeProfile, MessagesStayOnOneLine) {
  EXPECT_EQ(error_of(R"(schema_version = "a\"b\\c\nd\u0007")"),
            R"(ligne 1, colonne 18 : invalid type: string "a\"b\\c\nd\u{7}", expected u32)");
  EXPECT_EQ(error_of(R"("a\nb" = 1)"),
            "ligne 1, colonne 1 : unknown field `a\\nb`, expected one of `schema_version`, `id`, "
            "`display_name`, `scope`, `matches`, `capabilities`");
  EXPECT_EQ(error_of(R"(scope = "\u001b[31m")"),
            "ligne 1, colonne 9 : unknown variant `\\u{1b}[31m`, expected `model` or `family`");
}

// The parser keeps a table's keys sorted by name; faults follow the document.
TEST(DecodeProfile, ReportsTheFirstFaultInDocumentOrder) {
  EXPECT_EQ(error_of("zeta = 1\nalpha = 2\n"),
            "ligne 1, colonne 1 : unknown field `zeta`, expected one of `schema_version`, `id`, "
            "`display_name`, `scope`, `matches`, `capabilities`");
  EXPECT_EQ(error_of("scope = \"x\"\nid = 1\n"),
            "ligne 1, colonne 9 : unknown variant `x`, expected `model` or `family`");
  EXPECT_EQ(error_of("id = 1\nscope = \"x\"\n"),
            "ligne 1, colonne 6 : invalid type: integer `1`, expected a string");
  // Every present key is accepted before a missing one is reported, and the
  // missing ones are reported in declaration order.
  EXPECT_EQ(error_of("scope = \"model\"\nwho = 1\n"),
            "ligne 2, colonne 1 : unknown field `who`, expected one of `schema_version`, `id`, "
            "`display_name`, `scope`, `matches`, `capabilities`");
  EXPECT_EQ(error_of("matches = {}\nscope = \"model\"\nid = \"x\"\n"),
            "ligne 1, colonne 1 : missing field `schema_version`");
  // Inside a table that follows a header, and for keys added by a later header.
  EXPECT_EQ(error_of(with_capability("zz = 1\n[capabilities.access]\nmethod = \"ec\"\n")),
            "ligne 9, colonne 1 : unknown field `zz`, expected one of `id`, `label`, `access`, "
            "`confidence`, `sources`, `validated_on`, `bounds`, `notes`");
  EXPECT_EQ(error_of(with_capability("[capabilities.access]\nmethod = \"ec\"\n"
                                     "[capabilities.aa]\n")),
            "ligne 9, colonne 1 : missing field `offset`");
  // The tag is read first, wherever it stands; then the other keys in order.
  EXPECT_EQ(error_of(with_capability("access = { z = 1, a = 2, method = \"ec\" }")),
            "ligne 9, colonne 12 : unknown field `z`, expected `offset`");
  EXPECT_EQ(error_of(with_capability("access = { z = 1, a = 2 }")),
            "ligne 9, colonne 10 : missing field `method`");
}

TEST(DecodeProfile, SyntaxErrorsShareTheFraming) {
  const std::string error = error_of("schema_version = 1\nid = \"x\n");
  EXPECT_TRUE(error.starts_with("ligne 2, colonne ")) << error;
  EXPECT_NE(error.find(" : "), std::string::npos);
  EXPECT_TRUE(error_of("a = 1\na = 2\n").starts_with("ligne 2, colonne "))
      << error_of("a = 1\na = 2\n");
  EXPECT_TRUE(error_of("\xff").starts_with("ligne 1, colonne 1 : ")) << error_of("\xff");
  // The parser quotes the character it stopped at, line breaks included.
  EXPECT_EQ(error_of("a = 0x\n"),
            "ligne 1, colonne 7 : Error while parsing hexadecimal integer: expected digit, saw "
            "'\\n'");
}

TEST(DecodeProfile, BoundsHostileInput) {
  const std::string brackets(100'000, '[');
  EXPECT_TRUE(error_of("a = " + brackets).starts_with("ligne 1, colonne "))
      << error_of("a = " + brackets);
  std::string dotted = "a";
  for (int i = 0; i < 100'000; ++i) dotted += ".a";
  EXPECT_EQ(error_of(dotted + " = 1"), "ligne 1, colonne 257 : nesting deeper than 128 levels");
  EXPECT_EQ(error_of("[" + dotted + "]"), "ligne 1, colonne 130 : nesting deeper than 128 levels");

  const std::string huge = "notes = \"" + std::string(MAX_PROFILE_BYTES, 'x') + "\"";
  EXPECT_EQ(error_of(huge),
            "ligne 1, colonne 1 : document of 1048586 bytes, more than the "
            "1048576 allowed");
}

}  // namespace
}  // namespace nivalto
