"""scripts/fuzz over stand-in targets in a tree of its own: the targets run
side by side, their lines come out in the targets' order, one failing target
fails the run without cutting the others short, and what a target writes goes
into the build folder, never into the seeds of the tree."""
from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import harness

# name -> (exit status, line printed); each stand-in also writes a file into
# its first folder, as libFuzzer does with a new input.
TARGETS = {
    "fuzz_alpha": (0, "stat::number_of_executed_units: 11"),
    "fuzz_beta": (1, "==1==ERROR: AddressSanitizer: heap-buffer-overflow"),
    "fuzz_gamma": (0, "stat::number_of_executed_units: 33"),
}


class FuzzScript(unittest.TestCase):
    def setUp(self):
        self.root = Path(tempfile.mkdtemp(prefix="nivalto-fuzz-script-"))
        self.addCleanup(shutil.rmtree, self.root, True)
        (self.root / "scripts").mkdir()
        shutil.copy2(harness.REPO / "scripts" / "fuzz", self.root / "scripts" / "fuzz")
        targets = self.root / "build" / "asan" / "fuzz"
        targets.mkdir(parents=True)
        for name, (status, line) in TARGETS.items():
            (self.root / "fuzz" / "corpus" / name.removeprefix("fuzz_")).mkdir(parents=True)
            target = targets / name
            # Four options, then the work folder and the seeds.
            target.write_text(f'#!/bin/sh\necho "{line}"\necho found > "$5/new-input"\nexit {status}\n')
            target.chmod(0o755)

    def run_fuzz(self):
        return subprocess.run([str(self.root / "scripts" / "fuzz"), "1"], capture_output=True, text=True,
                              env=dict(os.environ, NIVALTO_PREBUILT="1"), timeout=60)

    def test_every_target_runs_and_one_failure_fails_the_run(self):
        result = self.run_fuzz()
        self.assertEqual(result.returncode, 1, result.stderr)
        expected = []
        for name, (_, line) in TARGETS.items():
            expected += [f"fuzz: {name} for 1s", line]
        self.assertEqual(result.stdout.splitlines(), expected)
        self.assertEqual(result.stderr, "fuzz: fuzz_beta failed\n")
        for name in TARGETS:
            folder = name.removeprefix("fuzz_")
            self.assertTrue((self.root / "build" / "asan" / "corpus" / folder / "new-input").exists(), name)
            self.assertEqual(list((self.root / "fuzz" / "corpus" / folder).iterdir()), [], name)

    def test_passing_targets_pass(self):
        os.remove(self.root / "build" / "asan" / "fuzz" / "fuzz_beta")
        result = self.run_fuzz()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")


if __name__ == "__main__":
    unittest.main()
