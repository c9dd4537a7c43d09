"""`detect` end to end on chosen firmware, through the Linux build and Wine."""
from __future__ import annotations

import csv
import functools
import json
import sys
import tempfile
import unittest
from pathlib import Path

import harness
import identity_model as model
import smbios

PROFILES = harness.REPO / "profiles"
NOTICE = ("Nivalto est un projet indépendant et NON OFFICIEL. Il n'est ni développé, ni approuvé, "
          "ni soutenu par Lenovo. ThinkPad et Lenovo sont des marques de Lenovo. Fourni sans "
          "garantie : utilisation à vos risques.")
KEYS = ["notice", "backend", "manufacturer", "mtm", "display_name", "bios_vendor", "bios_version",
        "bios_release_date", "resolution", "profile_id", "profiles_loaded", "sources"]
MARKER = "MARQUEUR-UNITAIRE-7Q"

# Which /sys/class/dmi/id file Wine reads for each firmware field. Wine fills
# BIOS vendor, version and date (type 0), system vendor, product, version,
# serial and family (type 1), board vendor, product, version and serial
# (type 2), chassis vendor and serial (type 3). A missing or empty file gives
# string index 0 (no string); every other text is copied as read, blanks
# included, less the final line feed. Wine always builds a table, so "no
# table" cannot be played under Wine.
WINE_FILES = {
    "bios_vendor": "bios_vendor", "bios_version": "bios_version",
    "bios_release_date": "bios_date", "manufacturer": "sys_vendor", "product": "product_name",
    "version": "product_version", "family": "product_family", "board": "board_name",
}


def native_table(fields: dict, serial=None, uuid=b"\x00" * 16, asset_tag=None) -> bytes:
    return smbios.table(
        smbios.bios(fields.get("bios_vendor"), fields.get("bios_version"),
                    fields.get("bios_release_date")),
        smbios.system(fields.get("manufacturer"), fields.get("product"), fields.get("version"),
                      serial=serial, uuid=uuid, family=fields.get("family")),
        smbios.baseboard("Board Maker", fields.get("board"), serial=serial, asset_tag=asset_tag),
        smbios.chassis("Chassis Maker", serial=serial, asset_tag=asset_tag),
    )


def wine_dmi(fields: dict, serial=None) -> dict:
    files = {WINE_FILES[k]: v for k, v in fields.items() if v is not None}
    if serial is not None:
        files.update(product_serial=serial, board_serial=serial, chassis_serial=serial)
    return files


def detect(program: str, fields: dict, args=(), serial=None, uuid=b"\x00" * 16,
           asset_tag=None) -> harness.Result:
    if program == "native":
        return harness.run_native(["detect", *args],
                                  firmware=native_table(fields, serial, uuid, asset_tag))
    return harness.run_wine(["detect", *args], dmi=wine_dmi(fields, serial))


def machine_rows(table: str = "machines.tsv") -> list[dict]:
    """The real machines of a shared table (machines.tsv, machines_coreboot.tsv)."""
    with open(harness.SHARED / "data" / table, newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f, delimiter="\t", quoting=csv.QUOTE_NONE))
    with open(harness.SHARED / "data" / "machines_notes.tsv", newline="", encoding="utf-8") as f:
        categories = {r["source_path"]: r["category"]
                      for r in csv.DictReader(f, delimiter="\t", quoting=csv.QUOTE_NONE)}

    def value(v: str):
        # `<absent>`: the field is not in the dump; `Not Specified`: string index 0.
        return None if v in ("<absent>", "Not Specified") else v

    machines = []
    for r in rows:
        machines.append({
            "source": r["source_path"],
            "category": categories.get(r["source_path"], ""),
            "fields": {
                "bios_vendor": value(r["bios_vendor"]), "bios_version": value(r["bios_version"]),
                "bios_release_date": value(r["bios_release_date"]),
                "manufacturer": value(r["sys_manufacturer"]), "product": value(r["sys_product"]),
                "version": value(r["sys_version"]), "family": value(r["sys_family"]),
                "board": value(r["board_product"]),
            },
        })
    return machines


@functools.cache
def shipped_profiles() -> list[dict]:
    # Read once: the shipped database does not change while the suite runs.
    return model.load_profiles(PROFILES)


