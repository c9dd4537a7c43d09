"""The Windows service under Wine: registration, start, the pipe protocol,
the single pipe instance, stop and removal; and the Linux build's refusal.

The service runs nivalto.exe from a directory whose name holds a blank. The
stand-in powershell.exe (tests/e2e/tools/fake_powershell.cpp) takes the place
of Wine's own placeholder in the prefix's system32\WindowsPowerShell\v1.0,
the one program the service runs; it answers as its scenario.txt says and
logs each call to calls.log. Copies of it planted beside nivalto.exe, in the
service's current folder (C:\windows under Wine) and in system32\wbem, a
PATH folder before PowerShell's own, which the program
search would find first, log to calls.log of their own folder and must never
run. The methods run in name order, each building on the state the previous
one left.

A kernel driver of the suite's own (tests/e2e/tools/thinkpad_pm_driver.c),
which Wine runs in winedevice.exe, stands in for the ThinkPad power-management
driver for one method: the service then answers from the device, through
real DeviceIoControl calls, and never runs the stand-in.

Wine ends its service manager, and the services with it, whenever no
ordinary program of the prefix is left running, and starts it afresh (with
every automatic service) for the next program. A held service_probe keeps
one manager alive for the whole class, as on a running Windows machine.
"""
import json
import os
import shutil
import subprocess
import time
import unittest
from pathlib import Path

import harness

TOOLS = Path(__file__).resolve().parent / "tools"
SERVICE = "NivaltoHal"

# The kernel driver service of tools/thinkpad_pm_driver.c.
PM_DRIVER = "NivaltoTestPmDrv"

# Service manager states, as tools/service_probe.cpp prints them.
STOPPED, RUNNING = 1, 4

# Where the service keeps the level it gives back.
PARAMETERS = rf"HKLM\SYSTEM\CurrentControlSet\Services\{SERVICE}\Parameters"
REG_DWORD = 4
# An access entry of an SDDL list that lets Everyone, Users, INTERACTIVE or
# Authenticated Users change a key, its values or its security.
WRITABLE_BY_USERS = r"\(A;[^;]*;[^;]*(KA|KW|GA|GW|WD|WO|0x)[^;]*;;;(WD|BU|IU|AU)\)"
READ = b'{"op":"keyboard_read"}\n'

STATE_LEVEL = ('{"available":true,"known":true,"level":{level},"max_level":2,'
               '"source":"hid","applied":true}')


def success(level: int, known: bool = True, max_level: int = 2, source: str = "hid") -> bytes:
    return ('{"applied":true,"available":true,"known":%s,"level":%d,"max_level":%d,'
            '"reason":"","source":"%s"}\n' % ("true" if known else "false", level, max_level,
                                               source)).encode("utf-8")


def error(reason: str) -> bytes:
    body = json.dumps(reason, ensure_ascii=False)
    return ('{"applied":false,"available":false,"known":false,"level":0,"max_level":0,'
            '"reason":%s,"source":""}\n' % body).encode("utf-8")


def state_document(level: int, source: str = "hid") -> bytes:
    """What `nivalto keyboard` prints for the stand-in's STATE_LEVEL, or for
    another source at the same highest level."""
    return ('{\n  "known": true,\n  "source": "%s",\n  "level": %d,\n  "max_level": 2\n}\n'
            % (source, level)).encode("utf-8")


# The clause a user's failed run ends with when no service serves the pipe.
NO_SERVICE = " ; le service NivaltoHal n'est pas démarré"

END_OF_INPUT = ("requête illisible : syntax error while parsing value - unexpected end of input; "
                "expected '[', '{', or a literal at line 1 column 1")


