"""Runs the real programs for the end-to-end suite.

Two programs play every case where their behaviour is the same: the Linux
build (build/native/nivalto) and nivalto.exe under Wine. A chosen firmware is
handed to them with no hook in the product: each run happens in a private
mount namespace (unshare -m, as root) where a tmpfs hides the machine's own
firmware files and holds the ones the test wrote:
  - Linux build: /sys/firmware/dmi/tables/DMI, the raw structure table;
  - Wine: /sys/class/dmi/id/{sys_vendor,...}, the text files from which Wine
    builds the table that GetSystemFirmwareTable('RSMB') returns.
"""
from __future__ import annotations

import dataclasses
import os
import shlex
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SHARED = REPO.parent / "shared"
NATIVE = REPO / "build" / "native" / "nivalto"
WINDOWS_EXE = REPO / "build" / "windows" / "nivalto.exe"
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64" if Path("/usr/lib/wine/wineserver64").exists() else "/usr/lib/wine/wineserver"
E2E_BUILD = REPO / "build" / "e2e"
TOOLS_BUILD = REPO / "build" / "e2e-tools"
MINGW_CXX = "x86_64-w64-mingw32-g++-posix"

# The files Wine reads under /sys/class/dmi/id to build its SMBIOS table.
WINE_DMI_FILES = (
    "bios_vendor", "bios_version", "bios_date",
    "sys_vendor", "product_name", "product_version", "product_family",
    "board_vendor", "board_name", "board_version",
)


@dataclasses.dataclass
class Result:
    status: int
    out: bytes
    err: bytes
    # The steps a traced test tool logged (run_traced_tool), for failure reports.
    trace: str = ""

    @property
    def out_text(self) -> str:
        return self.out.decode("utf-8")

    @property
    def err_text(self) -> str:
        return self.err.decode("utf-8")


# Now and then Wine cannot reserve the fixed address of the shared user data
# (0x7ffe0000) in a new process, because something the system placed at
# random took it; the process then ends with status 1 before the program's
# first instruction, writing only this line, on Wine's "err:virtual" channel.
# Such a run did nothing at all, so it is run again; the channel stays on in
# every run to tell it apart from a run of the program that failed.
WINE_START_FAILURE = b"failed to map the shared user data"
WINEDEBUG = "-all,err+virtual"
# What Wine could not start, as "program arguments"; run.py lists them.
wine_start_failures: list[str] = []

# Each prefix's environment and the program that keeps its session up.
_sessions: dict[str, tuple[dict, subprocess.Popen]] = {}


