"""What a report must say for given firmware strings and profiles.

Written from the rules of machine identity and profile resolution, apart from
the product's code, so the end-to-end suite checks the product against an
independent reading of the same rules.
"""
from __future__ import annotations

import tomllib
from pathlib import Path

WHITE_SPACE = set(chr(c) for c in [*range(0x09, 0x0E), 0x20, 0x85, 0xA0, 0x1680,
                                   *range(0x2000, 0x200B), 0x2028, 0x2029, 0x202F, 0x205F, 0x3000])
PLACEHOLDERS = {"n/a", "none", "undefined", "not specified", "system version", "not applicable",
                "default string", "system product name", "to be filled by o.e.m."}
VENDORS = ["framework", "asus", "asustek", "hp", "hewlett-packard", "dell", "acer", "msi",
           "micro-star", "razer", "samsung", "lg electronics", "gigabyte", "huawei", "microsoft",
           "toshiba", "fujitsu", "panasonic", "alienware"]

LABELS = {
    "manufacturer": "SMBIOS type 1 (System) : Manufacturer",
    "product": "SMBIOS type 1 (System) : Product Name",
    "version": "SMBIOS type 1 (System) : Version",
    "family": "SMBIOS type 1 (System) : Family",
    "board": "SMBIOS type 2 (Baseboard) : Product",
    "bios_vendor": "SMBIOS type 0 (BIOS) : Vendor",
    "bios_version": "SMBIOS type 0 (BIOS) : Version",
    "bios_release_date": "SMBIOS type 0 (BIOS) : Release Date",
}


def trim(text: str) -> str:
    return text.strip("".join(WHITE_SPACE))


def fold(text: str) -> str:
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in text)


def stored(text: str | None) -> str | None:
    """What the table walk keeps of a string: trimmed, absent when empty."""
    if text is None:
        return None
    t = trim(text)
    return t or None


def normalize(text: str | None) -> str | None:
    t = stored(text)
    if t is None or fold(t) in PLACEHOLDERS:
        return None
    return t


def machine_type(text: str) -> str | None:
    t = trim(text)
    head = t[:4]
    if len(head) < 4 or not all(c.isascii() and c.isalnum() for c in head) or not head[0].isdigit():
        return None
    return head.upper()


def expected_identity(fields: dict) -> dict:
    """fields: bios_vendor, bios_version, bios_release_date, manufacturer,
    product, version, family, board, each a raw string or None."""
    product = normalize(fields.get("product"))
    mtm = machine_type(product) if product else None
    candidates = [("version", normalize(fields.get("version"))),
                  ("family", normalize(fields.get("family"))),
                  ("product", product if mtm is None else None),
                  ("board", normalize(fields.get("board")))]
    display, display_label = None, None
    for key, value in candidates:
        if value is not None:
            display, display_label = value, LABELS[key]
            break
    manufacturer = normalize(fields.get("manufacturer"))
    bios = {k: stored(fields.get(k)) for k in ("bios_vendor", "bios_version", "bios_release_date")}
    return {
        "manufacturer": manufacturer,
        "mtm": mtm,
        "display_name": display,
        **bios,
        "sources": {
            "manufacturer": LABELS["manufacturer"] if manufacturer else None,
            "mtm": LABELS["product"] if mtm else None,
            "display_name": display_label,
            **{k: (LABELS[k] if bios[k] is not None else None) for k in bios},
        },
    }


class TableError(Exception):
    """A structure table that the walk rejects; the text is the product's message."""


# Per field: structure type, offset of the string-index byte, least formatted-area length.
SUMMARY_FIELDS = {
    "bios_vendor": (0, 0x04, 5), "bios_version": (0, 0x05, 6), "bios_release_date": (0, 0x08, 9),
    "manufacturer": (1, 0x04, 5), "product": (1, 0x05, 6), "version": (1, 0x06, 7),
    "family": (1, 0x1A, 27), "board": (2, 0x05, 6),
}


def summary_of_table(table: bytes) -> dict:
    """The texts the structure walk keeps from a raw table (first structure of types 0, 1
    and 2, up to the end-of-table structure), as raw strings for expected_identity."""
    fields: dict = {key: None for key in SUMMARY_FIELDS}
    seen = set()
    pos = 0
    while pos + 4 <= len(table):
        kind, length = table[pos], table[pos + 1]
        if length < 4 or pos + length > len(table):
            raise TableError(f"structure SMBIOS invalide à l'offset {pos}")
        start = pos + length
        if start + 1 >= len(table):
            raise TableError("section de chaînes SMBIOS non terminée")
        end = table.find(b"\x00\x00", start)
        if end < 0:
            raise TableError("section de chaînes SMBIOS non terminée")
        pieces = table[start:end].split(b"\x00") if end > start else []
        if kind == 127:
            break
        if kind in (0, 1, 2) and kind not in seen:
            seen.add(kind)
            for key, (owner, offset, least) in SUMMARY_FIELDS.items():
                if owner != kind or length < least:
                    continue
                index = table[pos + offset]
                if 0 < index <= len(pieces):
                    fields[key] = pieces[index - 1].decode("utf-8", errors="replace")
        pos = end + 2
    return fields


def structure_table(data: bytes) -> bytes:
    """The bare structure table of a stored firmware file: a `dmidecode --dump-bin` file
    (its entry point names where the table lies), what GetSystemFirmwareTable('RSMB')
    returns (an 8-byte header, then the table), or a bare table."""
    if data[:5] == b"_SM3_":
        length, address = int.from_bytes(data[12:16], "little"), int.from_bytes(data[16:24], "little")
        return data[address:address + length]
    if data[:4] == b"_SM_":
        length = int.from_bytes(data[0x16:0x18], "little")
        address = int.from_bytes(data[0x18:0x1C], "little")
        return data[address:address + length]
    if data[:1] == b"\x00" and int.from_bytes(data[4:8], "little") == len(data) - 8:
        return data[8:]
    return data


def profile_files(directory: Path) -> list[Path]:
    def has_toml_extension(name: str) -> bool:
        dot = name.rfind(".")
        return dot > 0 and name[dot + 1:] == "toml"
    names = sorted((p.name for p in directory.iterdir() if has_toml_extension(p.name)),
                   key=lambda n: n.encode("utf-8"))
    return [directory / n for n in names]


def load_profiles(directory: Path) -> list[dict]:
    profiles = []
    for path in profile_files(directory):
        with open(path, "rb") as f:
            profiles.append(tomllib.load(f))
    return profiles


def expected_resolution(profiles: list[dict], identity: dict) -> tuple[str, str | None]:
    mtm, display, manufacturer = identity["mtm"], identity["display_name"], identity["manufacturer"]
    if mtm:
        for p in profiles:
            if p["scope"] == "model":
                for m in p["matches"].get("mtm", []):
                    if len(m.encode()) == len(mtm.encode()) and fold(m) == fold(mtm):
                        return "exact", p["id"]
    if display:
        d = fold(display)
        for p in profiles:
            if p["scope"] == "family":
                for fragment in p["matches"].get("version_contains", []):
                    if fold(fragment) in d:
                        return "family", p["id"]
    if manufacturer and len(manufacturer.encode()) == 6 and fold(manufacturer) == "lenovo" \
            and display and "thinkpad" in fold(display):
        return "dynamic_probe", None
    if manufacturer and any(v in fold(manufacturer) for v in VENDORS):
        return "dynamic_probe", None
    return "unsupported", None
