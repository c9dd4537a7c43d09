"""The release archives of scripts/package: what they hold, that the programs
run from the unpacked folder (nivalto.exe under Wine, the Linux program
natively) with the profiles shipped beside them, and that packaging the same
commit twice gives the same bytes, installer included (test_installer.py
installs it)."""
from __future__ import annotations

import gzip
import hashlib
import json
import os
import re
import shutil
import subprocess
import tarfile
import tempfile
import time
import unittest
import zipfile
from pathlib import Path

import harness
import identity_model as model
import test_detect
import test_windows_executable

PACKAGE = harness.REPO / "scripts" / "package"
NOTICES = {
    # notice file -> texts that show it covers what is linked
    "toml++": ("Upstream-Name: toml++", "Mark Gillard", "Permission is hereby granted"),
    "nlohmann-json": ("Upstream-Name: nlohmann-json", "Niels Lohmann",
                      "Permission is hereby granted"),
    "mingw-w64-runtime": ("Upstream-Name: mingw-w64", "License: ZPL-2.1", "mingw-w64-crt/",
                          "Files: mingw-w64-libraries/winpthreads/*"),
    "gcc-runtime": ("GCC RUNTIME LIBRARY EXCEPTION", "libstdc++", "/usr/share/common-licenses/GPL-3"),
    "glibc": ("GNU C Library is free software", "version 2.1 of the License",
              "/usr/share/common-licenses/LGPL-2.1"),
    "GPL-3": ("GNU GENERAL PUBLIC LICENSE", "Version 3, 29 June 2007"),
    "LGPL-2.1": ("GNU LESSER GENERAL PUBLIC LICENSE", "Version 2.1, February 1999"),
}
WINDOWS_NOTICES = ("toml++", "nlohmann-json", "mingw-w64-runtime", "gcc-runtime", "GPL-3")
LINUX_NOTICES = ("toml++", "nlohmann-json", "gcc-runtime", "glibc", "GPL-3", "LGPL-2.1")


