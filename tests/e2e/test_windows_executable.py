"""What nivalto.exe carries besides its code: version, icon, imports, no manifest."""
import struct
import subprocess
import unittest

import harness

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
# hid.dll and setupapi.dll: the keyboard backlight's HID interfaces, found
# and driven by the program itself.
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll", "user32.dll",
               "ntdll.dll", "ws2_32.dll", "bcrypt.dll", "ole32.dll", "hid.dll", "setupapi.dll"}


def resources(exe: bytes) -> dict[int, list[bytes]]:
    """The resource data of a PE file, by type."""
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    sections = struct.unpack_from("<H", exe, pe + 6)[0]
    optional_size = struct.unpack_from("<H", exe, pe + 20)[0]
    table = pe + 24 + optional_size
    rsrc = None
    for i in range(sections):
        name, _, virtual, _, raw = struct.unpack_from("<8sIIII", exe, table + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            rsrc = (virtual, raw)
    assert rsrc, "no .rsrc section"
    virtual, raw = rsrc

    def directory(offset):
        named, ids = struct.unpack_from("<HH", exe, raw + offset + 12)
        for k in range(named + ids):
            key, value = struct.unpack_from("<II", exe, raw + offset + 16 + 8 * k)
            yield key, value

    found: dict[int, list[bytes]] = {}
    for kind, names in directory(0):
        for _, languages in directory(names & 0x7FFFFFFF):
            for _, leaf in directory(languages & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", exe, raw + leaf)
                start = raw + rva - virtual
                found.setdefault(kind, []).append(exe[start:start + size])
    return found


class WindowsExecutable(unittest.TestCase):
    def setUp(self):
        self.exe = harness.WINDOWS_EXE.read_bytes()
        self.resources = resources(self.exe)

    def test_version_resource(self):
        (version,) = self.resources[RT_VERSION]
        # VS_FIXEDFILEINFO: file and product version 0.1.0.0.
        fixed = version.index(struct.pack("<I", 0xFEEF04BD))
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", version, fixed + 8)
        self.assertEqual((file_ms, file_ls, product_ms, product_ls), (1, 0, 1, 0))
        for text in ("Nivalto : interface en ligne de commande", "Nivalto", "0.1.0"):
            self.assertIn(text.encode("utf-16-le"), version)

    def test_icon_holds_16_32_48_and_256_pixel_images(self):
        (group,) = self.resources[RT_GROUP_ICON]
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((reserved, kind), (0, 1))
        sizes = sorted(group[6 + 14 * i] or 256 for i in range(count))
        self.assertEqual(sizes, [16, 32, 48, 256])
        self.assertEqual(len(self.resources[RT_ICON]), 4)

    def test_no_manifest(self):
        self.assertNotIn(RT_MANIFEST, self.resources)

    def test_imports_only_system_libraries(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(harness.WINDOWS_EXE)],
                              capture_output=True, text=True, check=True).stdout
        dlls = {line.split(":", 1)[1].strip().lower()
                for line in dump.splitlines() if "DLL Name:" in line}
        self.assertTrue(dlls)
        self.assertLessEqual(dlls, SYSTEM_DLLS)


if __name__ == "__main__":
    unittest.main()