def wine_env(prefix: str | None = None, fresh: bool = False) -> dict:
    """The environment of every Wine run: a private prefix, its session
    started once per run. `prefix` names another prefix than the suite's
    own (NIVALTO_E2E_PREFIX, else "wineprefix"); `fresh` makes it anew, as a
    machine where nothing was ever installed."""
    name = prefix or os.environ.get("NIVALTO_E2E_PREFIX", "wineprefix")
    if name in _sessions:
        return dict(_sessions[name][0])
    env = dict(os.environ)
    # Two runs side by side (scripts/test) each name their own prefix, so
    # that each has a Wine session, and a service manager, of its own.
    env["WINEPREFIX"] = str(E2E_BUILD / name)
    env["WINEDEBUG"] = WINEDEBUG
    # No Mono or Gecko installer dialogs when the prefix is created.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env.pop("DISPLAY", None)
    E2E_BUILD.mkdir(parents=True, exist_ok=True)
    # A session left by an earlier run is ended first. `wineboot --init`
    # runs only for a new prefix and before anything else: on a session
    # already up it would start a second service manager beside the first.
    subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    subprocess.run([WINESERVER, "-w"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    if fresh:
        shutil.rmtree(env["WINEPREFIX"], ignore_errors=True)
    if not (Path(env["WINEPREFIX"]) / "system.reg").exists():
        subprocess.run([WINE, "wineboot", "--init"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
        subprocess.run([WINESERVER, "-w"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    # Keep one wineserver alive for the whole suite: each run then starts in
    # tens of milliseconds instead of seconds.
    subprocess.Popen([WINESERVER, "-p"], env=env,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).wait(timeout=30)
    # The first program of a session starts Wine's own background
    # processes (service manager, device manager), which inherit its
    # standard streams, and Wine ends them again once no ordinary program
    # runs. A program kept waiting on its input for the whole suite owns
    # that session, so no test run ever hangs on a stream held open by them.
    keeper = subprocess.Popen([WINE, "cmd"], env=env, stdin=subprocess.PIPE,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINE, "cmd", "/c", "exit"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=180)
    _sessions[name] = (env, keeper)
    return dict(env)


def stop_wine() -> None:
    for env, keeper in _sessions.values():
        keeper.stdin.close()
        try:
            keeper.wait(timeout=30)
        except subprocess.TimeoutExpired:
            keeper.kill()
        subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    _sessions.clear()


def tail(path: Path, lines: int = 12) -> str:
    """The last lines of a log, for a failure report."""
    if not path.exists():
        return f"({path.name} does not exist)"
    text = path.read_bytes().decode("utf-8", "replace").splitlines()[-lines:]
    return "\n".join(f"  | {line}" for line in text) if text else f"({path.name} is empty)"


def exchange_report(request: bytes, expected: bytes | None, result: "Result",
                    logs: dict[str, Path]) -> str:
    """What a failed exchange was: the request, the expected and received
    bytes, the client's status and error stream, and the end of each log."""
    parts = [f"request  ({len(request)} bytes): {request[:300]!r}"]
    if expected is not None:
        parts.append(f"expected ({len(expected)} bytes): {expected!r}")
    parts += [f"received ({len(result.out)} bytes): {result.out!r}",
              f"client status {result.status}, stderr: {result.err[-2000:]!r}"]
    if result.trace:
        parts.append("the client's steps (tick count in ms, process, step, values):\n" +
                     "\n".join(f"  | {line}" for line in result.trace.splitlines()[-12:]))
    for title, path in logs.items():
        parts.append(f"last lines of {title} ({path}):\n{tail(path)}")
    return "\n".join(parts)


def windows_path(path: Path | str) -> str:
    """The Wine view of a Linux path (drive Z: is the Linux root)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def _run(command: list[str], cwd, env, timeout, stdin: bytes | None = None) -> Result:
    done = subprocess.run(command, cwd=str(cwd or REPO), env=env, input=stdin or b"",
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return Result(done.returncode, done.stdout, done.stderr)


def _in_namespace(command: list[str], mount_point: str, files: dict[str, bytes]) -> list[str]:
    """Wraps `command` so it runs with a tmpfs at `mount_point` holding `files`
    (paths relative to the mount point). Needs root."""
    staging = Path(tempfile.mkdtemp(prefix="nivalto-fw-", dir=E2E_BUILD))
    for rel, data in files.items():
        target = staging / rel
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
    script = (
        f"mount -t tmpfs nivalto-fw {shlex.quote(mount_point)} && "
        f"cp -a {shlex.quote(str(staging))}/. {shlex.quote(mount_point)}/ && "
        f"rm -rf {shlex.quote(str(staging))} && exec \"$@\""
    )
    return ["unshare", "--mount", "--propagation", "private", "--", "sh", "-c", script, "sh", *command]


def run_native(args: list[str], cwd=None, firmware: bytes | None | str = "host",
               timeout: float = 60, exe: Path | str | None = None) -> Result:
    """Runs the Linux build (or `exe`). firmware: "host" leaves the machine's own
    files; None hides them (no table at all); bytes become /sys/firmware/dmi/tables/DMI."""
    E2E_BUILD.mkdir(parents=True, exist_ok=True)
    command = [str(exe or NATIVE), *args]
    if firmware != "host":
        files = {} if firmware is None else {"dmi/tables/DMI": firmware}
        command = _in_namespace(command, "/sys/firmware", files)
    return _run(command, cwd, None, timeout)


def run_wine(args: list[str], cwd=None, timeout: float = 60, exe: Path | str | None = None,
             dmi: dict[str, str] | None | str = "host", extra_env: dict | None = None,
             prefix: str | None = None) -> Result:
    """Runs nivalto.exe under Wine. dmi: "host" leaves the machine's own files;
    None hides /sys/class/dmi entirely; a dict gives the text of each
    /sys/class/dmi/id file that should exist (a line feed is appended, as the
    kernel does). A run that Wine could not start (see WINE_START_FAILURE)
    is run again, twice at most, and listed in wine_start_failures. prefix:
    as for wine_env."""
    env = wine_env(prefix)
    env.update(extra_env or {})
    command = [WINE, str(exe or WINDOWS_EXE), *args]
    for _ in range(3):
        run = command
        if dmi != "host":
            files = {} if dmi is None else {
                f"dmi/id/{name}": (value + "\n").encode("utf-8") for name, value in dmi.items()
            }
            run = _in_namespace(command, "/sys/class", files)
        result = _run(run, cwd, env, timeout)
        if not (result.status == 1 and WINE_START_FAILURE in result.err):
            return result
        wine_start_failures.append(f"{Path(command[1]).name} {' '.join(args)[:120]}")
    return result


TOOL_TRACES = E2E_BUILD / "tool-traces"
_trace_number = 0


def run_traced_tool(exe: Path, args: list[str], timeout: float = 60,
                    prefix: str | None = None) -> Result:
    """Runs one of the suite's own Windows tools that logs its steps to the
    file named by PIPE_CLIENT_TRACE; the steps land in Result.trace, for the
    failure report."""
    global _trace_number
    TOOL_TRACES.mkdir(parents=True, exist_ok=True)
    _trace_number += 1
    trace = TOOL_TRACES / f"{os.getpid()}-{_trace_number}.log"
    trace.unlink(missing_ok=True)
    result = run_wine(args, exe=exe, timeout=timeout, prefix=prefix,
                      extra_env={"PIPE_CLIENT_TRACE": windows_path(trace)})
    if trace.exists():
        result.trace = trace.read_text(encoding="utf-8", errors="replace")
        trace.unlink()
    else:
        result.trace = "(no step logged: the program never ran its first line)"
    return result


def service_state(probe_exe: Path, prefix: str | None = None) -> dict[str, int]:
    """What tools/service_probe.cpp prints of the service, as numbers by name."""
    r = run_wine([], exe=probe_exe, prefix=prefix)
    return {k: int(v) for k, v in (f.split("=") for f in r.out_text.split())}


def wait_for_service(probe_exe: Path, condition, timeout: float,
                     prefix: str | None = None) -> dict[str, int]:
    """The service's state once `condition` holds for it, or after `timeout` seconds."""
    deadline = time.time() + timeout
    while not condition(state := service_state(probe_exe, prefix)) and time.time() < deadline:
        time.sleep(0.2)
    return state


def _build_once(source_path: Path | str, name: str, command: list[str],
                libraries: tuple[str, ...] = ()) -> Path:
    """Builds TOOLS_BUILD/name from one source file with `command`, once per
    change; the source and output follow `command`, and `libraries` them."""
    source = Path(source_path)
    TOOLS_BUILD.mkdir(parents=True, exist_ok=True)
    target = TOOLS_BUILD / name
    if not target.exists() or target.stat().st_mtime < source.stat().st_mtime:
        # Built under a name of this process's own, then moved into place: the
        # service suite and the rest of the suite run side by side, and neither
        # may start a program the other is still writing.
        partial = target.with_name(f"{target.name}.{os.getpid()}.part")
        subprocess.run([*command, str(source), "-o", str(partial), *libraries], check=True)
        os.replace(partial, target)
    return target


def build_windows_tool(source_path: Path | str, exe_name: str) -> Path:
    """Compiles one C++ file into a static Windows program, once per change."""
    return _build_once(source_path, exe_name, [
        MINGW_CXX, "-std=c++23", "-O1", "-static", "-municode", "-DUNICODE", "-D_UNICODE",
        "-Wl,--allow-multiple-definition"])


MINGW_CC = "x86_64-w64-mingw32-gcc-posix"
DDK_INCLUDE = "/usr/share/mingw-w64/include/ddk"


def build_windows_driver(source_path: Path | str, sys_name: str) -> Path:
    """Compiles one C file into a kernel driver (.sys) against mingw-w64's DDK
    headers and ntoskrnl, once per change. Wine runs such a driver in
    winedevice.exe when a kernel driver service names it."""
    # No C runtime in a driver: the image has only ntoskrnl's imports and its
    # own entry point, DriverEntry.
    return _build_once(source_path, sys_name, [
        MINGW_CC, "-std=gnu11", "-O1", "-Wall", "-Werror", "-ffreestanding",
        "-fno-stack-protector", "-I", DDK_INCLUDE, "-shared", "-nostdlib",
        "-Wl,--subsystem,native", "-Wl,--entry,DriverEntry"], ("-lntoskrnl", "-lhal"))


class Program:
    """One of the two builds, run the same way."""

    def __init__(self, name: str):
        self.name = name

    def run(self, args: list[str], cwd=None, timeout: float = 60) -> Result:
        if self.name == "native":
            return run_native(args, cwd=cwd, timeout=timeout)
        return run_wine(args, cwd=cwd, timeout=timeout)

    def path_arg(self, path: Path | str) -> str:
        """A path as this program's user would type it."""
        return str(path) if self.name == "native" else windows_path(path)

    @property
    def separator(self) -> str:
        return "/" if self.name == "native" else "\\"


PROGRAMS = (Program("native"), Program("wine"))


def is_root() -> bool:
    return os.geteuid() == 0


def require_root(test_case) -> None:
    if not is_root() or shutil.which("unshare") is None:
        test_case.skipTest("needs root and unshare for a private mount namespace")
