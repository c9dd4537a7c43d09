"""`profiles` end to end, through the Linux build and Wine."""
from __future__ import annotations

import json
import tempfile
import unittest
from pathlib import Path

import harness

NOTICE = ("Nivalto est un projet indépendant et NON OFFICIEL. Il n'est ni développé, ni approuvé, "
          "ni soutenu par Lenovo. ThinkPad et Lenovo sont des marques de Lenovo. Fourni sans "
          "garantie : utilisation à vos risques.")

HEAD = 'schema_version = 1\nid = "p"\ndisplay_name = "P"\n'
MODEL = HEAD + 'scope = "model"\n[matches]\nmtm = ["20AB"]\n'
CAPABILITY = ('[[capabilities]]\nid = "kbd"\nlabel = "K"\naccess = { method = "platform_profile" }\n'
              'confidence = "documented"\nsources = ["doc"]\n')

# file text -> the end of the error line, after "{path} : ".
VALIDATION = {
    "id blank": ('schema_version = 1\nid = "   "\ndisplay_name = ""\nscope = "model"\n'
                 '[matches]\nmtm = ["20AB"]\n', "profil «     » : identifiant vide"),
    "family without name": (HEAD + 'scope = "family"\n[matches]\n',
                            "profil « p » : profil de famille sans nom commercial"),
    "model without mtm": (HEAD + 'scope = "model"\n[matches]\nmtm = []\n',
                          "profil « p » : profil de modèle sans MTM"),
    "bad mtm": (HEAD + 'scope = "model"\n[matches]\nmtm = ["20AB", "20É1"]\n',
                "profil « p » : MTM mal formé : « 20É1 »"),
    "duplicate capability": (MODEL + CAPABILITY + CAPABILITY,
                             "profil « p » : capacité dupliquée : kbd"),
    "no source": (MODEL + CAPABILITY.replace('["doc"]', '["", "  "]'),
                  "profil « p » : capacité kbd sans source"),
    "validated without date": (MODEL + CAPABILITY.replace('"documented"', '"validated"'),
                               "profil « p » : capacité kbd « validated » sans validated_on"),
    "inverted bounds": (MODEL + CAPABILITY + "bounds = { min = 1, max = -1 }\n",
                        "profil « p » : bornes inversées pour kbd"),
    "schema version": (MODEL.replace("schema_version = 1", "schema_version = 2"),
                       "version de schéma 2 non supportée (attendu 1)"),
}

# file text -> the reason that ends "TOML invalide : ligne L, colonne C : {reason}".
DECODING = {
    "missing field": (HEAD + 'scope = "model"\n', "missing field `matches`"),
    "unknown field": ('vendor = "x"\n' + MODEL,
                      "unknown field `vendor`, expected one of `schema_version`, `id`, "
                      "`display_name`, `scope`, `matches`, `capabilities`"),
    "unknown variant": (MODEL.replace('"model"', '"Model"'),
                        "unknown variant `Model`, expected `model` or `family`"),
    "invalid type": (MODEL.replace('["20AB"]', '"20AB"'),
                     'invalid type: string "20AB", expected a sequence'),
    "invalid value": (MODEL + CAPABILITY.replace('{ method = "platform_profile" }',
                                                 '{ method = "ec", offset = 256 }'),
                      "invalid value: integer `256`, expected u8"),
    "access without method": (MODEL + CAPABILITY.replace('{ method = "platform_profile" }',
                                                         '{ offset = 1 }'),
                              "missing field `method`"),
}


