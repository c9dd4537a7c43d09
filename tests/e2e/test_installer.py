"""The Windows installer (scripts/package --msi-only) under Wine, in a prefix
made afresh: its service rows against what `nivalto service install`
registers, an install of an older version that takes over a registration
made by hand, the upgrade to this version, the service answering on its
pipe, detect and profiles from the install folder, and an uninstall that
leaves nothing. The methods run in name order, each building on the state
the previous one left.

Wine's installer registers the service with the path of nivalto.exe
unquoted (it joins the path and the arguments with a blank), where Windows
puts the path between quotes; Wine's process start then finds the file
anyway and hands it a quoted command line. So the command line read back
here is Wine's; what Windows registers is proved from the installer's
tables, by the rule Windows documents.
"""
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

import harness
import test_detect
import test_package
import test_service
import test_windows_executable

PREFIX = os.environ.get("NIVALTO_E2E_PREFIX", "wineprefix") + "-installer"
# Fixed forever: changing it would make every later version install beside
# an older one instead of replacing it.
UPGRADE_CODE = "{4577F790-4CCC-4372-9C37-DB030F6FA073}"
OLDER = "0.0.1"
SERVICE = test_service.SERVICE
INSTALL_FOLDER = r"C:\Program Files\Nivalto"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
ENVIRONMENT_KEY = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"

# ServiceControl events (msidbServiceControlEvent*): start at install, stop
# at install and uninstall, delete at install and uninstall.
CONTROL_EVENTS = 0x1 | 0x2 | 0x8 | 0x20 | 0x80
VITAL = 0x8000  # msidbServiceInstallErrorControlVital, stripped before registering
COMPONENT_64BIT = 256
LOGS = harness.E2E_BUILD / "installer-logs"


def resource_text(key: str) -> str:
    """One text of nivalto.exe's version resource."""
    (version,) = test_windows_executable.resources(harness.WINDOWS_EXE.read_bytes())[
        test_windows_executable.RT_VERSION]
    texts = version.decode("utf-16-le", errors="replace")
    return re.search(f"{key}\0+([^\0]+)\0", texts).group(1)


