"""The command line of both builds: usage, usage errors, exit codes, bytes."""
import unittest

import harness

USAGE = (
    "Usage :\n"
    "  nivalto detect   [--profiles DIR] [--out FICHIER]\n"
    "  nivalto profiles [--profiles DIR]\n"
    "  nivalto keyboard [0|1|2]             (Windows : rétroéclairage du clavier)\n"
    "  nivalto service  install|uninstall   (Windows : gestionnaire de services)\n"
    "  nivalto --service                    (interne : lancé par Windows)\n"
    "\n"
    "Options :\n"
    "  --profiles  dossier des profils machine TOML (défaut : ./profiles)\n"
    "  --out       écrit le rapport JSON anonymisé dans FICHIER (detect uniquement)\n"
    "  --smbios    lit la table SMBIOS d'un fichier au lieu du micrologiciel (detect uniquement)\n"
    "\n"
    "La lecture se fait toujours sur la machine locale, en lecture seule.\n"
    "\n"
    "Sortie : JSON sur stdout. Codes de sortie : 0 succès, 1 erreur, 2 usage."
).encode("utf-8")


class CommandLine(unittest.TestCase):
    def check(self, args, status, out=b"", err=b""):
        for program in harness.PROGRAMS:
            with self.subTest(program=program.name, args=args):
                r = program.run(args)
                self.assertEqual(r.status, status)
                self.assertEqual(r.out, out)
                self.assertEqual(r.err, err)
                self.assertNotIn(b"\r", r.out + r.err)

    def test_usage_is_719_bytes(self):
        self.assertEqual(len(USAGE), 719)

    def test_no_arguments_prints_usage_and_exits_2(self):
        self.check([], 2, out=USAGE + b"\n")

    def test_help_first_exits_0(self):
        self.check(["--help", "detect"], 0, out=USAGE + b"\n")
        self.check(["-h"], 0, out=USAGE + b"\n")

    def test_unknown_command(self):
        self.check(["frobnicate"], 2, err=b"commande inconnue : frobnicate\n\n" + USAGE + b"\n")
        self.check(["-H"], 2, err=b"commande inconnue : -H\n\n" + USAGE + b"\n")

    def test_option_errors(self):
        self.check(["detect", "--help"], 2,
                   err=b"erreur : valeur manquante pour --help\n\n" + USAGE + b"\n")
        self.check(["detect", "--foo", "bar"], 2,
                   err=b"erreur : option inconnue : --foo\n\n" + USAGE + b"\n")
        self.check(["frobnicate", "--out"], 2,
                   err=b"erreur : valeur manquante pour --out\n\n" + USAGE + b"\n")
        self.check(["detect", "--out=rapport.json"], 2,
                   err=b"erreur : valeur manquante pour --out=rapport.json\n\n" + USAGE + b"\n")

    def test_service_usage_errors(self):
        self.check(["service"], 2,
                   err="erreur : sous-action manquante pour service : install ou uninstall\n\n"
                   .encode() + USAGE + b"\n")
        self.check(["service", "--profiles", "x"], 2,
                   err=b"commande service inconnue (install ou uninstall)\n\n" + USAGE + b"\n")

    def test_keyboard_usage_errors(self):
        # Refused before anything is asked of the service or the script, so
        # the Linux build answers them the same way.
        for level in ("3", "-1", "01", "", "deux", "1.0", "é"):
            self.check(["keyboard", level], 2,
                       err=f"erreur : niveau inconnu pour keyboard : {level} (0, 1 ou 2)\n\n"
                       .encode() + USAGE + b"\n")
        self.check(["keyboard", "0", "--out", "f"], 2,
                   err=b"erreur : argument en trop pour keyboard : --out\n\n" + USAGE + b"\n")

    def test_non_ascii_argument_round_trips(self):
        # The wide command line on Windows and argv on Linux both reach the
        # program as UTF-8, and come back out byte for byte.
        self.check(["détecter-«ü»"], 2,
                   err="commande inconnue : détecter-«ü»\n\n".encode() + USAGE + b"\n")


if __name__ == "__main__":
    unittest.main()
