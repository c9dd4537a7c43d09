#!/usr/bin/env python3
"""Independent check of the shipped profile database (profiles/).

Reads every profiles/*.toml with the standard library only and checks it
against the profile format rules, then against the real firmware data kept in
<repo>/../shared/data:

- every file obeys the format and validation rules (closed tables, types,
  ranges, scopes, MTM form, unique capability ids, sources, bounds), and the
  database's own policy (no "validated" confidence, an https source for every
  capability, file names);
- every model of thinkpad_mtm.tsv and thinkpad_mtm_more.tsv has a model
  profile listing exactly its machine types, every one of those machine types
  resolves exact to the profile that carries the model's name, and no machine
  type sits in two model profiles;
- resolution, recomputed here from the rules (identity built from the SMBIOS
  texts of machines.tsv, exact match on the machine type, family match by
  ASCII-folded containment, families in file-name byte order, then the
  ThinkPad and vendor rules), gives every ThinkPad row whose machine type the
  database lists an exact match on the right model, never lands a
  non-ThinkPad row on a ThinkPad profile, and never puts a T14s in the T14
  family.

The table thinkpad_mtm.tsv covers the ThinkPad models from model year 2017
(T470, X1 Carbon 5th) onwards, so every row of it is in scope.

Runs on its own (python3 tests/e2e/test_profile_database.py) or through
tests/e2e/run.py, and prints a summary of the database and of the resolutions.
"""
import csv
import re
import sys
import tomllib
import unittest
from collections import Counter
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
PROFILES = REPO / "profiles"
DATA = REPO.parent / "shared" / "data"

# --------------------------------------------------------------------------
# Text rules
# --------------------------------------------------------------------------

WHITE_SPACE = (
    "\u0009\u000a\u000b\u000c\u000d\u0020\u0085\u00a0\u1680"
    + "".join(chr(c) for c in range(0x2000, 0x200B))
    + "\u2028\u2029\u202f\u205f\u3000"
)

PLACEHOLDERS = {
    "n/a",
    "none",
    "undefined",
    "not specified",
    "system version",
    "not applicable",
    "default string",
    "system product name",
    "to be filled by o.e.m.",
}

DYNAMIC_PROBE_VENDORS = (
    "framework", "asus", "asustek", "hp", "hewlett-packard", "dell", "acer",
    "msi", "micro-star", "razer", "samsung", "lg electronics", "gigabyte",
    "huawei", "microsoft", "toshiba", "fujitsu", "panasonic", "alienware",
)


def trim(text):
    return text.strip(WHITE_SPACE)


def ascii_lower(text):
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in text)


def fold(text):
    """ASCII folding on the UTF-8 bytes: only A-Z change."""
    return bytes(b + 32 if 0x41 <= b <= 0x5A else b for b in text.encode("utf-8"))


def is_ascii_alnum(c):
    return "0" <= c <= "9" or "a" <= c <= "z" or "A" <= c <= "Z"


def normalize_field(text):
    if text is None:
        return None
    text = trim(text)
    if not text or ascii_lower(text) in PLACEHOLDERS:
        return None
    return text


def machine_type_of(text):
    text = trim(text)
    head = text[:4]
    if len(head) < 4 or not all(is_ascii_alnum(c) for c in head) or not head[0].isdigit():
        return None
    return "".join(chr(ord(c) - 32) if "a" <= c <= "z" else c for c in head)


def build_identity(row):
    """manufacturer, mtm, display_name from one machines.tsv row."""
    product = normalize_field(row["sys_product"])
    mtm = machine_type_of(product) if product is not None else None
    version = normalize_field(row["sys_version"])
    family = normalize_field(row["sys_family"])
    board = normalize_field(row["board_product"])
    candidates = [version, family, product if mtm is None else None, board]
    display = next((c for c in candidates if c is not None), None)
    return {
        "manufacturer": normalize_field(row["sys_manufacturer"]),
        "mtm": mtm,
        "display_name": display,
    }