def backend_of(program: str) -> str:
    return "linux-sysfs" if program == "native" else "windows-native"


class DetectCase(unittest.TestCase):
    def setUp(self):
        harness.require_root(self)

    def check_report(self, program: str, result: harness.Result, fields: dict,
                     profiles_dir: Path = PROFILES):
        self.assertEqual(result.status, 0, result.err_text)
        self.assertEqual(result.err, b"")
        self.assertTrue(result.out.endswith(b"}\n"))
        self.assertNotIn(b"\r", result.out)
        report = json.loads(result.out)
        self.assertEqual(list(report), KEYS)
        self.assertEqual(list(report["sources"]), KEYS[2:8])
        expected = model.expected_identity(fields)
        profiles = shipped_profiles() if profiles_dir == PROFILES else model.load_profiles(profiles_dir)
        kind, profile_id = model.expected_resolution(profiles, expected)
        self.assertEqual(report["notice"], NOTICE)
        self.assertEqual(report["backend"], backend_of(program))
        for key in KEYS[2:8]:
            self.assertEqual(report[key], expected[key], key)
            self.assertEqual(report["sources"][key], expected["sources"][key], key)
        self.assertEqual((report["resolution"], report["profile_id"]), (kind, profile_id))
        self.assertEqual(report["profiles_loaded"], len(profiles))
        return report


class RealMachines(DetectCase):
    """Every real machine's firmware strings and every raw table of the shared data, against
    the shipped database."""

    def test_every_row_native(self):
        self.run_rows("native", machine_rows())

    def test_every_row_wine(self):
        self.run_rows("wine", machine_rows())

    def test_every_coreboot_row_native(self):
        self.run_rows("native", machine_rows("machines_coreboot.tsv"))

    def test_unusual_coreboot_rows_wine(self):
        # Through Wine only the shapes of identity that differ from an ordinary row (no
        # machine type in the product name, a Version that names no ThinkPad), one row each:
        # the resolution code is the same in both builds, the firmware reading is not.
        shapes = {}
        for machine in machine_rows("machines_coreboot.tsv"):
            identity = model.expected_identity(machine["fields"])
            if identity["mtm"] is None or not (identity["display_name"] or "").startswith("ThinkPad "):
                f = machine["fields"]
                shapes.setdefault((f["product"][:4], f["version"], f["family"]), machine)
        self.assertGreaterEqual(len(shapes), 3)
        self.run_rows("wine", list(shapes.values()))

    def run_rows(self, program: str, machines: list[dict]):
        outcomes: dict[str, int] = {}
        for machine in machines:
            with self.subTest(machine=machine["source"]):
                r = detect(program, machine["fields"], ["--profiles", str(PROFILES)])
                report = self.check_report(program, r, machine["fields"])
                outcomes[report["resolution"]] = outcomes.get(report["resolution"], 0) + 1
        print(f"\n  {program}: {sum(outcomes.values())} machines, " +
              ", ".join(f"{k} {v}" for k, v in sorted(outcomes.items())))

    def test_every_raw_table_native_and_as_a_saved_file(self):
        # Only the Linux build can be handed a raw table; Wine builds its own from text files.
        # `detect --smbios` must give what the firmware path gives, apart from the backend,
        # for the file as published and for its table written in every form a file takes.
        # (Run beside the machine's own table: a report read from it could not match.)
        raw = sorted((harness.SHARED / "data" / "raw").iterdir())
        self.assertGreaterEqual(len(raw), 8)
        forms = {"bare table": lambda t: t, "RSMB buffer": smbios.as_rsmb,
                 "_SM_ entry point": smbios.as_entry_point_32,
                 "_SM3_ entry point": smbios.as_entry_point_64}
        with tempfile.TemporaryDirectory(dir=harness.E2E_BUILD) as d:
            for path in raw:
                table = model.structure_table(path.read_bytes())
                with self.subTest(table=path.name):
                    r = harness.run_native(["detect", "--profiles", str(PROFILES)], firmware=table)
                    try:
                        fields = model.summary_of_table(table)
                    except model.TableError as error:
                        self.assertEqual((r.status, r.out), (1, b""))
                        self.assertEqual(r.err_text, f"erreur : données invalides : {error}\n")
                    else:
                        self.check_report("native", r, fields)
                expected = (r.status, r.out.replace(b'"backend": "linux-sysfs"',
                                                    b'"backend": "smbios-file"'), r.err)
                files = {"as published": path}
                for form, write in forms.items():
                    files[form] = Path(d) / f"{path.stem}-{len(files)}"
                    files[form].write_bytes(write(table))
                for form, file in files.items():
                    with self.subTest(table=path.name, form=form):
                        s = harness.run_native(["detect", "--profiles", str(PROFILES),
                                                "--smbios", str(file)])
                        self.assertEqual((s.status, s.out, s.err), expected)


