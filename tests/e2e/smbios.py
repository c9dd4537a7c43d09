"""Builds raw SMBIOS structure tables for the end-to-end cases.

A table here is the bare structure list, the bytes that the Linux kernel
exposes as /sys/firmware/dmi/tables/DMI and that follow the 8-byte header of
the Windows 'RSMB' table.
"""
from __future__ import annotations

import struct


class _Strings:
    def __init__(self):
        self.items: list[bytes] = []

    def index(self, text: str | bytes | None) -> int:
        if text is None:
            return 0
        data = text.encode("utf-8") if isinstance(text, str) else text
        self.items.append(data)
        return len(self.items)

    def section(self) -> bytes:
        if not self.items:
            return b"\x00\x00"
        return b"".join(s + b"\x00" for s in self.items) + b"\x00"


def structure(kind: int, handle: int, body: bytes, strings: _Strings) -> bytes:
    """One structure: header (type, length, handle), formatted area, strings."""
    return struct.pack("<BBH", kind, 4 + len(body), handle) + body + strings.section()


def bios(vendor=None, version=None, date=None) -> bytes:
    s = _Strings()
    body = bytes([s.index(vendor), s.index(version)]) + b"\x00\xe0" + bytes([s.index(date)])
    body += b"\x00" + b"\x00" * 8 + b"\x00\x00" + b"\x01\x0f" + b"\xff\xff"
    return structure(0, 0x0000, body, s)


def system(manufacturer=None, product=None, version=None, serial=None, uuid=b"\x00" * 16,
           sku=None, family=None) -> bytes:
    s = _Strings()
    body = bytes([s.index(manufacturer), s.index(product), s.index(version), s.index(serial)])
    body += uuid + b"\x06" + bytes([s.index(sku), s.index(family)])
    return structure(1, 0x0001, body, s)


def baseboard(manufacturer=None, product=None, version=None, serial=None, asset_tag=None) -> bytes:
    s = _Strings()
    body = bytes([s.index(manufacturer), s.index(product), s.index(version), s.index(serial),
                  s.index(asset_tag)])
    body += b"\x09" + bytes([0]) + b"\x03\x00" + b"\x0a" + b"\x00"
    return structure(2, 0x0002, body, s)


def chassis(manufacturer=None, serial=None, asset_tag=None) -> bytes:
    s = _Strings()
    body = bytes([s.index(manufacturer), 0x0A, 0, s.index(serial), s.index(asset_tag)])
    body += b"\x03\x03\x03\x02" + b"\x00" * 4 + b"\x00\x00\x00\x00"
    return structure(3, 0x0003, body, s)


def end_of_table() -> bytes:
    return struct.pack("<BBH", 127, 4, 0xFEFF) + b"\x00\x00"


def table(*structures: bytes, end: bool = True) -> bytes:
    return b"".join(structures) + (end_of_table() if end else b"")


# The same table in the other forms a saved table takes. An entry point's
# bytes add up to 0 (mod 256); the table starts at 0x20, as in a dump.
def _checksummed(entry: bytearray, at: int, start: int, length: int) -> bytearray:
    entry[at] = 0
    entry[at] = -sum(entry[start:start + length]) & 0xFF
    return entry


def as_rsmb(table: bytes) -> bytes:
    """Behind the 8-byte header of GetSystemFirmwareTable('RSMB') (SMBIOS 3.0)."""
    return struct.pack("<BBBBI", 0, 3, 0, 0, len(table)) + table


def as_entry_point_32(table: bytes) -> bytes:
    """After a 2.8 entry point (`_SM_`, with its `_DMI_` part)."""
    entry = bytearray(struct.pack("<4sBBBBHB5s5sBHIHB", b"_SM_", 0, 0x1F, 2, 8, 0, 0, b"\0" * 5,
                                  b"_DMI_", 0, len(table), 0x20, 0, 0x28))
    _checksummed(entry, 0x15, 0x10, 0x0F)
    return bytes(_checksummed(entry, 0x04, 0, 0x1F)) + b"\0" + table


def as_entry_point_64(table: bytes) -> bytes:
    """After a 3.0 entry point (`_SM3_`), whose length field is the table's largest size."""
    entry = bytearray(struct.pack("<5sBBBBBBBIQ", b"_SM3_", 0, 0x18, 3, 0, 0, 1, 0, len(table), 0x20))
    return bytes(_checksummed(entry, 0x05, 0, 0x18)) + b"\0" * 8 + table