def resolve(profiles, identity):
    """(kind, profile or None) by the resolution rules."""
    mtm = identity["mtm"]
    if mtm is not None:
        for profile in profiles:
            if profile["scope"] != "model":
                continue
            for element in profile["matches"].get("mtm", []):
                if len(element.encode()) == len(mtm.encode()) and fold(element) == fold(mtm):
                    return "exact", profile
    display = identity["display_name"]
    if display is not None:
        folded = fold(display)
        for profile in profiles:
            if profile["scope"] != "family":
                continue
            for fragment in profile["matches"].get("version_contains", []):
                if fold(fragment) in folded:
                    return "family", profile
    manufacturer = identity["manufacturer"]
    if (
        manufacturer is not None
        and len(manufacturer.encode()) == 6
        and fold(manufacturer) == b"lenovo"
        and display is not None
        and b"thinkpad" in fold(display)
    ):
        return "dynamic_probe", None
    if manufacturer is not None:
        folded = fold(manufacturer)
        if any(v.encode() in folded for v in DYNAMIC_PROBE_VENDORS):
            return "dynamic_probe", None
    return "unsupported", None


# --------------------------------------------------------------------------
# Format and validation rules
# --------------------------------------------------------------------------

TOP_KEYS = {"schema_version", "id", "display_name", "scope", "matches", "capabilities"}
TOP_REQUIRED = {"schema_version", "id", "display_name", "scope", "matches"}
MATCH_KEYS = {"mtm", "version_contains"}
CAP_KEYS = {"id", "label", "access", "confidence", "sources", "validated_on", "bounds", "notes"}
CAP_REQUIRED = {"id", "label", "access", "confidence", "sources"}
CONFIDENCES = ("validated", "documented", "assumed")
ACCESS_FIELDS = {
    "msr": {"address": ("u32",)},
    "ec": {"offset": ("u8",)},
    "wmi": {"class": ("str",), "property": ("str",)},
    "acpi": {"path": ("str",)},
    "platform_profile": None,
}
I64 = (-(2**63), 2**63 - 1)
MTM_FORM = re.compile(r"[A-Za-z0-9]{4}")


def is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def is_str_list(value):
    return isinstance(value, list) and all(isinstance(v, str) for v in value)


def check_int(value, low, high, what):
    if not is_int(value):
        return f"{what}: integer expected, got {type(value).__name__}"
    if not low <= value <= high:
        return f"{what}: {value} out of range {low}..{high}"
    return None


def format_errors(doc):
    """Every breach of the format and validation rules in one decoded document."""
    errors = []
    unknown = set(doc) - TOP_KEYS
    if unknown:
        errors.append(f"unknown top-level keys {sorted(unknown)}")
    missing = TOP_REQUIRED - set(doc)
    if missing:
        return errors + [f"missing keys {sorted(missing)}"]
    err = check_int(doc["schema_version"], 0, 2**32 - 1, "schema_version")
    if err:
        errors.append(err)
    elif doc["schema_version"] != 1:
        errors.append(f"schema_version {doc['schema_version']} (1 expected)")
    for key in ("id", "display_name", "scope"):
        if not isinstance(doc[key], str):
            errors.append(f"{key}: string expected")
    if errors:
        return errors
    if not trim(doc["id"]):
        errors.append("blank id")
    if doc["scope"] not in ("model", "family"):
        errors.append(f"scope {doc['scope']!r}")
    matches = doc["matches"]
    if not isinstance(matches, dict):
        return errors + ["matches: table expected"]
    if set(matches) - MATCH_KEYS:
        errors.append(f"unknown matches keys {sorted(set(matches) - MATCH_KEYS)}")
    for key in MATCH_KEYS & set(matches):
        if not is_str_list(matches[key]):
            errors.append(f"matches.{key}: array of strings expected")
    if errors:
        return errors
    mtms = matches.get("mtm", [])
    if doc["scope"] == "model" and not mtms:
        errors.append("model profile without mtm")
    if doc["scope"] == "family" and not matches.get("version_contains", []):
        errors.append("family profile without version_contains")
    for element in mtms:
        if len(element.encode()) != 4 or not MTM_FORM.fullmatch(element):
            errors.append(f"malformed mtm {element!r}")
    caps = doc.get("capabilities", [])
    if not isinstance(caps, list) or not all(isinstance(c, dict) for c in caps):
        return errors + ["capabilities: array of tables expected"]
    seen = set()
    for cap in caps:
        errors.extend(capability_errors(cap, seen))
    return errors


