#!/usr/bin/env python3
"""Writes thinkpad-t480s.bin, the sample table of the README, from the real
ThinkPad T480s table in ../shared/data/raw (u-root test data, BSD-3-Clause):

    python3 samples/make_sample.py [SHARED_DIR [OUT]]

It keeps the first BIOS, System, Baseboard and Chassis structures (types 0 to
3, all that the detection report reads) and the end of the table, with every
per-unit identifier taken out: the serial numbers and asset tags become
"no string" (index 0) and the UUID all zeros, a value SMBIOS defines as "not
set". Every other structure of the machine (processors, memory, batteries,
OEM data) is left out with whatever identifiers it holds. The table is
written behind a 64-bit entry point, as the original dump is."""
import struct
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import smbios  # noqa: E402

SOURCE = "data/raw/uroot_Lenovo-ThinkPad-T480.bin"
# Per structure type: the string-index bytes to blank, and the bytes to zero.
PER_UNIT = {1: ((0x07,), range(0x08, 0x18)), 2: ((0x07, 0x08), ()), 3: ((0x07, 0x08), ())}


def structures(table: bytes):
    pos = 0
    while pos + 4 <= len(table):
        kind, length = table[pos], table[pos + 1]
        end = table.index(b"\0\0", pos + length)
        strings = table[pos + length:end].split(b"\0") if end > pos + length else []
        yield kind, bytearray(table[pos:pos + length]), strings
        if kind == 127:
            return
        pos = end + 2


def without_identifiers(kind: int, formatted: bytearray, strings: list[bytes]) -> bytes:
    blanked, zeroed = PER_UNIT.get(kind, ((), ()))
    for offset in blanked:
        formatted[offset] = 0
    for offset in zeroed:
        formatted[offset] = 0
    # Renumber the strings still referred to, so that none of the others stays.
    kept: list[bytes] = []
    for offset in range(4, len(formatted)):
        if offset in zeroed or (kind, offset) not in STRING_FIELDS or formatted[offset] == 0:
            continue
        kept.append(strings[formatted[offset] - 1])
        formatted[offset] = len(kept)
    section = b"".join(s + b"\0" for s in kept) + b"\0" if kept else b"\0\0"
    return bytes(formatted) + section


# The string-index bytes of the kept structures (SMBIOS 3.0 layouts).
STRING_FIELDS = {(0, 0x04), (0, 0x05), (0, 0x08), (1, 0x04), (1, 0x05), (1, 0x06), (1, 0x07),
                 (1, 0x19), (1, 0x1A), (2, 0x04), (2, 0x05), (2, 0x06), (2, 0x07), (2, 0x08),
                 (2, 0x0A), (3, 0x04), (3, 0x06), (3, 0x07), (3, 0x08), (3, 0x15)}


def original_table(shared: Path) -> bytes:
    dump = (shared / SOURCE).read_bytes()
    length, address = struct.unpack_from("<IQ", dump, 12)
    return dump[address:address + length]


def sample(shared: Path) -> bytes:
    seen: set[int] = set()
    out = b""
    for kind, formatted, strings in structures(original_table(shared)):
        if kind in (0, 1, 2, 3, 127) and kind not in seen:
            seen.add(kind)
            out += without_identifiers(kind, formatted, strings)
    return smbios.as_entry_point_64(out)


def main() -> int:
    shared = Path(sys.argv[1]) if len(sys.argv) > 1 else REPO.parent / "shared"
    out = Path(sys.argv[2]) if len(sys.argv) > 2 else Path(__file__).parent / "thinkpad-t480s.bin"
    out.write_bytes(sample(shared))
    return 0


if __name__ == "__main__":
    sys.exit(main())