class SampleTable(unittest.TestCase):
    def test_sample_is_the_t480s_report_without_its_identifiers(self):
        # The README's saved table: what its generator writes today, the report of the
        # real table it comes from, and none of that machine's serial numbers or UUID.
        sys.path.insert(0, str(harness.REPO / "samples"))
        import make_sample
        path = harness.REPO / "samples" / "thinkpad-t480s.bin"
        sample = path.read_bytes()
        self.assertEqual(sample, make_sample.sample(harness.SHARED))
        runs = [harness.run_native(["detect", "--profiles", str(PROFILES), "--smbios", str(f)])
                for f in (path, harness.SHARED / make_sample.SOURCE)]
        self.assertEqual((runs[0].status, runs[0].err), (0, b""), runs[0].err_text)
        self.assertEqual(runs[0].out, runs[1].out)
        original = make_sample.original_table(harness.SHARED)
        identifiers = []
        for kind, formatted, strings in make_sample.structures(original):
            if kind in (1, 2, 3) and formatted[0x07]:
                identifiers.append(strings[formatted[0x07] - 1])  # the serial number
            if kind == 1:
                identifiers.append(bytes(formatted[0x08:0x18]))  # the UUID
        self.assertEqual(len(identifiers), 4)
        for identifier in identifiers:
            self.assertIn(identifier, original)
            self.assertNotIn(identifier, sample)


class IdentityRules(DetectCase):
    CASES = {
        "machine type from a ten-character code": dict(
            manufacturer="LENOVO", product="20XWCTO1WW", version="ThinkPad X1 Carbon Gen 9",
            bios_vendor="LENOVO", bios_version="N32ET75W (1.51 )", bios_release_date="01/05/2022"),
        "lower-case code": dict(manufacturer="lenovo", product="20xwcto1ww", version="ThinkPad"),
        "placeholders in any case": dict(
            manufacturer="To Be Filled By O.E.M.", product="SYSTEM PRODUCT NAME",
            version="System Version", family="  default STRING  ", board="n/A"),
        "placeholder without its full stop is a value": dict(manufacturer="To be filled by O.E.M"),
        "family when the version is a placeholder": dict(
            manufacturer="LENOVO", product="20L8S07A14", version="None", family="ThinkPad T480s"),
        "baseboard when nothing else": dict(manufacturer="LENOVO", product="20L8S07A14",
                                            board="20L8S07A14"),
        "plain product name is the display name": dict(manufacturer="Framework",
                                                       product="Laptop 13 (AMD Ryzen 7040Series)"),
        "hyphen in the first four characters": dict(manufacturer="X", product="20-AB", version=" "),
        "BIOS values are not filtered": dict(bios_vendor="Not Applicable", bios_version=" none ",
                                             bios_release_date="To Be Filled By O.E.M."),
        "accents and quotes": dict(manufacturer="Fabricant «\"é\\»", version="Modèle\tspécial"),
        "everything absent": dict(),
    }

    def test_identity_rules_native(self):
        for name, fields in self.CASES.items():
            with self.subTest(case=name):
                self.check_report("native", detect("native", fields), fields)

    def test_identity_rules_wine(self):
        for name, fields in self.CASES.items():
            with self.subTest(case=name):
                self.check_report("wine", detect("wine", fields), fields)

    def test_model_agrees_with_known_answers(self):
        # Guards the independent model itself against drifting from the rules.
        e = model.expected_identity(self.CASES["machine type from a ten-character code"])
        self.assertEqual((e["mtm"], e["display_name"]), ("20XW", "ThinkPad X1 Carbon Gen 9"))
        e = model.expected_identity(self.CASES["placeholders in any case"])
        self.assertEqual((e["manufacturer"], e["mtm"], e["display_name"]), (None, None, None))
        e = model.expected_identity(self.CASES["baseboard when nothing else"])
        self.assertEqual(e["sources"]["display_name"], "SMBIOS type 2 (Baseboard) : Product")

    def test_no_per_unit_identifier_in_the_report(self):
        fields = dict(manufacturer="LENOVO", product="20XWCTO1WW", version="ThinkPad X1 Carbon Gen 9")
        uuid = MARKER.encode()[:16].ljust(16, b"#")
        for program in ("native", "wine"):
            with self.subTest(program=program):
                r = detect(program, fields, serial=MARKER, uuid=uuid, asset_tag=MARKER)
                self.check_report(program, r, fields)
                self.assertNotIn(MARKER.encode(), r.out)
                self.assertNotIn(MARKER[:8].encode(), r.out)