def capability_errors(cap, seen):
    errors = []
    label = f"capability {cap.get('id')!r}"
    if set(cap) - CAP_KEYS:
        errors.append(f"{label}: unknown keys {sorted(set(cap) - CAP_KEYS)}")
    if CAP_REQUIRED - set(cap):
        return errors + [f"{label}: missing {sorted(CAP_REQUIRED - set(cap))}"]
    for key in ("id", "label"):
        if not isinstance(cap[key], str):
            errors.append(f"{label}: {key} must be a string")
    for key in ("validated_on", "notes"):
        if key in cap and not isinstance(cap[key], str):
            errors.append(f"{label}: {key} must be a string")
    if cap["confidence"] not in CONFIDENCES:
        errors.append(f"{label}: confidence {cap['confidence']!r}")
    if not is_str_list(cap["sources"]):
        errors.append(f"{label}: sources must be an array of strings")
    elif not any(trim(s) for s in cap["sources"]):
        errors.append(f"{label}: no source")
    if isinstance(cap["id"], str):
        if cap["id"] in seen:
            errors.append(f"{label}: duplicate id")
        seen.add(cap["id"])
    if cap["confidence"] == "validated" and not trim(cap.get("validated_on", "") or ""):
        errors.append(f"{label}: validated without validated_on")
    if "bounds" in cap:
        bounds = cap["bounds"]
        if not isinstance(bounds, dict) or set(bounds) != {"min", "max"}:
            errors.append(f"{label}: bounds must be exactly {{min, max}}")
        else:
            for key in ("min", "max"):
                err = check_int(bounds[key], *I64, f"{label} bounds.{key}")
                if err:
                    errors.append(err)
            if is_int(bounds["min"]) and is_int(bounds["max"]) and bounds["min"] > bounds["max"]:
                errors.append(f"{label}: bounds inverted")
    errors.extend(access_errors(cap["access"], label))
    return errors


def access_errors(access, label):
    if not isinstance(access, dict):
        return [f"{label}: access must be a table"]
    method = access.get("method")
    if method not in ACCESS_FIELDS:
        return [f"{label}: access method {method!r}"]
    fields = ACCESS_FIELDS[method]
    if fields is None:
        return []
    errors = []
    others = set(access) - {"method"}
    if others != set(fields):
        errors.append(f"{label}: access {method} takes exactly {sorted(fields)}, got {sorted(others)}")
    for key, (kind,) in fields.items():
        if key not in access:
            continue
        value = access[key]
        if kind == "str" and not isinstance(value, str):
            errors.append(f"{label}: access.{key} must be a string")
        if kind == "u32":
            err = check_int(value, 0, 2**32 - 1, f"{label} access.{key}")
            if err:
                errors.append(err)
        if kind == "u8":
            err = check_int(value, 0, 255, f"{label} access.{key}")
            if err:
                errors.append(err)
    return errors


# --------------------------------------------------------------------------
# Data
# --------------------------------------------------------------------------


def model_slug(name):
    """File stem of a model profile: "ThinkPad X1 Carbon Gen 9" -> thinkpad-x1-carbon-gen9."""
    text = ascii_lower(name)
    text = re.sub(r"\bgen (\d+\w*)", r"gen\1", text)
    return re.sub(r"[^a-z0-9]+", "-", text).strip("-")


def load_database():
    """Profiles in load order: *.toml sorted byte-wise by file name."""
    paths = sorted(
        (p for p in PROFILES.iterdir() if p.suffix == ".toml" and p.name != ".toml"),
        key=lambda p: p.name.encode(),
    )
    profiles = []
    for path in paths:
        with path.open("rb") as handle:
            try:
                doc = tomllib.load(handle)
            except tomllib.TOMLDecodeError as error:
                raise AssertionError(f"{path.name}: invalid TOML: {error}") from error
        doc["_file"] = path.name
        profiles.append(doc)
    return profiles


MTM_TABLES = ("thinkpad_mtm.tsv", "thinkpad_mtm_more.tsv")