def msi_table(msi: Path, table: str) -> list[dict[str, str]]:
    """The rows of one table, as msiinfo exports it (names, types, keys, rows)."""
    text = subprocess.run(["msiinfo", "export", str(msi), table], capture_output=True,
                          check=True).stdout.decode("utf-8")
    lines = text.split("\r\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


@unittest.skipUnless(harness.WINDOWS_EXE.exists(), "build/windows/nivalto.exe is not built")
@unittest.skipUnless(Path(harness.WINE).exists(), "Wine is not installed")
@unittest.skipUnless(shutil.which("wixl") and shutil.which("faketime"), "run scripts/setup")
class WindowsInstaller(test_detect.DetectCase):
    @classmethod
    def setUpClass(cls):
        harness.E2E_BUILD.mkdir(parents=True, exist_ok=True)
        cls.work = Path(tempfile.mkdtemp(prefix="installer-", dir=harness.E2E_BUILD))
        shutil.rmtree(LOGS, ignore_errors=True)
        LOGS.mkdir()
        cls.version = test_package.project_version()
        cls.msi = {}
        for version, options in ((cls.version, ()), (OLDER, ("--msi-version", OLDER))):
            done = test_package.package(cls.work, "--msi-only", *options)
            if done.returncode != 0:
                raise AssertionError(f"scripts/package failed:\n{done.stdout}{done.stderr}")
            cls.msi[version] = cls.work / f"nivalto-{version}-x64.msi"
        cls.product = {v: msi_table(m, "Property") for v, m in cls.msi.items()}
        cls.product = {v: {r["Property"]: r["Value"] for r in rows}["ProductCode"]
                       for v, rows in cls.product.items()}

        started = time.monotonic()
        cls.env = harness.wine_env(PREFIX, fresh=True)
        cls.prefix_seconds = time.monotonic() - started
        cls.drive_c = Path(cls.env["WINEPREFIX"]) / "drive_c"
        cls.install = cls.drive_c / "Program Files" / "Nivalto"
        cls.probe_exe = harness.build_windows_tool(test_service.TOOLS / "service_probe.cpp",
                                                   "service_probe.exe")
        cls.client = harness.build_windows_tool(test_service.TOOLS / "pipe_client.cpp",
                                                "pipe_client.exe")
        cls.stand_in = harness.build_windows_tool(test_service.TOOLS / "fake_powershell.cpp",
                                                  "fake_powershell.exe")
        cls.cached_packages = set((cls.drive_c / "windows" / "Installer").glob("*"))
        cls.timings = {}

    @classmethod
    def tearDownClass(cls):
        print("\n  installer: " + ", ".join(f"{k} {v:.1f} s" for k, v in
                                          {"fresh prefix": cls.prefix_seconds,
                                           **cls.timings}.items()))
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        pass  # only the detect runs need root, and ask for it themselves

    # -- helpers -----------------------------------------------------------

    def wine(self, exe, *args, timeout: float = 60) -> harness.Result:
        return harness.run_wine(list(args), exe=exe, prefix=PREFIX, timeout=timeout)

    def msiexec(self, action: str, version: str) -> harness.Result:
        """One msiexec run; its log, and Wine's messages about the services,
        stay in build/e2e/installer-logs for a failure report."""
        run = len(self.timings) + 1
        log = LOGS / f"{run}-msiexec-{action.strip('/')}-{version}.log"
        command = ["msiexec", action, harness.windows_path(self.msi[version]), "/qn", "/l*v",
                   harness.windows_path(log)]
        started = time.monotonic()
        # A run takes seconds; the limit is wide because a run handles 367
        # files, one component each, through the prefix's wineserver, which
        # a loaded machine slows down (the upgrade: 3 s alone, 13 s beside
        # four busy processes).
        try:
            r = harness.run_wine(command[1:], exe=command[0], prefix=PREFIX, timeout=300,
                                 extra_env={"WINEDEBUG": "err+all,+service"})
        except subprocess.TimeoutExpired as stuck:
            r = harness.Result(-1, stuck.stdout or b"", stuck.stderr or b"")
        self.timings[f"msiexec {action} {version} (run {run})"] = time.monotonic() - started
        log.with_suffix(".wine").write_bytes(r.err)
        r.trace = (f"msiexec status {r.status} after {time.monotonic() - started:.1f} s; "
                   f"service: {self.probe().out_text.strip()}\nend of {log}:\n"
                   f"{harness.tail(log, 40)}\nWine's last messages:\n"
                   f"{harness.tail(log.with_suffix('.wine'), 40)}")
        return r

    def probe(self, *args) -> harness.Result:
        return self.wine(self.probe_exe, *args)

    def wait_for(self, condition, timeout: float) -> dict:
        return harness.wait_for_service(self.probe_exe, condition, timeout, prefix=PREFIX)

    def config(self) -> dict[str, str]:
        r = self.probe("config")
        self.assertEqual(r.status, 0, r.out_text)
        return dict(line.split("=", 1) for line in r.out_text.splitlines())

    def products(self) -> list[str]:
        return self.probe("products", UPGRADE_CODE).out_text.splitlines()

    def uninstall_entry(self, version: str) -> harness.Result:
        return self.wine("reg", "query", rf"{UNINSTALL_KEY}\{self.product[version]}", "/v",
                         "DisplayVersion")

    def machine_path(self) -> tuple[str, str]:
        """The machine PATH as the registry holds it: its type and its text."""
        r = self.wine("reg", "query", ENVIRONMENT_KEY, "/v", "PATH")
        self.assertEqual(r.status, 0, r.err_text)
        (line,) = [l for l in r.out_text.splitlines() if l.strip().upper().startswith("PATH")]
        _, kind, text = line.strip().split(None, 2)
        return kind, text

    def check_machine_path(self, installed: bool, exact: bool = False):
        """What PATH held before the first install, and the install folder once
        at its end while Nivalto is installed. Wine's uninstall (the older
        version's, in an upgrade) takes the folder out but leaves the ";" that
        the install put before it: an empty entry, which the program search
        passes over. So the entries are compared, and the whole text where
        nothing was uninstalled yet (`exact`)."""
        kind, before = self.path_before
        self.assertNotIn(INSTALL_FOLDER.lower(), before.lower())
        now_kind, now = self.machine_path()
        if exact:
            self.assertEqual((now_kind, now), (kind, f"{before};{INSTALL_FOLDER}"))
        expected = [e for e in before.split(";") if e] + ([INSTALL_FOLDER] if installed else [])
        self.assertEqual((now_kind, [e for e in now.split(";") if e]), (kind, expected))

    def installed_files(self) -> dict[str, bytes]:
        return {p.relative_to(self.install).as_posix(): p.read_bytes()
                for p in self.install.rglob("*") if p.is_file()}

    def check_install(self, version: str):
        """One product, of `version`, with its files and its service running."""
        self.assertEqual(self.products(), [f"product={self.product[version]} version={version}"])
        entry = self.uninstall_entry(version)
        self.assertEqual(entry.status, 0, entry.err_text)
        self.assertIn(version, entry.out_text)
        files = self.installed_files()
        self.assertEqual(set(files), test_package.expected_names("windows") - {"SHA256SUMS"})
        self.assertEqual(files["nivalto.exe"], harness.WINDOWS_EXE.read_bytes())
        for name, data in test_package.shipped_profiles().items():
            self.assertEqual(files[name], data, name)
        self.assertTrue(files["README.txt"].startswith(f"Nivalto {version} for Windows".encode()))
        self.check_registration(self.config())
        p = self.wait_for(lambda p: p["state"] == test_service.RUNNING, timeout=10)
        self.assertEqual((p["state"], p["processes"], p["managers"]),
                         (test_service.RUNNING, 1, 1))

    def check_registration(self, config: dict[str, str]):
        """The service as the installer registered it, read back from the
        service manager, against what `service install` registered."""
        for key, expected in self.reference.items():
            if key == "binary":
                # Wine's installer: the key file's path and the arguments, unquoted.
                expected = f"{INSTALL_FOLDER}\\nivalto.exe --service"
            self.assertEqual(config[key], expected, key)

    # -- the installer's tables --------------------------------------------

    def test_1_reference_is_what_service_install_registers(self):
        # nivalto.exe placed by hand where the installer puts it, registered
        # by the program itself: the registration the installer must give.
        self.install.mkdir(parents=True)
        shutil.copy(harness.WINDOWS_EXE, self.install / "nivalto.exe")
        type(self).path_before = self.machine_path()
        exe = f"{INSTALL_FOLDER}\\nivalto.exe"
        r = self.wine(exe, "service", "install")
        self.assertEqual((r.status, r.err), (0, b""), r.err_text)
        type(self).reference = self.config()
        self.assertEqual(self.reference["binary"], f'"{exe}" --service')
        self.assertEqual(self.reference["account"], "LocalSystem")
        r = self.wine(exe, "service", "uninstall")
        self.assertEqual(r.out_text, f"service {SERVICE} désinstallé\n")
        shutil.rmtree(self.install)
        # A registration made by hand from another folder, left in place:
        # the installer must take the name over.
        hand = self.drive_c / "hand app"
        hand.mkdir()
        shutil.copy(harness.WINDOWS_EXE, hand / "nivalto.exe")
        r = self.wine(r"C:\hand app\nivalto.exe", "service", "install")
        self.assertEqual((r.status, r.err), (0, b""), r.err_text)
        self.assertEqual(self.config()["binary"], r'"C:\hand app\nivalto.exe" --service')

    def test_2_service_rows_give_what_service_install_registers(self):
        ref = self.reference
        for version, msi in self.msi.items():
            with self.subTest(msi=msi.name):
                (service,) = msi_table(msi, "ServiceInstall")
                (control,) = msi_table(msi, "ServiceControl")
                components = {r["Component"]: r for r in msi_table(msi, "Component")}
                files = {r["File"]: r for r in msi_table(msi, "File")}
                folders = {r["Directory"]: r for r in msi_table(msi, "Directory")}
                properties = {r["Property"]: r["Value"] for r in msi_table(msi, "Property")}
                component = components[service["Component_"]]
                key_file = files[component["KeyPath"]]
                folder = folders[component["Directory_"]]
                # Windows registers the key file's full path between quotes,
                # a blank, then the Arguments column.
                command_line = (f'"{INSTALL_FOLDER}\\{key_file["FileName"]}" '
                                f'{service["Arguments"]}')
                summary = test_package.msi_summary(msi)
                sequence = {r["Action"]: int(r["Sequence"])
                            for r in msi_table(msi, "InstallExecuteSequence")}
                cases = [
                    ("service name", service["Name"], SERVICE),
                    ("display name", service["DisplayName"], ref["display"]),
                    ("own process", service["ServiceType"], ref["type"]),
                    ("automatic start", service["StartType"], ref["start"]),
                    ("error control", str(int(service["ErrorControl"]) & ~VITAL), ref["error"]),
                    ("a failed registration fails the install",
                     int(service["ErrorControl"]) & VITAL, VITAL),
                    ("LocalSystem: no account, no password",
                     (service["StartName"], service["Password"], ref["account"]),
                     ("", "", "LocalSystem")),
                    ("no group, dependencies, description",
                     (service["LoadOrderGroup"], service["Dependencies"], service["Description"]),
                     (ref["group"], ref["dependencies"], ref["description"])),
                    ("command line", command_line, ref["binary"]),
                    ("install folder", (folder["DefaultDir"], folder["Directory_Parent"]),
                     ("Nivalto", "ProgramFiles64Folder")),
                    ("started, stopped and removed",
                     (control["Name"], int(control["Event"]), control["Wait"],
                      control["Component_"]),
                     (SERVICE, CONTROL_EVENTS, "1", service["Component_"])),
                    ("64-bit components", {r["Attributes"] for r in components.values()},
                     {str(COMPONENT_64BIT)}),
                    ("x64 package, French", summary["Template"], "x64;1036"),
                    ("strings in Windows-1252",
                     subprocess.run(["msiinfo", "export", str(msi), "_ForceCodepage"],
                                    capture_output=True, check=True).stdout.split(b"\r\n")[2],
                     b"1252\t_ForceCodepage"),
                    ("per machine", properties["ALLUSERS"], "1"),
                    ("named as the executable's version resource",
                     (properties["ProductName"], properties["Manufacturer"]),
                     (resource_text("ProductName"), resource_text("CompanyName"))),
                    ("the executable's icon in Installed apps",
                     subprocess.run(["msiinfo", "extract", str(msi),
                                     "Icon." + properties["ARPPRODUCTICON"]],
                                    capture_output=True, check=True).stdout,
                     (harness.WINDOWS_EXE.parent / "cli" / "nivalto.ico").read_bytes()),
                    ("version", properties["ProductVersion"], version),
                    ("upgrade code", properties["UpgradeCode"], UPGRADE_CODE),
                    ("the install folder appended to the machine PATH, taken back at "
                     "uninstall", msi_table(msi, "Environment"),
                     [{"Environment": "MachinePath", "Name": "*=-PATH",
                       "Value": "[~];[ProgramFiles64Folder]Nivalto",
                       "Component_": service["Component_"]}]),
                    ("PATH written once the files are in, taken back before they go",
                     sequence["RemoveFiles"] > sequence["RemoveEnvironmentStrings"]
                     > sequence["InstallInitialize"] and sequence["InstallFiles"]
                     < sequence["WriteEnvironmentStrings"] < sequence["InstallFinalize"], True),
                    ("older versions removed first",
                     sequence["InstallValidate"] < sequence["RemoveExistingProducts"]
                     < sequence["InstallInitialize"], True),
                ]
                for what, actual, expected in cases:
                    self.assertEqual(actual, expected, what)
        self.assertNotEqual(self.product[self.version], self.product[OLDER])
        self.assertNotEqual(*(test_package.msi_summary(m)["Revision number (UUID)"]
                              for m in self.msi.values()))

    # -- install, upgrade, uninstall -----------------------------------------

    def test_3_older_version_installs_and_takes_over_the_name(self):
        r = self.msiexec("/i", OLDER)
        self.assertEqual(r.status, 0, r.trace)
        self.check_install(OLDER)
        self.check_machine_path(installed=True, exact=True)

    def test_4_upgrade_leaves_one_install_of_this_version(self):
        r = self.msiexec("/i", self.version)
        self.assertEqual(r.status, 0, r.trace)
        self.check_install(self.version)
        self.assertNotEqual(self.uninstall_entry(OLDER).status, 0)
        # The older one no longer installs over the newer.
        r = self.msiexec("/i", OLDER)
        self.assertNotEqual(r.status, 0, r.trace)
        self.check_install(self.version)
        self.check_machine_path(installed=True)

    def test_5_service_answers_on_its_pipe(self):
        powershell = self.drive_c / "windows" / "system32" / "WindowsPowerShell" / "v1.0"
        powershell.mkdir(parents=True, exist_ok=True)
        shutil.copy(self.stand_in, powershell / "powershell.exe")
        (powershell / "scenario.txt").write_text(
            f"exit=0\nsleep_ms=0\nstdout={test_service.STATE_LEVEL}\n", encoding="utf-8")
        request = self.work / "request.bin"
        request.write_bytes(b'{"op":"keyboard_write","level":1}\n')
        r = harness.run_traced_tool(self.client, ["send", harness.windows_path(request)],
                                    prefix=PREFIX)
        self.assertEqual((r.status, r.out), (0, test_service.success(1)), r.trace)
        calls = (powershell / "calls.log").read_text(encoding="utf-8").splitlines()
        self.assertEqual(len(calls), 1, calls)
        self.assertTrue(calls[0].startswith("mode=write level=1 "), calls)
        self.assertIn(rf"{INSTALL_FOLDER}\framework script=present".lower(), calls[0].lower())

    def test_5_detect_and_profiles_from_the_install_folder(self):
        harness.require_root(self)
        test_package.check_runs_from(self, "wine", self.install, self.install / "nivalto.exe",
                                     prefix=PREFIX)

    def test_5_nivalto_by_name_from_any_folder(self):
        # As typed in a new console: `nivalto`, found through the machine PATH,
        # run in a folder without profiles, lists those beside the program.
        elsewhere = self.work / "elsewhere"
        elsewhere.mkdir(exist_ok=True)
        r = harness.run_wine(["profiles"], exe="nivalto", cwd=elsewhere, prefix=PREFIX)
        test_package.check_listing(self, r, self.install / "profiles")

    def test_6_uninstall_leaves_nothing(self):
        # Wine's installer asks the service to stop and goes on at once, and
        # Wine refuses to delete a program that still runs: nivalto.exe
        # would stay whenever its process outlives the stop request by the
        # few milliseconds before the files are removed. Windows' installer
        # waits for the service to stop; here the manager is asked first.
        stop = self.wine("net", "stop", SERVICE)
        self.assertEqual(stop.status, 0, stop.out + stop.err)
        p = self.wait_for(lambda p: p["processes"] == 0, timeout=20)
        self.assertEqual((p["state"], p["processes"]), (test_service.STOPPED, 0))
        r = self.msiexec("/x", self.version)
        self.assertEqual(r.status, 0, r.trace)
        p = self.wait_for(lambda p: p["state"] == 0 and p["processes"] == 0, timeout=20)
        self.assertEqual((p["state"], p["processes"]), (0, 0))
        self.assertEqual(self.probe("config").out_text.splitlines(), ["missing"])
        self.assertFalse(self.install.exists(), list(self.install.rglob("*"))[:5])
        self.assertEqual(self.products(), [])
        self.assertNotEqual(self.uninstall_entry(self.version).status, 0)
        self.assertEqual(set((self.drive_c / "windows" / "Installer").glob("*")),
                         self.cached_packages)
        self.check_machine_path(installed=False)


if __name__ == "__main__":
    unittest.main()