class Resolution(DetectCase):
    def write_profiles(self, directory: Path):
        (directory / "a-family.toml").write_text(
            'schema_version = 1\nid = "q1-family"\ndisplay_name = "Q1"\nscope = "family"\n'
            '[matches]\nversion_contains = ["q1 gen"]\n', encoding="utf-8")
        (directory / "z-model.toml").write_text(
            'schema_version = 1\nid = "q1-gen2"\ndisplay_name = "Q1 Gen 2"\nscope = "model"\n'
            '[matches]\nmtm = ["20ab"]\n', encoding="utf-8")

    def test_four_outcomes(self):
        cases = {
            "exact": dict(manufacturer="LENOVO", product="20ABCTO1WW", version="ThinkPad Q1 Gen 2"),
            "family": dict(manufacturer="LENOVO", product="20ACCTO1WW", version="ThinkPad Q1 Gen 2"),
            "dynamic_probe": dict(manufacturer="LENOVO", product="20ACCTO1WW", version="ThinkPad Q9"),
            "unsupported": dict(manufacturer="Lenovo Group", product="20ACCTO1WW",
                                version="ThinkPad Q9"),
        }
        with tempfile.TemporaryDirectory(dir=harness.E2E_BUILD) as d:
            directory = Path(d)
            self.write_profiles(directory)
            for program in ("native", "wine"):
                for kind, fields in cases.items():
                    with self.subTest(program=program, kind=kind):
                        arg = str(directory) if program == "native" else harness.windows_path(directory)
                        r = detect(program, fields, ["--profiles", arg])
                        report = self.check_report(program, r, fields, directory)
                        self.assertEqual(report["resolution"], kind)


class Output(DetectCase):
    FIELDS = dict(manufacturer="LENOVO", product="20XWCTO1WW", version="ThinkPad X1 Carbon Gen 9",
                  bios_vendor="LENOVO")

    def test_out_file_holds_the_same_bytes(self):
        for program in ("native", "wine"):
            with self.subTest(program=program), tempfile.TemporaryDirectory(dir=harness.E2E_BUILD) as d:
                target = Path(d) / "rapport.json"
                arg = str(target) if program == "native" else harness.windows_path(target)
                plain = detect(program, self.FIELDS)
                written = detect(program, self.FIELDS, ["--out", arg])
                self.assertEqual(written.status, 0, written.err_text)
                self.assertEqual(written.out, b"")
                self.assertEqual(written.err, b"")
                self.assertEqual(target.read_bytes(), plain.out)

    def test_out_into_a_missing_directory(self):
        for program in ("native", "wine"):
            with self.subTest(program=program):
                target = harness.E2E_BUILD / "no-such-dir" / "r.json"
                arg = str(target) if program == "native" else harness.windows_path(target)
                r = detect(program, self.FIELDS, ["--out", arg])
                self.assertEqual(r.status, 1)
                self.assertEqual(r.out, b"")
                self.assertTrue(r.err_text.startswith(f"erreur : écriture de {arg} : "), r.err_text)
                self.assertTrue(r.err.endswith(b"\n") and r.err.count(b"\n") == 1)

    def test_bad_profiles_fail_before_the_firmware_is_read(self):
        # No table at all: had the firmware been read first, its error would show.
        r = harness.run_native(["detect", "--profiles", "no-such-profiles"], firmware=None)
        self.assertEqual(r.status, 1)
        self.assertEqual(r.out, b"")
        self.assertTrue(r.err_text.startswith("erreur : profils (no-such-profiles) : "), r.err_text)


