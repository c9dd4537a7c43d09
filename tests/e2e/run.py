#!/usr/bin/env python3
"""Runs every tests/e2e/test_*.py and ends with one 'N passed, N failed' line."""
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
    pattern = sys.argv[1] if len(sys.argv) > 1 else "test_*.py"
    suite = unittest.defaultTestLoader.discover(str(HERE), pattern=pattern, top_level_dir=str(HERE))
    runner = unittest.TextTestRunner(verbosity=2, resultclass=CountingResult, stream=sys.stdout)
    started = time.time()
    try:
        result = runner.run(suite)
    finally:
        harness.stop_wine()
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    skipped = len(result.skipped)
    print(f"e2e time: {time.time() - started:.1f} s")
    print(f"e2e: {result.passed} passed, {failed} failed, {skipped} skipped")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