def read_tsv(name):
    """Rows of a shared table; the comment lines (starting with #) some tables end with are
    not rows."""
    with (DATA / name).open(encoding="utf-8", newline="") as handle:
        lines = [line for line in handle if not line.startswith("#")]
    return list(csv.DictReader(lines, delimiter="\t", quoting=csv.QUOTE_NONE))


def model_table():
    """Every (model name, machine types) row of both machine-type tables."""
    return [row for name in MTM_TABLES for row in read_tsv(name)]


def clean_row(row, category):
    clean = {key: None if value in ("<absent>", "Not Specified") else value for key, value in row.items()}
    clean["category"] = category
    return clean


def machine_rows():
    """machines.tsv rows joined with their category; <absent> and Not Specified become None."""
    notes = {r["source_path"]: r["category"] for r in read_tsv("machines_notes.tsv")}
    return [clean_row(row, notes[row["source_path"]]) for row in read_tsv("machines.tsv")]


def coreboot_rows():
    """machines_coreboot.tsv: ThinkPads whose firmware is coreboot."""
    return [clean_row(row, "thinkpad-coreboot") for row in read_tsv("machines_coreboot.tsv")]


def is_thinkpad_row(row):
    return row["category"].startswith("thinkpad")


# --------------------------------------------------------------------------
# Tests
# --------------------------------------------------------------------------


class ProfileDatabaseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.profiles = load_database()
        cls.models = [p for p in cls.profiles if p.get("scope") == "model"]
        cls.families = [p for p in cls.profiles if p.get("scope") == "family"]
        cls.mtm_table = model_table()
        cls.model_of = {
            mtm: row["model_name"] for row in cls.mtm_table for mtm in row["mtm_list"].split(",")
        }
        cls.rows = machine_rows() + coreboot_rows()
        cls.results = [(row, *resolve(cls.profiles, build_identity(row))) for row in cls.rows]

    @classmethod
    def tearDownClass(cls):
        types = sum(len(p["matches"].get("mtm", [])) for p in cls.models)
        print(
            f"\nprofile database: {len(cls.models)} models, {types} machine types, "
            f"{len(cls.families)} families"
        )
        for category in ("machines.tsv", "machines_coreboot.tsv"):
            coreboot = category == "machines_coreboot.tsv"
            counts = Counter(
                kind for row, kind, _ in cls.results if (row["category"] == "thinkpad-coreboot") == coreboot
            )
            print(
                f"{category} rows: "
                + ", ".join(f"{counts[k]} {k}" for k in ("exact", "family", "dynamic_probe", "unsupported"))
            )

    # --- the database itself ------------------------------------------------

    def test_database_is_not_empty(self):
        self.assertGreater(len(self.models), 0)
        self.assertGreater(len(self.families), 0)

    def test_every_file_obeys_the_format(self):
        for profile in self.profiles:
            doc = {k: v for k, v in profile.items() if k != "_file"}
            with self.subTest(file=profile["_file"]):
                self.assertEqual(format_errors(doc), [])

    def test_only_toml_files_and_no_stray_entries(self):
        for entry in PROFILES.iterdir():
            with self.subTest(entry=entry.name):
                self.assertTrue(entry.is_file(), "subdirectories would fail to load")
                self.assertIn(entry.suffix, (".toml", ".md"))

    def test_capability_policy(self):
        for profile in self.profiles:
            for cap in profile.get("capabilities", []):
                with self.subTest(file=profile["_file"], capability=cap.get("id")):
                    self.assertNotEqual(cap["confidence"], "validated", "nothing here is validated")
                    self.assertTrue(
                        any(trim(s).startswith("https://") for s in cap["sources"]),
                        "each capability needs at least one public https source",
                    )

    def test_model_files_are_named_after_their_model(self):
        for profile in self.models:
            with self.subTest(file=profile["_file"]):
                stem = model_slug(profile["display_name"])
                self.assertEqual(profile["_file"], stem + ".toml")
                self.assertEqual(profile["id"], stem)

    def test_family_files_carry_a_two_digit_order_prefix(self):
        for profile in self.families:
            with self.subTest(file=profile["_file"]):
                self.assertRegex(profile["_file"], r"^family-\d\d-[a-z0-9-]+\.toml$")

    def test_profile_ids_are_unique(self):
        ids = Counter(p["id"] for p in self.profiles)
        self.assertEqual([i for i, n in ids.items() if n > 1], [])

    def test_every_model_of_the_table_has_its_profile(self):
        by_name = {p["display_name"]: p for p in self.models}
        for row in self.mtm_table:
            name = row["model_name"]
            with self.subTest(model=name):
                self.assertIn(name, by_name)
                listed = set(by_name[name]["matches"]["mtm"])
                self.assertLessEqual(set(row["mtm_list"].split(",")), listed)

    def test_no_machine_type_in_two_model_profiles(self):
        owner = {}
        for profile in self.models:
            for mtm in profile["matches"]["mtm"]:
                key = mtm.upper()
                with self.subTest(mtm=key):
                    self.assertNotIn(key, owner, f"also in {owner.get(key)}")
                owner[key] = profile["_file"]

    def test_every_listed_machine_type_resolves_exact_to_its_model(self):
        """Through the resolution rules, with nothing but the machine type to go on, and with a
        display name that a family would catch."""
        self.assertEqual(len(self.model_of), sum(len(r["mtm_list"].split(",")) for r in self.mtm_table))
        for mtm, name in self.model_of.items():
            for display in (None, name):
                identity = {"manufacturer": "LENOVO", "mtm": mtm, "display_name": display}
                with self.subTest(mtm=mtm, display_name=display):
                    kind, profile = resolve(self.profiles, identity)
                    self.assertEqual(kind, "exact")
                    self.assertEqual(profile["display_name"], name)

    def test_model_profiles_list_only_machine_types_of_their_model(self):
        table = {r["model_name"]: set(r["mtm_list"].split(",")) for r in self.mtm_table}
        for profile in self.models:
            with self.subTest(file=profile["_file"]):
                if profile["display_name"] in table:
                    self.assertEqual(set(profile["matches"]["mtm"]), table[profile["display_name"]])

    def test_more_specific_family_sorts_first(self):
        """A family whose fragment contains another family's fragment must load before it."""
        order = {p["_file"]: i for i, p in enumerate(self.profiles)}
        for wide in self.families:
            for narrow in self.families:
                if wide is narrow:
                    continue
                for short in wide["matches"]["version_contains"]:
                    for long in narrow["matches"]["version_contains"]:
                        if fold(short) in fold(long):
                            with self.subTest(narrow=narrow["_file"], wide=wide["_file"]):
                                self.assertLess(order[narrow["_file"]], order[wide["_file"]])

    def test_family_fragments_are_thinkpad_names(self):
        for profile in self.families:
            for fragment in profile["matches"]["version_contains"]:
                with self.subTest(file=profile["_file"], fragment=fragment):
                    self.assertTrue(fragment.startswith("ThinkPad "))

    def test_every_model_name_lands_in_its_most_specific_family(self):
        """Without its machine type, each model's commercial name picks the family whose
        matching fragment is the longest one of all families."""
        for row in self.mtm_table:
            name = row["model_name"]
            with self.subTest(model=name):
                kind, profile = resolve(
                    self.families, {"manufacturer": "LENOVO", "mtm": None, "display_name": name}
                )
                self.assertEqual(kind, "family")
                folded = fold(name)
                best = max(
                    len(f)
                    for p in self.families
                    for f in p["matches"]["version_contains"]
                    if fold(f) in folded
                )
                mine = max(len(f) for f in profile["matches"]["version_contains"] if fold(f) in folded)
                self.assertEqual(mine, best, f"{name} went to {profile['_file']}")

    # --- resolution against real firmware data ------------------------------

    def test_listed_thinkpad_rows_resolve_exact_to_their_model(self):
        model_of = self.model_of
        listed = {m.upper() for p in self.models for m in p["matches"]["mtm"]}
        checked = 0
        for row, kind, profile in self.results:
            mtm = build_identity(row)["mtm"]
            if not is_thinkpad_row(row) or mtm not in listed:
                continue
            checked += 1
            with self.subTest(row=row["source_path"]):
                self.assertEqual(kind, "exact")
                self.assertEqual(profile["display_name"], model_of[mtm])
        self.assertGreater(checked, 0)

    def test_unlisted_thinkpad_rows_resolve_family_or_dynamic_probe(self):
        """Rows whose firmware names a LENOVO ThinkPad must never end unsupported. A row
        without that evidence (IBM era, a manufacturer of "LENOVO.", a Version of "1.0" or
        "X200") can only be caught by a family; it must at least not land exact."""
        listed = {m.upper() for p in self.models for m in p["matches"]["mtm"]}
        for row, kind, profile in self.results:
            identity = build_identity(row)
            if not is_thinkpad_row(row) or identity["mtm"] in listed:
                continue
            evidence = (
                identity["manufacturer"] is not None
                and fold(identity["manufacturer"]) == b"lenovo"
                and identity["display_name"] is not None
                and b"thinkpad" in fold(identity["display_name"])
            )
            with self.subTest(row=row["source_path"]):
                self.assertNotEqual(kind, "exact")
                if evidence:
                    self.assertIn(kind, ("family", "dynamic_probe"))

    def test_coreboot_rows_naming_a_thinkpad_are_exact_or_family(self):
        """Coreboot keeps the machine type in the product name on most units (whatever the
        Version says, "X200" on one); where it does not (a product "N1004Z1"), a family
        catches the Version. A Version of "1.0" names
        nothing: such a row stays unsupported, since no fragment may catch a generic text."""
        checked = Counter()
        for row, kind, profile in self.results:
            if row["category"] != "thinkpad-coreboot":
                continue
            identity = build_identity(row)
            display = identity["display_name"]
            checked[kind] += 1
            with self.subTest(row=row["source_path"]):
                if identity["mtm"] in self.model_of:
                    self.assertEqual((kind, profile["display_name"]), ("exact", self.model_of[identity["mtm"]]))
                elif display is not None and b"thinkpad" in fold(display):
                    self.assertEqual(kind, "family")
                else:
                    self.assertEqual(kind, "unsupported")
        self.assertEqual(sum(checked.values()), len(coreboot_rows()))
        self.assertGreater(checked["family"], 0)

    # Lenovo's consumer machines carry five-digit product numbers; when the first four digits
    # are a ThinkPad machine type, the machine-type rule cannot tell them apart. Each such row
    # is named here with where it lands, so that any new collision fails.
    KNOWN_COLLISIONS = {
        # G570 "20079": 2007 is the T60's most frequent machine type (11 dumps).
        "linuxhw/DMI:Notebook/Lenovo/G570/G570 20079/012FE719130F": ("exact", "thinkpad-t60.toml"),
    }

    def test_no_other_row_resolves_to_a_thinkpad_profile(self):
        for row, kind, profile in self.results:
            if is_thinkpad_row(row):
                continue
            with self.subTest(row=row["source_path"], category=row["category"]):
                if row["source_path"] in self.KNOWN_COLLISIONS:
                    self.assertRegex(trim(row["sys_product"]), r"^[0-9]{5}$")
                    self.assertEqual((kind, profile["_file"]), self.KNOWN_COLLISIONS[row["source_path"]])
                    continue
                self.assertTrue(
                    profile is None or not profile["display_name"].startswith("ThinkPad"),
                    f"{kind} on {profile and profile['_file']}",
                )

    def test_t14s_rows_never_land_in_the_t14_family(self):
        t14_families = {
            p["_file"] for p in self.families if "ThinkPad T14" in p["matches"]["version_contains"]
        }
        self.assertTrue(t14_families, "a T14 family is expected")
        names = [r["sys_version"] for r in self.rows if r["sys_version"]] + [
            r["model_name"] for r in self.mtm_table
        ]
        t14s = [n for n in names if b"thinkpad t14s" in fold(n)]
        self.assertTrue(t14s)
        for name in t14s:
            kind, profile = resolve(
                self.profiles, {"manufacturer": "LENOVO", "mtm": None, "display_name": trim(name)}
            )
            with self.subTest(name=name):
                self.assertEqual(kind, "family")
                self.assertNotIn(profile["_file"], t14_families)

    # --- the checker's own rules, on hand-made inputs -----------------------

    def test_checker_rejects_broken_documents(self):
        good = {
            "schema_version": 1,
            "id": "x",
            "display_name": "",
            "scope": "model",
            "matches": {"mtm": ["20AB"]},
            "capabilities": [
                {
                    "id": "k",
                    "label": "l",
                    "access": {"method": "ec", "offset": 13},
                    "confidence": "documented",
                    "sources": ["https://example.org"],
                    "bounds": {"min": 0, "max": 2},
                }
            ],
        }
        self.assertEqual(format_errors(good), [])
        cap = good["capabilities"][0]
        broken = [
            {**good, "vendor": "x"},
            {**good, "schema_version": 2},
            {**good, "id": "   "},
            {**good, "scope": "Model"},
            {**good, "matches": {"mtm": []}},
            {**good, "matches": {"mtm": ["20AB-"]}},
            {**good, "scope": "family", "matches": {"mtm": ["20AB"]}},
            {**good, "capabilities": [cap, cap]},
            {**good, "capabilities": [{**cap, "sources": ["", "  "]}]},
            {**good, "capabilities": [{**cap, "confidence": "validated"}]},
            {**good, "capabilities": [{**cap, "bounds": {"min": 1, "max": -1}}]},
            {**good, "capabilities": [{**cap, "access": {"method": "ec", "offset": 256}}]},
            {**good, "capabilities": [{**cap, "access": {"method": "msr", "offset": 5}}]},
            {**good, "capabilities": [{**cap, "access": {"method": "smbus"}}]},
        ]
        for doc in broken:
            with self.subTest(doc=doc):
                self.assertNotEqual(format_errors(doc), [])
        self.assertEqual(
            format_errors({**good, "capabilities": [{**cap, "access": {"method": "platform_profile", "x": 1}}]}),
            [],
        )

    def test_checker_identity_and_resolution_rules(self):
        row = {
            "sys_manufacturer": "LENOVO",
            "sys_product": " 20xwcto1ww ",
            "sys_version": "ThinkPad T14s Gen 2i ",
            "sys_family": "ThinkPad T14s Gen 2i",
            "board_product": "20XW",
        }
        identity = build_identity(row)
        self.assertEqual(identity["mtm"], "20XW")
        self.assertEqual(identity["display_name"], "ThinkPad T14s Gen 2i")
        self.assertIsNone(build_identity({**row, "sys_manufacturer": " To Be Filled By O.E.M. "})["manufacturer"])
        self.assertEqual(build_identity({**row, "sys_version": "System Version"})["display_name"], "ThinkPad T14s Gen 2i")
        self.assertEqual(
            build_identity({**row, "sys_version": None, "sys_family": None})["display_name"], "20XW"
        )
        model = {"scope": "model", "id": "m", "matches": {"mtm": ["20xw"]}}
        wide = {"scope": "family", "id": "t14", "matches": {"version_contains": ["thinkpad t14"]}}
        narrow = {"scope": "family", "id": "t14s", "matches": {"version_contains": ["ThinkPad T14s"]}}
        self.assertEqual(resolve([wide, model], identity), ("exact", model))
        no_mtm = {**identity, "mtm": None}
        self.assertEqual(resolve([wide, narrow], no_mtm), ("family", wide))
        self.assertEqual(resolve([narrow, wide], no_mtm), ("family", narrow))
        self.assertEqual(resolve([], no_mtm), ("dynamic_probe", None))
        self.assertEqual(resolve([], {**no_mtm, "manufacturer": "Lenovo Group"}), ("unsupported", None))
        self.assertEqual(resolve([], {**no_mtm, "manufacturer": "Dell Inc."}), ("dynamic_probe", None))
        self.assertEqual(
            resolve([], {"manufacturer": "LENOVO", "mtm": None, "display_name": "Notebook 15"}),
            ("unsupported", None),
        )
        self.assertIsNone(machine_type_of("20A-B"))
        self.assertIsNone(machine_type_of("A20B"))
        self.assertEqual(machine_type_of("  300e4a"), "300E")


if __name__ == "__main__":
    unittest.main(verbosity=2)