@unittest.skipUnless(harness.WINDOWS_EXE.exists(), "build/windows/nivalto.exe is not built")
@unittest.skipUnless(Path(harness.WINE).exists(), "Wine is not installed")
class WindowsService(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.client = harness.build_windows_tool(TOOLS / "pipe_client.cpp", "pipe_client.exe")
        cls.probe_exe = harness.build_windows_tool(TOOLS / "service_probe.cpp",
                                                   "service_probe.exe")
        stand_in = harness.build_windows_tool(TOOLS / "fake_powershell.cpp",
                                              "fake_powershell.exe")
        cls.pm_client = harness.build_windows_tool(TOOLS / "thinkpad_pm_client.cpp",
                                                   "thinkpad_pm_client.exe")
        cls.pm_driver = harness.build_windows_driver(TOOLS / "thinkpad_pm_driver.c",
                                                     "thinkpad_pm.sys")
        cls.app = harness.E2E_BUILD / "service app"
        shutil.rmtree(cls.app, ignore_errors=True)
        cls.app.mkdir(parents=True)
        shutil.copy(harness.WINDOWS_EXE, cls.app / "nivalto.exe")
        cls.exe = cls.app / "nivalto.exe"
        cls.request_number = 0
        cls._restart_session()
        system32 = Path(harness.wine_env()["WINEPREFIX"]) / "drive_c" / "windows" / "system32"
        cls.powershell_dir = system32 / "WindowsPowerShell" / "v1.0"
        cls.powershell_dir.mkdir(parents=True, exist_ok=True)
        placeholder = cls.powershell_dir / "powershell.exe"
        cls.placeholder = placeholder.read_bytes() if placeholder.exists() else None
        shutil.copy(stand_in, placeholder)
        (cls.powershell_dir / "calls.log").unlink(missing_ok=True)
        # Beside nivalto.exe, in the service's current folder, and in the
        # folder of the system PATH that comes before PowerShell's own.
        cls.path_decoy_dir = system32 / "wbem"
        cls.decoys = [cls.app / "powershell.exe", system32.parent / "powershell.exe",
                      cls.path_decoy_dir / "powershell.exe"]
        cls.path_decoy_dir.mkdir(parents=True, exist_ok=True)
        for decoy in cls.decoys:
            shutil.copy(stand_in, decoy)
            (decoy.parent / "calls.log").unlink(missing_ok=True)
        # The session's first program starts the service manager, which
        # starts the service, which starts the stand-in: all of them write
        # Wine's messages to this program's error stream, kept as the
        # service's log. NIVALTO_E2E_SESSION_WINEDEBUG chooses more channels.
        env = harness.wine_env()
        env["WINEDEBUG"] = os.environ.get("NIVALTO_E2E_SESSION_WINEDEBUG", "err+all")
        cls.session_log = harness.E2E_BUILD / "service-session.log"
        with open(cls.session_log, "wb") as log:
            cls.keeper = subprocess.Popen([harness.WINE, str(cls.probe_exe), "hold"], env=env,
                                          stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                          stderr=log)
        assert cls.keeper.stdout.readline().strip() == b"holding"
        managers = cls._wait_for(lambda p: p["managers"] == 1, timeout=30)["managers"]
        assert managers == 1, f"{managers} service managers run in the prefix"
        # A registration left by an interrupted run would change the first answers.
        cls._remove_service()

    @classmethod
    def tearDownClass(cls):
        try:
            cls._remove_service()
        finally:
            cls.keeper.stdin.close()
            cls.keeper.wait(timeout=30)
            for decoy in cls.decoys[1:]:
                decoy.unlink(missing_ok=True)
                (decoy.parent / "calls.log").unlink(missing_ok=True)
            if cls.placeholder is not None:
                (cls.powershell_dir / "powershell.exe").write_bytes(cls.placeholder)

    @classmethod
    def _restart_session(cls):
        """Starts the prefix's session afresh. An explicit `wineboot --init`
        on a prefix whose session is already up starts a second service
        manager beside the first; each program then talks to either of them
        and sees a different set of services. A session whose first program
        is an ordinary one has exactly one."""
        env = harness.wine_env()
        subprocess.run([harness.WINESERVER, "-k"], env=env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([harness.WINESERVER, "-w"], env=env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.Popen([harness.WINESERVER, "-p"], env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL).wait(timeout=30)

    @classmethod
    def _remove_service(cls):
        # The registration goes only once the process is gone: a service
        # deleted while it runs is merely marked for deletion, and would
        # take a new registration of the same name with it when it ends.
        harness.run_wine(["stop", SERVICE], exe="net", timeout=60)
        cls._wait_for(lambda p: p["processes"] == 0, timeout=20)
        harness.run_wine(["service", "uninstall"], exe=cls.exe, timeout=60)
        cls._wait_for(lambda p: p["state"] == 0, timeout=20)

    # -- helpers -----------------------------------------------------------

    @classmethod
    def probe(cls) -> dict:
        return harness.service_state(cls.probe_exe)

    @classmethod
    def _wait_for(cls, condition, timeout: float) -> dict:
        return harness.wait_for_service(cls.probe_exe, condition, timeout)

    def nivalto(self, *args) -> harness.Result:
        return harness.run_wine(list(args), exe=self.exe)

    def scenario(self, stdout: str | None = STATE_LEVEL, exit_code: int = 0, sleep_ms: int = 0):
        lines = [f"exit={exit_code}", f"sleep_ms={sleep_ms}"]
        if stdout is not None:
            lines.append(f"stdout={stdout}")
        (self.powershell_dir / "scenario.txt").write_text("\n".join(lines) + "\n",
                                                          encoding="utf-8")

    def calls_log(self) -> Path:
        return self.powershell_dir / "calls.log"

    def calls(self) -> list[str]:
        log = self.calls_log()
        return log.read_text(encoding="utf-8").splitlines() if log.exists() else []

    def request_file(self, request: bytes) -> str:
        type(self).request_number += 1
        path = self.app / f"request-{self.request_number}.bin"
        path.write_bytes(request)
        return harness.windows_path(path)

    def send(self, request: bytes, *options) -> harness.Result:
        return self.client_run(["send", self.request_file(request), *options])

    def client_run(self, args: list[str], timeout: float = 60,
                   counts_calls: bool = True) -> harness.Result:
        return self.served_run(lambda: harness.run_traced_tool(self.client, args, timeout=timeout),
                               f"pipe_client {' '.join(args)[:80]}", counts_calls)

    def served_run(self, run, what: str, counts_calls: bool = True) -> harness.Result:
        # The harness runs again a client that Wine could not start. A process
        # of the service's session that Wine could not start shows in the
        # session's log instead; when the stand-in logged no call meanwhile,
        # nothing of the exchange reached it, so the exchange is made again.
        # When it did log one, the answer stands as it came, unless the case
        # does not count calls (counts_calls=False: many requests, one of
        # which then got the error answer of a stand-in that never ran).
        for _ in range(3):
            seen, calls = self.session_log.stat().st_size, len(self.calls())
            r = run()
            if not (self.session_start_failed_since(seen) and
                    (not counts_calls or len(self.calls()) == calls)):
                return r
            harness.wine_start_failures.append(f"in the service's session, during {what}")
        return r

    def session_start_failed_since(self, seen: int) -> bool:
        with open(self.session_log, "rb") as log:
            log.seek(seen)
            return harness.WINE_START_FAILURE in log.read()

    def keyboard(self, *args: str) -> harness.Result:
        return self.served_run(lambda: self.nivalto("keyboard", *args),
                               f"nivalto keyboard {' '.join(args)}")

    def pm_run(self, *args: str) -> harness.Result:
        """Runs tools/thinkpad_pm_client.cpp, which sets up and reads the
        stand-in ThinkPad driver."""
        return harness.run_wine(list(args), exe=self.pm_client)

    def pm_words(self, *args: str) -> list[str]:
        """The numbers a successful run of the ThinkPad client printed."""
        r = self.pm_run(*args)
        self.assertEqual(r.status, 0, f"thinkpad_pm_client {' '.join(args)}: {r.err_text}")
        return r.out_text.split()

    def check_service_ran(self, new_calls: list[str], expected: list[str]):
        """The stand-in ran once per request, as the service: its script file
        carries the service's process id, never a client's."""
        service = self.probe()["pid"]
        self.assertNotEqual(service, 0)
        self.assertEqual([c.split(" framework=")[0] for c in new_calls], expected)
        for call in new_calls:
            self.assertTrue(call.endswith(f" file=nivalto-keyboard-{service}.ps1"),
                            f"not run by the service (process {service}): {call}")

    def start_client(self, *args) -> subprocess.Popen:
        return subprocess.Popen([harness.WINE, str(self.client), *args], env=harness.wine_env(),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def start_client_with_input(self, *args) -> subprocess.Popen:
        return subprocess.Popen([harness.WINE, str(self.client), *args], env=harness.wine_env(),
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)

    def report(self, request: bytes, expected: bytes | None, r: harness.Result) -> str:
        return "\n" + harness.exchange_report(request, expected, r, {
            "the service's session (Wine)": self.session_log,
            "the stand-in's calls": self.calls_log(),
        })

    def check_answer(self, request: bytes, answer: bytes):
        r = self.send(request)
        if (r.status, r.out) != (0, answer):
            self.fail(self.report(request, answer, r))

    # -- the life of the service -------------------------------------------

    def test_1_install_twice(self):
        first = self.nivalto("service", "install")
        self.assertEqual((first.status, first.err), (0, b""))
        self.assertEqual(first.out_text, f"service {SERVICE} installé et démarré au prochain reboot\n"
                                         f"démarrez-le avec : sc start {SERVICE}\n")
        again = self.nivalto("service", "install")
        self.assertEqual((again.status, again.err), (0, b""))
        self.assertEqual(again.out_text, f"le service {SERVICE} est déjà installé\n")
        # Installing does not start it.
        self.assertEqual(self.probe()["state"], STOPPED)

    def test_1_reinstall_from_a_folder_everyone_may_change_warns(self):
        # Wine shows a folder's Unix mode as its access list: "service app"
        # (0755) gives Everyone read only, so its install above said nothing;
        # a folder open to all (0777) gives Everyone write.
        folder = harness.E2E_BUILD / "open app"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        folder.chmod(0o777)
        shutil.copy(harness.WINDOWS_EXE, folder / "nivalto.exe")
        r = harness.run_wine(["service", "install"], exe=folder / "nivalto.exe")
        self.assertEqual((r.status, r.out_text), (0, f"le service {SERVICE} est déjà installé\n"))
        self.assertEqual(r.err_text,
                         f"attention : le dossier {harness.windows_path(folder)} peut être modifié "
                         "par des comptes non administrateurs, qui pourraient y faire exécuter "
                         "leurs programmes en tant que LocalSystem ; installez nivalto.exe dans un "
                         "dossier que seuls les administrateurs peuvent modifier, par exemple sous "
                         "C:\\Program Files\n")

    def parameters(self) -> dict[str, str] | None:
        """The service's Parameters key as service_probe prints it; None when
        there is no such key."""
        lines = harness.run_wine(["parameters"], exe=self.probe_exe).out_text.splitlines()
        if lines == ["missing"]:
            return None
        return dict(field.split("=", 1) for line in lines
                    for field in (line.split(" ") if line.startswith("type=") else [line]))

    def start_and_read(self) -> list[str]:
        """Starts the service and sends it a read at once, which waits for
        the give-back at start: the stand-in's calls from the start to the
        answer. A run of the stand-in that Wine could not start in the
        service's session is a start to make again."""
        self.scenario()
        for _ in range(3):
            seen, before = self.session_log.stat().st_size, len(self.calls())
            r = harness.run_wine(["start", SERVICE], exe="net")
            self.assertEqual(r.status, 0, r.out + r.err)
            self.check_answer(READ, success(0))
            new_calls = self.calls()[before:]
            if not self.session_start_failed_since(seen):
                return new_calls
            harness.wine_start_failures.append("the service's give-back at start")
            self.stop_service()
        return new_calls

    def stop_service(self):
        r = harness.run_wine(["stop", SERVICE], exe="net", timeout=60)
        self.assertEqual(r.status, 0, r.out + r.err)
        p = self._wait_for(lambda p: p["processes"] == 0, timeout=20)
        self.assertEqual((p["state"], p["processes"]), (STOPPED, 0))

    def test_2_start(self):
        # Nothing kept yet (no Parameters key): the start sets nothing, and
        # the first client's read is the stand-in's only call.
        self.assertIsNone(self.parameters())
        new_calls = self.start_and_read()
        p = self._wait_for(lambda p: p["state"] == RUNNING, timeout=10)
        self.assertEqual((p["state"], p["processes"]), (RUNNING, 1))
        self.check_service_ran(new_calls, ["mode=read level=0"])

    def test_3_requests_are_answered_byte_for_byte(self):
        self.scenario()
        cases = [
            (b'{"op":"keyboard_read"}\n', success(0)),
            (b'  {"op":"keyboard_write","level":1}  ', success(1)),
            (b'{"op":"keyboard_write","level":7}\n', success(2)),
            (b'{"op":"keyboard_read"}\xff', error("requête non UTF-8")),
            (b"\n", error(END_OF_INPUT)),
            (b'{"op":"keyboard_read"}{"op":"keyboard_read"}',
             error("requête illisible : syntax error while parsing value - unexpected '{'; "
                   "expected end of input at line 1 column 23")),
            (b'[{"op":"keyboard_read"}]', error("opération inconnue : ")),
            (b'{"op":"KEYBOARD_READ"}', error("opération inconnue : KEYBOARD_READ")),
            (b'{"op":"keyboard_write","level":-1}', error("niveau manquant")),
            (b'{"op":"keyboard_write","level":1.5}', error("niveau manquant")),
            (b'{"op":"keyboard_write","level":"1"}', error("niveau manquant")),
            (b"[" * 200, error("requête illisible : imbrication de plus de 128 niveaux "
                               "at line 1 column 129")),
        ]
        before = len(self.calls())
        for request, answer in cases:
            with self.subTest(request=request[:60]):
                self.check_answer(request, answer)
        # Only the three valid operations ran the script, the 7 limited to 2.
        self.assertEqual([c.split(" framework=")[0] for c in self.calls()[before:]],
                         ["mode=read level=0", "mode=write level=1", "mode=write level=2"])
        self.assertIn(r"\service app\framework script=present", self.calls()[-1])

    def test_3_keyboard_command_is_answered_by_the_service(self):
        self.scenario()
        before = len(self.calls())
        for args, level in (((), 0), (("2",), 2)):
            with self.subTest(args=args):
                r = self.keyboard(*args)
                self.assertEqual((r.status, r.out, r.err), (0, state_document(level), b""),
                                 self.report(b"", state_document(level), r))
        self.check_service_ran(self.calls()[before:], ["mode=read level=0", "mode=write level=2"])

    def test_3_keyboard_clients_started_together_are_all_served(self):
        # Each run holds the pipe for a second, so the clients queue at a
        # busy pipe; a client that ran the script itself would log a call
        # with its own process id.
        self.scenario(sleep_ms=1000)
        before = len(self.calls())
        seen = self.session_log.stat().st_size
        clients = [subprocess.Popen([harness.WINE, str(self.exe), "keyboard", "1"],
                                    env=harness.wine_env(), stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE) for _ in range(5)]
        results = []
        for client in clients:
            out, err = client.communicate(timeout=120)
            results.append(harness.Result(client.returncode, out, err))
        # A client Wine could not start, or one whose stand-in Wine could not
        # start in the service's session, did nothing: it is asked again alone.
        session_failed = self.session_start_failed_since(seen)
        for i, r in enumerate(results):
            wine_failed = r.status == 1 and harness.WINE_START_FAILURE in r.err
            if wine_failed or (session_failed and r.status != 0):
                harness.wine_start_failures.append(f"nivalto keyboard 1, client {i} of five")
                results[i] = self.keyboard("1")
        for i, r in enumerate(results):
            with self.subTest(client=i):
                self.assertEqual((r.status, r.out, r.err), (0, state_document(1), b""),
                                 self.report(b"", state_document(1), r))
        new_calls = self.calls()[before:]
        self.check_service_ran(new_calls, ["mode=write level=1"] * len(new_calls))
        self.assertGreaterEqual(len(new_calls), 5)

    def test_3_only_the_first_4096_bytes_are_read(self):
        # A read request padded to 4096 bytes, then a write: the server's one
        # read stops before the write, which is never looked at.
        self.scenario()
        head = b'{"op":"keyboard_read"}'
        request = head + b" " * (4096 - len(head)) + b'{"op":"keyboard_write","level":1}'
        request += b" " * (5000 - len(request))
        before = len(self.calls())
        self.check_answer(request, success(0))
        self.assertEqual([c.split(" framework=")[0] for c in self.calls()[before:]],
                         ["mode=read level=0"])

    def test_3_stand_in_failures_become_error_answers(self):
        read = b'{"op":"keyboard_read"}\n'
        write = b'{"op":"keyboard_write","level":2}\n'
        unavailable = ('{"available":false,"known":false,"level":0,"max_level":0,'
                       '"source":"hid","applied":false}')
        not_applied = ('{"available":true,"known":false,"level":2,"max_level":2,'
                       '"source":"hid","applied":false,"reason":""}')
        cases = [
            (dict(stdout=unavailable), read,
             error("ressource non disponible : aucune interface de rétroéclairage clavier "
                   "détectée")),
            (dict(stdout=not_applied), write,
             error("ressource non disponible : la commande de rétroéclairage n'a pas été "
                   "appliquée")),
            (dict(exit_code=1), read,
             error("ressource non disponible : commande de rétroéclairage en échec")),
            (dict(stdout=STATE_LEVEL.replace('"hid"', '"clavier"')), read,
             error("données invalides : source de rétroéclairage inconnue : clavier")),
        ]
        for scenario, request, answer in cases:
            with self.subTest(scenario=scenario):
                self.scenario(**scenario)
                self.check_answer(request, answer)

        # The parser's own words are the backlight reader's; the frame is ours.
        self.scenario(stdout="pas du json")
        r = self.send(read)
        self.assertEqual(r.status, 0, self.report(read, None, r))
        self.assertTrue(r.out.endswith(b'","source":""}\n'), self.report(read, None, r))
        answer = json.loads(r.out)
        self.assertEqual(list(answer), ["applied", "available", "known", "level", "max_level",
                                        "reason", "source"])
        self.assertRegex(answer["reason"], r"^données invalides : réponse de rétroéclairage "
                                           r"illisible : .+ at line 1 column \d+$")

    def test_4_clients_that_send_nothing_do_not_block_the_service(self):
        self.scenario()
        closer = self.client_run(["hold", "0"])
        self.assertEqual(closer.status, 0, closer.err)
        self.check_answer(b'{"op":"keyboard_read"}\n', success(0))

        silent = self.start_client("hold", "9000")
        try:
            self.assertEqual(silent.stdout.readline(), b"connected\n")
            started = time.time()
            self.check_answer(b'{"op":"keyboard_read"}\n', success(0))
            # The silent client is dropped after 5 seconds, not 9.
            self.assertLess(time.time() - started, 8.5)
        finally:
            silent.wait(timeout=30)

    def test_4_planted_powershell_files_never_run(self):
        # The requests so far all reached the stand-in in the system folder.
        self.assertGreaterEqual(len(self.calls()), 3)
        for decoy in self.decoys:
            with self.subTest(decoy=str(decoy)):
                self.assertFalse((decoy.parent / "calls.log").exists(),
                                 f"{decoy} was run instead of the system's PowerShell")
        # Each decoy stood where the program search would have found it first:
        # the service's current folder, and a folder of its PATH.
        environment = dict(line.split("=", 1) for line in
                           (self.powershell_dir / "environment.log").read_text(
                               encoding="utf-8").splitlines())
        self.assertEqual(environment["cwd"].rstrip("\\").lower(), r"c:\windows")
        path = environment["path"].lower().split(";")
        self.assertIn(r"c:\windows\system32\wbem", path)
        self.assertIn(r"c:\windows\system32\windowspowershell\v1.0", path)
        self.assertLess(path.index(r"c:\windows\system32\wbem"),
                        path.index(r"c:\windows\system32\windowspowershell\v1.0"))

    def test_5_level_kept_and_given_back_at_start(self):
        self.scenario()
        r = self.keyboard("1")
        self.assertEqual((r.status, r.out, r.err), (0, state_document(1), b""))
        kept = self.parameters()
        self.assertEqual((kept["type"], kept["size"], kept["dword"]), (str(REG_DWORD), "4", "1"))
        # The key's access list is the one it inherits: nobody but SYSTEM and
        # the administrators may change it. (Wine gives keys no list of
        # their own; on Windows the inheritance shows here as (A;ID;…).)
        self.assertNotRegex(kept["dacl"], WRITABLE_BY_USERS)

        self.stop_service()
        self.check_service_ran(self.start_and_read(), ["mode=write level=1", "mode=read level=0"])

        # A value of another type, or a number that is no level: nothing is set.
        for kind, data in (("REG_SZ", "1"), ("REG_DWORD", "7")):
            with self.subTest(value=f"{kind} {data}"):
                r = harness.run_wine(["add", PARAMETERS, "/v", "KeyboardLevel", "/t", kind, "/d",
                                      data, "/f"], exe="reg")
                self.assertEqual(r.status, 0, r.out + r.err)
                self.stop_service()
                self.check_service_ran(self.start_and_read(), ["mode=read level=0"])

    def test_5_many_requests_leave_no_trace(self):
        self.scenario()
        files = [self.request_file(r) for r in (
            b'{"op":"keyboard_read"}\n', b'{"op":"nothing"}', b'\xff\xfe', b"[" * 300,
            b'{"op":"keyboard_write","level":9}')]
        warm = self.client_run(["repeat", "50", *files], timeout=120, counts_calls=False)
        self.assertEqual(warm.out, b"answered=50 distinct=5\n")
        before = self.probe()
        r = self.client_run(["repeat", "500", *files], timeout=300, counts_calls=False)
        after = self.probe()
        self.assertEqual(r.out, b"answered=500 distinct=5\n")
        self.assertEqual(after["processes"], 1)
        # A handle or a request buffer kept per request would show as 200 or
        # more handles, or 2 MB; the margins allow for the runtime's own noise.
        self.assertLessEqual(after["handles"], before["handles"] + 3, (before, after))
        self.assertLess(after["commit"], before["commit"] + 512 * 1024, (before, after))

    def test_5_thinkpad_driver_is_read_and_set_through_the_service(self):
        # A kernel driver of the suite's own stands in for the ThinkPad
        # power-management driver, so that the service's own CreateFileW and
        # DeviceIoControl calls reach a device. Its first state word: ready
        # (5 in bits 16-19), bit 21 set, highest level 2, bits 4-7 holding 3,
        # level 1; a write of 2 must then send 0x100 | 0x30 | 2.
        self.scenario()
        calls = len(self.calls())
        self.addCleanup(self.pm_run, "remove", PM_DRIVER)
        installed = self.pm_run("install", PM_DRIVER, harness.windows_path(self.pm_driver),
                                "0x00250231")
        self.assertEqual(installed.status, 0, installed.err_text)
        # The driver itself, apart from the product.
        self.assertEqual(self.pm_words("get"), ["0x00250231"])

        for args, level in (((), 1), (("2",), 2)):
            with self.subTest(args=args):
                # Not run again on a start failure in the service's session,
                # as self.keyboard does: no process starts there for a device
                # answer, and a second run would send a second write.
                r = self.nivalto("keyboard", *args)
                expected = state_document(level, source="thinkpad-pm")
                self.assertEqual((r.status, r.out, r.err), (0, expected, b""),
                                 self.report(b"", expected, r))
        # One set call, with the argument the state word asks for; and the
        # device answered: the script never ran.
        self.assertEqual(self.pm_words("record", PM_DRIVER), ["0x00000132"])
        self.assertEqual(self.calls()[calls:], [])

        removed = self.pm_run("remove", PM_DRIVER)
        self.assertEqual(removed.status, 0, removed.err_text)

    def test_6_second_client_is_busy_and_stop_waits_for_the_request(self):
        self.scenario(sleep_ms=4000)
        before = len(self.calls())
        first = self.start_client("send", self.request_file(b'{"op":"keyboard_read"}\n'))
        try:
            deadline = time.time() + 20
            while len(self.calls()) == before and time.time() < deadline:
                time.sleep(0.1)
            self.assertEqual(len(self.calls()), before + 1, "the request never reached the script")

            request = b'{"op":"keyboard_read"}\n'
            second = self.send(request, "--no-wait")
            self.assertEqual((second.status, second.err, second.out), (3, b"busy\n", b""),
                             self.report(request, b"", second))

            stop = harness.run_wine(["stop", SERVICE], exe="net")
            self.assertEqual(stop.status, 0, stop.out + stop.err)
            out, err = first.communicate(timeout=30)
            self.assertEqual((first.returncode, out), (0, success(0)),
                             self.report(b'{"op":"keyboard_read"}\n', success(0),
                                         harness.Result(first.returncode, out, err)))
        finally:
            if first.poll() is None:
                first.kill()
        p = self._wait_for(lambda p: p["state"] == STOPPED and p["processes"] == 0, timeout=15)
        self.assertEqual((p["state"], p["processes"]), (STOPPED, 0))
        self.assertEqual(len(self.calls()), before + 1)

    def test_6_squatted_pipe_stops_the_service_with_its_error(self):
        # Another program made the pipe first: the service must not serve
        # beside it, and says why it ended.
        squatter = self.start_client_with_input("squat")
        try:
            self.assertEqual(squatter.stdout.readline(), b"squatting\n")
            harness.run_wine(["start", SERVICE], exe="net")
            p = self._wait_for(lambda p: p["state"] == STOPPED and p["processes"] == 0,
                               timeout=15)
            self.assertEqual((p["state"], p["processes"]), (STOPPED, 0))
            # 231 (ERROR_PIPE_BUSY) under Wine; Windows answers 5 (access denied).
            self.assertIn(p["exit"], (5, 231), p)
        finally:
            squatter.stdin.close()
            squatter.wait(timeout=30)
            if self.probe()["processes"] != 0:
                harness.run_wine(["stop", SERVICE], exe="net", timeout=60)
                self._wait_for(lambda p: p["processes"] == 0, timeout=20)

    def test_7_keyboard_without_the_service_runs_the_stand_in_itself(self):
        self.assertEqual(self.probe()["processes"], 0)
        self.scenario()
        before = len(self.calls())
        r = self.nivalto("keyboard", "1")
        self.assertEqual((r.status, r.out, r.err), (0, state_document(1), b""),
                         self.report(b"", state_document(1), r))
        self.assertEqual([c.split(" framework=")[0] for c in self.calls()[before:]],
                         ["mode=write level=1"])
        self.assertIn(r"\service app\framework script=present", self.calls()[-1])

        cases = [
            (dict(stdout="pas du json"), r"^erreur : données invalides : réponse de "
                                         r"rétroéclairage illisible : .+ at line 1 column \d+"
                                         + NO_SERVICE + "\n$"),
            (dict(exit_code=1), "^erreur : ressource non disponible : commande de "
                                "rétroéclairage en échec" + NO_SERVICE + "\n$"),
        ]
        for scenario, message in cases:
            with self.subTest(scenario=scenario):
                self.scenario(**scenario)
                calls = len(self.calls())
                r = self.nivalto("keyboard")
                self.assertEqual((r.status, r.out), (1, b""), r.err)
                self.assertRegex(r.err_text, message)
                self.assertEqual(len(self.calls()), calls + 1)

    def test_7_keyboard_levels_refused_write_nothing_to_the_pipe(self):
        # A stand-in server takes the pipe's name and serves one client: a
        # refused level that connected would be the request it prints.
        from test_cli import USAGE
        answer = self.app / "listener-answer.bin"
        answer.write_bytes(success(2))
        listener = subprocess.Popen([harness.WINE, str(self.client), "listen",
                                     harness.windows_path(answer)], env=harness.wine_env(),
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            self.assertEqual(listener.stdout.readline(), b"listening\n")
            for level in ("3", "-1", "01", "", "deux", "1.0"):
                with self.subTest(level=level):
                    r = self.nivalto("keyboard", level)
                    self.assertEqual((r.status, r.out), (2, b""))
                    self.assertEqual(r.err_text, f"erreur : niveau inconnu pour keyboard : {level} "
                                                 f"(0, 1 ou 2)\n\n{USAGE.decode()}\n")
            self.assertIsNone(listener.poll())
            r = self.nivalto("keyboard", "2", "1")
            self.assertEqual((r.status, r.err_text),
                             (2, f"erreur : argument en trop pour keyboard : 1\n\n"
                                 f"{USAGE.decode()}\n"))
            # The first request the listener sees is the valid one that follows.
            r = self.nivalto("keyboard", "2")
            self.assertEqual((r.status, r.out), (0, state_document(2)), r.err)
            request, _ = listener.communicate(timeout=30)
            self.assertEqual(request, b'{"op":"keyboard_write","level":2}\n')
        finally:
            if listener.poll() is None:
                listener.kill()

    def test_7_uninstall_twice(self):
        # The service has kept a level since test_5.
        self.assertIsNotNone(self.parameters())
        first = self.nivalto("service", "uninstall")
        self.assertEqual((first.status, first.err), (0, b""))
        self.assertEqual(first.out_text, f"service {SERVICE} désinstallé\n")
        self.assertIsNone(self.parameters())
        again = self.nivalto("service", "uninstall")
        self.assertEqual((again.status, again.err), (0, b""))
        self.assertEqual(again.out_text, f"le service {SERVICE} n'est pas installé\n")

    def test_8_service_role_from_a_console_is_refused(self):
        r = self.nivalto("--service")
        self.assertEqual((r.status, r.out), (1, b""))
        self.assertEqual(r.err_text,
                         "erreur : démarrage par le Gestionnaire de services refusé (code 1063)\n")


@unittest.skipUnless(harness.NATIVE.exists(), "build/native/nivalto is not built")
class LinuxBuild(unittest.TestCase):
    def test_service_commands_need_windows(self):
        for args in (["service", "install"], ["service", "uninstall"], ["--service"],
                     ["keyboard"], ["keyboard", "2"]):
            with self.subTest(args=args):
                r = harness.run_native(args)
                self.assertEqual((r.status, r.out), (1, b""))
                self.assertEqual(r.err_text,
                                 "erreur : le service NivaltoHal n'existe que sous Windows\n")


if __name__ == "__main__":
    unittest.main()
