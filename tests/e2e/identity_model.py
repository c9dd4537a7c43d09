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