class BrokenFirmware(DetectCase):
    """Only the Linux build can be handed a raw table; Wine builds its own."""

    def run_table(self, table: bytes | None) -> harness.Result:
        return harness.run_native(["detect", "--profiles", str(PROFILES)], firmware=table)

    def test_malformed_tables(self):
        good = bytes.fromhex("01080000010200004100420000" + "7F0401000000")
        cases = {
            "structure SMBIOS invalide à l'offset 13": good[:14] + b"\x02" + good[15:],
            "structure SMBIOS invalide à l'offset 0": b"\x01\x03\x00\x00\x00\x00",
            "section de chaînes SMBIOS non terminée": good[:-1],
        }
        for message, table in cases.items():
            with self.subTest(message=message):
                r = self.run_table(table)
                self.assertEqual(r.status, 1)
                self.assertEqual(r.out, b"")
                self.assertEqual(r.err_text, f"erreur : données invalides : {message}\n")

    def test_missing_table(self):
        r = self.run_table(None)
        self.assertEqual(r.status, 1)
        self.assertEqual(r.out, b"")
        self.assertTrue(r.err_text.startswith("erreur : ressource non disponible : "), r.err_text)
        self.assertIn("/sys/firmware/dmi/tables/DMI", r.err_text)

    def test_bad_saved_files(self):
        # One clear line and no report, whatever the file holds.
        good = smbios.as_entry_point_64(smbios.table(smbios.bios("LENOVO")))
        spoiled = bytearray(good)
        spoiled[8] ^= 1
        with tempfile.TemporaryDirectory(dir=harness.E2E_BUILD) as d:
            cases = {
                "missing": (None, "ressource non disponible : lecture de {} impossible : "
                                  "No such file or directory"),
                "a folder": (..., "ressource non disponible : lecture de {} impossible : "
                                  "Is a directory"),
                "empty": (b"", "données invalides : fichier SMBIOS vide"),
                "none of the three": (b"ab", "données invalides : format de fichier SMBIOS "
                                             "inconnu : ni table brute, ni point d'entrée _SM_ "
                                             "ou _SM3_, ni tampon RSMB"),
                "entry point checksum": (bytes(spoiled), "données invalides : somme de "
                                         "contrôle du point d'entrée _SM3_ incorrecte"),
            }
            for name, (content, message) in cases.items():
                with self.subTest(case=name):
                    file = Path(d) / name
                    if content is ...:
                        file.mkdir()
                    elif content is not None:
                        file.write_bytes(content)
                    r = harness.run_native(["detect", "--profiles", str(PROFILES),
                                            "--smbios", str(file)])
                    self.assertEqual((r.status, r.out), (1, b""))
                    self.assertEqual(r.err_text, f"erreur : {message.format(file)}\n")

    def test_real_raw_tables(self):
        # Real firmware from the shared data, as the kernel would expose it.
        raw = harness.SHARED / "data" / "raw"
        t480 = (raw / "uroot_Lenovo-ThinkPad-T480.bin").read_bytes()
        length = int.from_bytes(t480[12:16], "little")
        address = int.from_bytes(t480[16:24], "little")
        r = self.run_table(t480[address:address + length])
        self.assertEqual(r.status, 0, r.err_text)
        report = json.loads(r.out)
        self.assertEqual(report["mtm"], "20L8")
        self.assertEqual(report["manufacturer"], "LENOVO")

        hyperv = (raw / "siderolabs_HyperV.dmi").read_bytes()
        r = self.run_table(hyperv)
        self.assertEqual(r.status, 1)
        self.assertEqual(r.err_text, "erreur : données invalides : structure SMBIOS invalide à l'offset 478\n")


if __name__ == "__main__":
    unittest.main()