def project_version() -> str:
    text = (harness.REPO / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(nivalto VERSION (\d+\.\d+\.\d+)", text).group(1)


def shipped_profiles() -> dict[str, bytes]:
    names = subprocess.run(["git", "ls-files", "-z", "--", "profiles"], cwd=harness.REPO,
                           capture_output=True, text=True, check=True).stdout.split("\0")
    return {n: (harness.REPO / n).read_bytes() for n in names if n}


def commit_time() -> int:
    return int(subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=harness.REPO,
                              capture_output=True, text=True, check=True).stdout)


def package(out: Path, *options: str, **env_changes) -> subprocess.CompletedProcess:
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    env.update(env_changes)
    return subprocess.run([str(PACKAGE), "--no-build", "--out", str(out), *options], env=env,
                          capture_output=True, text=True, timeout=300)


def expected_names(kind: str) -> set[str]:
    """What the archive of `kind` ("windows", "linux") holds."""
    notices = WINDOWS_NOTICES if kind == "windows" else LINUX_NOTICES
    own = ({"nivalto.exe", "README.txt", "LICENSE.txt", "SHA256SUMS"} if kind == "windows"
           else {"nivalto", "README.txt", "LICENSE", "SHA256SUMS"})
    return (own | set(shipped_profiles()) | {f"notices/{n}.txt" for n in notices}
            | {"notices/README.txt"})


def check_runs_from(case: test_detect.DetectCase, program: str, folder: Path, exe: Path,
                    prefix: str | None = None) -> None:
    """`detect` for the first real machine of each resolution kind, then
    `profiles`, run in `folder` by `exe` with the profiles found there
    ("profiles" in the current folder); under Wine in the prefix named."""
    machines = machines_by_resolution(folder / "profiles")
    case.assertIn("exact", machines)
    case.assertIn("family", machines)
    for kind_expected, machine in sorted(machines.items()):
        with case.subTest(resolution=kind_expected, machine=machine["source"]):
            fields = machine["fields"]
            if program == "wine":
                r = harness.run_wine(["detect"], cwd=folder, exe=exe, prefix=prefix,
                                     dmi=test_detect.wine_dmi(fields))
            else:
                r = harness.run_native(["detect"], cwd=folder, exe=exe,
                                       firmware=test_detect.native_table(fields))
            report = case.check_report(program, r, fields, profiles_dir=folder / "profiles")
            case.assertEqual(report["resolution"], kind_expected)
            case.assertEqual(report["profiles_loaded"],
                             len(model.profile_files(folder / "profiles")))
    if program == "wine":
        r = harness.run_wine(["profiles"], cwd=folder, exe=exe, prefix=prefix)
    else:
        r = harness.run_native(["profiles"], cwd=folder, exe=exe)
    check_listing(case, r, folder / "profiles")


def check_listing(case: unittest.TestCase, r: harness.Result, profiles: Path) -> None:
    """`profiles` succeeded and listed every profile of the folder `profiles`."""
    case.assertEqual((r.status, r.err), (0, b""), r.err_text)
    listing = json.loads(r.out)
    expected = [{"id": p["id"], "display_name": p["display_name"], "scope": p["scope"],
                 "capabilities": len(p.get("capabilities", []))}
                for p in model.load_profiles(profiles)]
    case.assertEqual(listing["profiles"], expected)


def msi_summary(path: Path) -> dict[str, str]:
    """The installer's summary information, as msiinfo prints it (times in UTC)."""
    text = subprocess.run(["msiinfo", "suminfo", str(path)], capture_output=True, text=True,
                          check=True, env={**os.environ, "TZ": "UTC"}).stdout
    return dict(line.split(": ", 1) for line in text.splitlines() if ": " in line)


def sha256(path: Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


def linked_system_files(build: Path, target: str) -> set[str]:
    """Every file under /usr that the linker really takes into `target`: the
    link command of the build, rerun into a scratch file with a trace."""
    commands = subprocess.run(["ninja", "-C", str(build), "-t", "commands", target],
                              capture_output=True, text=True, check=True).stdout.splitlines()
    link = commands[-1].removeprefix(": && ").removesuffix(" && :")
    scratch = Path(tempfile.mkdtemp(dir=harness.E2E_BUILD))
    try:
        link = link.replace(f" -o {target} ", f" -o {scratch / target} ")
        trace = subprocess.run(f"{link} -Wl,--trace", shell=True, cwd=build, capture_output=True,
                               text=True, check=True).stdout
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    files = {re.sub(r"\(.*\)$", "", line.strip()) for line in trace.splitlines()}
    return {os.path.realpath(f) for f in files if f.startswith("/usr/")}


def copyright_file_of(path: str) -> str:
    owner = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True,
                           check=True).stdout.split(": ", 1)[0].split(":")[0]
    return os.path.realpath(f"/usr/share/doc/{owner}/copyright")


def machines_by_resolution(profiles_dir: Path) -> dict[str, dict]:
    """The first real machine of each resolution kind against these profiles."""
    profiles = model.load_profiles(profiles_dir)
    chosen: dict[str, dict] = {}
    for machine in test_detect.machine_rows():
        kind, _ = model.expected_resolution(profiles, model.expected_identity(machine["fields"]))
        chosen.setdefault(kind, machine)
    return chosen


class ReleaseArchives(test_detect.DetectCase):
    @classmethod
    def setUpClass(cls):
        if not harness.WINDOWS_EXE.exists() or not harness.NATIVE.exists():
            raise unittest.SkipTest("build both presets first (scripts/build)")
        harness.E2E_BUILD.mkdir(parents=True, exist_ok=True)
        cls.work = Path(tempfile.mkdtemp(prefix="package-", dir=harness.E2E_BUILD))
        started = time.monotonic()
        done = package(cls.work / "dist")
        cls.seconds = time.monotonic() - started
        if done.returncode != 0:
            raise AssertionError(f"scripts/package failed:\n{done.stdout}{done.stderr}")
        cls.version = project_version()
        cls.top = {"windows": f"nivalto-{cls.version}-windows-x64",
                   "linux": f"nivalto-{cls.version}-linux-x64"}
        cls.zip_path = cls.work / "dist" / f"{cls.top['windows']}.zip"
        cls.tar_path = cls.work / "dist" / f"{cls.top['linux']}.tar.gz"
        cls.msi_path = cls.work / "dist" / f"nivalto-{cls.version}-x64.msi"

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        pass  # the content checks need no root; the runs ask for it themselves

    def unpacked(self, kind: str) -> Path:
        """A fresh folder outside the repository holding one archive, unpacked."""
        target = Path(tempfile.mkdtemp(prefix=f"unpacked-{kind}-"))
        self.addCleanup(shutil.rmtree, target, True)
        if kind == "windows":
            with zipfile.ZipFile(self.zip_path) as archive:
                archive.extractall(target)
        else:
            subprocess.run(["tar", "-xzf", str(self.tar_path), "-C", str(target)], check=True)
        return target / self.top[kind]

    # What the archives hold -------------------------------------------------

    def check_contents(self, kind: str, files: dict[str, bytes]):
        self.assertEqual(set(files), expected_names(kind))
        for name, data in shipped_profiles().items():
            self.assertEqual(files[name], data, name)
        licence = files["LICENSE.txt" if kind == "windows" else "LICENSE"]
        self.assertEqual(licence.replace(b"\r\n", b"\n"), (harness.REPO / "LICENSE").read_bytes())
        self.assertIn(b"MIT License", licence)
        readme = files["README.txt"].decode("utf-8")
        self.assertIn(f"Nivalto {self.version}", readme)
        for name in (n for n in files if n.startswith("notices/") and n != "notices/README.txt"):
            for phrase in NOTICES[name.removeprefix("notices/").removesuffix(".txt")]:
                self.assertTrue(phrase.encode() in files[name], f"{name} lacks {phrase!r}")
        sums = files["SHA256SUMS"].decode().splitlines()
        self.assertEqual(sums, [f"{hashlib.sha256(files[n]).hexdigest()}  {n}"
                                for n in sorted(set(files) - {"SHA256SUMS"})])
        if kind == "windows":
            self.assertIn("\\Program Files\\Nivalto", readme)
            self.assertIn(".\\nivalto.exe detect", readme)
            self.assertIn(b"\r\n", files["README.txt"])
            self.assertNotIn(b"\n", files["README.txt"].replace(b"\r\n", b""))

    def test_zip_contents_times_and_version(self):
        with zipfile.ZipFile(self.zip_path) as archive:
            infos = archive.infolist()
            files = {i.filename.removeprefix(self.top["windows"] + "/"): archive.read(i)
                     for i in infos}
        self.assertTrue(all(i.filename.startswith(self.top["windows"] + "/") for i in infos))
        self.assertEqual([i.filename for i in infos], sorted(i.filename for i in infos))
        self.check_contents("windows", files)
        self.assertEqual(files["nivalto.exe"], harness.WINDOWS_EXE.read_bytes())
        stamp = time.gmtime(commit_time())[:6]
        for info in infos:
            self.assertEqual(info.date_time, (*stamp[:5], stamp[5] // 2 * 2), info.filename)
            self.assertEqual(info.external_attr >> 16, 0o100644, info.filename)
            self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED, info.filename)
        # The version in the archive's name is the one Windows shows for the executable.
        (version,) = test_windows_executable.resources(files["nivalto.exe"])[
            test_windows_executable.RT_VERSION]
        texts = version.decode("utf-16-le", errors="replace")
        self.assertRegex(texts, f"ProductVersion\0+{re.escape(self.version)}\0")
        self.assertRegex(texts, f"FileVersion\0+{re.escape(self.version)}\0")

    def test_tarball_contents_times_and_owners(self):
        data = self.tar_path.read_bytes()
        # gzip header: no file name flag, no time.
        self.assertEqual(data[:3], b"\x1f\x8b\x08")
        self.assertEqual(data[3] & 0x08, 0)
        self.assertEqual(data[4:8], b"\0\0\0\0")
        with tarfile.open(self.tar_path) as archive:
            members = archive.getmembers()
            files = {m.name.removeprefix(self.top["linux"] + "/"): archive.extractfile(m).read()
                     for m in members if m.isfile()}
        self.assertEqual([m.name for m in members], sorted(m.name for m in members))
        self.check_contents("linux", files)
        for m in members:
            self.assertTrue(m.name == self.top["linux"] or m.name.startswith(self.top["linux"] + "/"))
            self.assertEqual((m.mtime, m.uid, m.gid, m.uname, m.gname),
                             (commit_time(), 0, 0, "root", "root"), m.name)
            expected_mode = 0o755 if m.isdir() or m.name.endswith("/nivalto") else 0o644
            self.assertEqual(m.mode, expected_mode, m.name)
        self.assertEqual({m.name for m in members if m.isdir()},
                         {self.top["linux"], self.top["linux"] + "/profiles",
                          self.top["linux"] + "/notices"})
        # The program is the Linux build less its debug information.
        program = files["nivalto"]
        self.assertEqual(program[:4], b"\x7fELF")
        self.assertLess(len(program), harness.NATIVE.stat().st_size)
        self.assertNotIn(b".debug_info", program)

    def test_every_linked_library_has_its_notice(self):
        for kind, build, target in (("windows", harness.WINDOWS_EXE.parent, "nivalto.exe"),
                                    ("linux", harness.NATIVE.parent, "nivalto")):
            with self.subTest(program=target):
                linked = linked_system_files(build, target)
                self.assertTrue(any("libstdc++" in f for f in linked), linked)
                if kind == "windows":
                    with zipfile.ZipFile(self.zip_path) as archive:
                        notices = [archive.read(n) for n in archive.namelist() if "/notices/" in n]
                else:
                    with tarfile.open(self.tar_path) as archive:
                        notices = [archive.extractfile(m).read() for m in archive.getmembers()
                                   if "/notices/" in m.name and m.isfile()]
                for copyright in sorted({copyright_file_of(f) for f in linked}):
                    self.assertTrue(any(f"The text below is {copyright},".encode() in n
                                        for n in notices), f"{target}: no notice from {copyright}")

    def test_dist_sums_name_both_archives_and_the_installer(self):
        sums = (self.work / "dist" / "SHA256SUMS").read_text().splitlines()
        self.assertEqual(sums, [f"{sha256(self.tar_path)}  {self.tar_path.name}",
                                f"{sha256(self.zip_path)}  {self.zip_path.name}",
                                f"{sha256(self.msi_path)}  {self.msi_path.name}"])
        self.assertEqual(sorted(p.name for p in (self.work / "dist").iterdir()),
                         sorted(["SHA256SUMS", self.tar_path.name, self.zip_path.name,
                                 self.msi_path.name]))

    # Packaging twice ------------------------------------------------------

    def test_same_bytes_twice(self):
        # Another time zone, another umask and another working folder change nothing.
        again = self.work / "again"
        old_umask = os.umask(0o077)
        try:
            done = package(again, TZ="Pacific/Kiritimati")
        finally:
            os.umask(old_umask)
        self.assertEqual(done.returncode, 0, done.stderr)
        for first in (self.zip_path, self.tar_path, self.msi_path):
            second = again / first.name
            self.assertEqual(sha256(second), sha256(first), first.name)
        print(f"\n  package: {self.seconds:.1f} s; " + "; ".join(
            f"{p.name} {p.stat().st_size} bytes sha256 {sha256(p)}"
            for p in (self.zip_path, self.tar_path, self.msi_path)))

    def test_source_date_epoch_sets_the_entry_times(self):
        other = self.work / "epoch"
        done = package(other, SOURCE_DATE_EPOCH="1700000000")
        self.assertEqual(done.returncode, 0, done.stderr)
        with zipfile.ZipFile(other / self.zip_path.name) as archive:
            self.assertEqual({i.date_time for i in archive.infolist()},
                             {(2023, 11, 14, 22, 13, 20)})
        with tarfile.open(other / self.tar_path.name) as archive:
            self.assertEqual({m.mtime for m in archive.getmembers()}, {1700000000})
        # wixl's own clock, frozen; the commit's time in the installer built first.
        for msi, stamp in ((other / self.msi_path.name, "Tue Nov 14 22:13:20 2023"),
                           (self.msi_path, time.strftime("%a %b %e %H:%M:%S %Y",
                                                         time.gmtime(commit_time())))):
            summary = msi_summary(msi)
            self.assertEqual((summary["Created"], summary["Last saved"]), (stamp, stamp), msi)
        # Another time is another package, with another package code.
        self.assertNotEqual(msi_summary(other / self.msi_path.name)["Revision number (UUID)"],
                            msi_summary(self.msi_path)["Revision number (UUID)"])

    # Running from the unpacked folders ------------------------------------

    def run_unpacked(self, kind: str):
        harness.require_root(self)
        folder = self.unpacked(kind)
        program = "wine" if kind == "windows" else "native"
        check_runs_from(self, program, folder,
                        folder / ("nivalto.exe" if kind == "windows" else "nivalto"))

    def test_zip_runs_from_its_folder_under_wine(self):
        self.run_unpacked("windows")

    def test_tarball_runs_from_its_folder(self):
        self.run_unpacked("linux")


if __name__ == "__main__":
    unittest.main()
