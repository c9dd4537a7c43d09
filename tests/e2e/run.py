#!/usr/bin/env python3
"""Runs every tests/e2e/test_*.py and ends with one 'N passed, N failed' line.

    run.py [PATTERN] [--except PATTERN]

PATTERN chooses the files (default test_*.py); --except leaves out the files
that match its pattern, so that a suite can run beside the rest."""
import fnmatch
import sys
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402


class CountingResult(unittest.TextTestResult):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.passed = 0

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1

    def addSubTest(self, test, subtest, outcome):
        super().addSubTest(test, subtest, outcome)


def main() -> int:
    args = sys.argv[1:]
    excluded = None
    if "--except" in args:
        at = args.index("--except")
        if at + 1 >= len(args):
            print("run.py: --except needs a pattern", file=sys.stderr)
            return 64
        excluded = args[at + 1]
        del args[at:at + 2]
    pattern = args[0] if args else "test_*.py"
    suite = unittest.TestSuite()
    for path in sorted(HERE.glob(pattern)):
        if excluded is None or not fnmatch.fnmatch(path.name, excluded):
            suite.addTests(unittest.defaultTestLoader.loadTestsFromName(path.stem))
    runner = unittest.TextTestRunner(verbosity=2, resultclass=CountingResult, stream=sys.stdout)
    started = time.time()
    try:
        result = runner.run(suite)
    finally:
        harness.stop_wine()
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    skipped = len(result.skipped)
    for run in harness.wine_start_failures:
        print(f"e2e: Wine could not start a process (shared user data), run again: {run}")
    print(f"e2e time: {time.time() - started:.1f} s")
    print(f"e2e: {result.passed} passed, {failed} failed, {skipped} skipped")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