class ProfilesCommand(unittest.TestCase):
    def setUp(self):
        harness.E2E_BUILD.mkdir(parents=True, exist_ok=True)
        self.dir = Path(tempfile.mkdtemp(dir=harness.E2E_BUILD))

    def tearDown(self):
        import shutil
        shutil.rmtree(self.dir, ignore_errors=True)

    def directory(self, name: str, files: dict[str, str | bytes]) -> Path:
        d = self.dir / name
        d.mkdir()
        for file_name, text in files.items():
            data = text.encode("utf-8") if isinstance(text, str) else text
            (d / file_name).write_bytes(data)
        return d

    def run_both(self, args):
        for program in harness.PROGRAMS:
            yield program, program.run(args, cwd=self.dir)

    def test_good_directory_lists_in_file_name_order(self):
        self.directory("good", {
            "b.toml": MODEL.replace('id = "p"', 'id = "b"'),
            "a.toml": MODEL.replace('id = "p"', 'id = "a"').replace('"P"', '"Modèle «\\u001f»"')
            + CAPABILITY,
            "B.toml": HEAD.replace('"p"', '"famille"') + 'scope = "family"\n[matches]\n'
            'version_contains = ["X"]\n',
            "notes.txt": "not a profile",
            "c.TOML": "ignored",
        })
        for program, r in self.run_both(["profiles", "--profiles", "good"]):
            with self.subTest(program=program.name):
                self.assertEqual(r.status, 0, r.err_text)
                self.assertEqual(r.err, b"")
                listing = json.loads(r.out)
                self.assertEqual(listing["notice"], NOTICE)
                self.assertEqual([p["id"] for p in listing["profiles"]], ["famille", "a", "b"])
                self.assertEqual(listing["profiles"][0]["scope"], "family")
                self.assertEqual(listing["profiles"][1]["capabilities"], 1)
                self.assertIn('"display_name": "Modèle «\\u001f»",\n'.encode(), r.out)
                self.assertIn(b'\n  "profiles": [\n    {\n      "id": "famille",\n', r.out)
                self.assertIn(b"\n    },\n    {\n", r.out)
                self.assertTrue(r.out.endswith(b"\n  ]\n}\n"))
                self.assertNotIn(b"\r", r.out)

    def test_empty_directory(self):
        self.directory("empty", {})
        expected = ('{\n  "notice": "' + NOTICE + '",\n  "profiles": []\n}\n').encode()
        for program, r in self.run_both(["profiles", "--profiles", "empty"]):
            with self.subTest(program=program.name):
                self.assertEqual((r.status, r.out, r.err), (0, expected, b""))

    def test_missing_directory(self):
        for program, r in self.run_both(["profiles", "--profiles", "absent"]):
            with self.subTest(program=program.name):
                self.assertEqual(r.status, 1)
                self.assertEqual(r.out, b"")
                self.assertRegex(r.err_text, r"^erreur : profils \(absent\) : \S.*\n$")

    def test_out_into_a_file_and_into_a_missing_directory(self):
        self.directory("good", {"a.toml": MODEL})
        plain = harness.run_native(["profiles", "--profiles", "good"], cwd=self.dir)
        for program in harness.PROGRAMS:
            with self.subTest(program=program.name):
                target = self.dir / f"listing-{program.name}.json"
                r = program.run(["profiles", "--profiles", "good", "--out", target.name],
                                cwd=self.dir)
                self.assertEqual((r.status, r.out, r.err), (0, b"", b""))
                self.assertEqual(target.read_bytes(), plain.out)

                r = program.run(["profiles", "--profiles", "good", "--out", "absent/l.json"],
                                cwd=self.dir)
                self.assertEqual(r.status, 1)
                self.assertEqual(r.out, b"")
                self.assertRegex(r.err_text, r"^erreur : écriture de absent/l\.json : \S.*\n$")

    def test_each_validation_reason(self):
        for name, (text, reason) in VALIDATION.items():
            d = self.directory(name.replace(" ", "-"), {"ok.toml": MODEL, "x.toml": text})
            for program, r in self.run_both(["profiles", "--profiles", d.name]):
                with self.subTest(case=name, program=program.name):
                    self.assertEqual(r.status, 1)
                    self.assertEqual(r.out, b"")
                    path = d.name + program.separator + "x.toml"
                    self.assertEqual(r.err_text, f"erreur : profils ({d.name}) : {path} : {reason}\n")

    def test_each_decoding_reason(self):
        cases = dict(DECODING)
        cases["syntax"] = ('schema_version = = 1\n', None)
        for name, (text, reason) in cases.items():
            d = self.directory(name.replace(" ", "-"), {"x.toml": text})
            for program, r in self.run_both(["profiles", "--profiles", d.name]):
                with self.subTest(case=name, program=program.name):
                    self.assertEqual(r.status, 1)
                    self.assertEqual(r.out, b"")
                    path = d.name + program.separator + "x.toml"
                    head = f"erreur : profils ({d.name}) : {path} : TOML invalide : "
                    self.assertTrue(r.err_text.startswith(head), r.err_text)
                    self.assertRegex(r.err_text[len(head):], r"^ligne \d+, colonne \d+ : ")
                    if reason is not None:
                        self.assertTrue(r.err_text.endswith(" : " + reason + "\n"), r.err_text)

    def test_file_that_is_not_utf8(self):
        d = self.directory("latin1", {"x.toml": MODEL.encode() + b'# caf\xe9\n'})
        for program, r in self.run_both(["profiles", "--profiles", d.name]):
            with self.subTest(program=program.name):
                self.assertEqual(r.status, 1)
                self.assertEqual(r.err_text,
                                 f"erreur : profils ({d.name}) : stream did not contain valid UTF-8\n")

    def test_shipped_database(self):
        for program in harness.PROGRAMS:
            with self.subTest(program=program.name):
                r = program.run(["profiles"], cwd=harness.REPO)
                self.assertEqual(r.status, 0, r.err_text)
                listing = json.loads(r.out)
                files = sorted((p for p in (harness.REPO / "profiles").glob("*.toml")),
                               key=lambda p: p.name.encode())
                self.assertEqual(len(listing["profiles"]), len(files))


if __name__ == "__main__":
    unittest.main()
