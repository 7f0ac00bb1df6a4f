"""The host simulator (``tranpak-host``) as a process a test or a load
starts and stops: a free loopback port, a served directory, a log.

A host ends with the process that started it (its owner), and the
temporary folder made for it goes with it:
- ``stop()``, or leaving the ``with`` block, stops the host and removes
  the folder the simulator made (a ``workdir`` given is left as it is);
- an owner that ends without ``stop()`` stops its hosts on the way out
  (``atexit``), and so does one ended by SIGTERM (a handler stops them,
  then ends the process as SIGTERM would have, or hands on to the handler
  that was there before);
- on Linux a host started from the main thread is sent SIGTERM by the
  system when its owner dies however it dies (``PR_SET_PDEATHSIG``), SIGKILL
  included; then nothing of the owner runs, and the folder is removed by
  the next host started by any owner: each folder holds an ``owner`` file
  with the two process ids, and one whose owner and host have both ended is
  stale. (A host started from another thread is not tied so: the system
  would end it with that thread.)
"""
from __future__ import annotations

import atexit
import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path
from typing import Any, Callable, List, Mapping, Optional, Set, Union

from . import _paths
from .session import Key, Session, key_bytes

# The key of the examples: 01 23 45 67 89 AB CD EF.
DEFAULT_KEY = bytes.fromhex("0123456789ABCDEF")
# Options the simulator object sets itself.
_OWN = {"key", "port_file", "defs", "dir"}


# The folders the simulator makes for itself: tempfile's folder, this prefix.
FOLDER_PREFIX = "tranpak-host-"
# In each such folder: "OWNER_PID HOST_PID" (the host's once it started).
_OWNER_FILE = "owner"

_IS_LINUX = sys.platform.startswith("linux")
_PR_SET_PDEATHSIG = 1
# Looked up before any fork: the child only calls it.
_prctl = ctypes.CDLL(None, use_errno=True).prctl if _IS_LINUX else None

# Hosts started and not yet stopped, which the process stops on its way out.
_running: Set["HostSimulator"] = set()
_running_lock = threading.Lock()
_hooks: List[bool] = []  # one item once atexit and the SIGTERM handler are in place
_sigterm_before: List[Any] = []


class HostStartError(RuntimeError):
    """The host did not start; the message holds what it said."""


def stop_all() -> None:
    """Stops every host this process started and has not stopped (what
    happens on the way out: atexit, SIGTERM)."""
    with _running_lock:
        hosts = list(_running)
    for host in hosts:
        try:
            host.stop(timeout=5.0)
        except Exception:  # pragma: no cover - the others are stopped all the same
            pass


def _on_sigterm(signum: int, frame: Any) -> None:
    stop_all()
    before = _sigterm_before[0] if _sigterm_before else signal.SIG_DFL
    if callable(before):
        before(signum, frame)
        return
    # The end SIGTERM gives by default, now that the hosts are stopped.
    signal.signal(signal.SIGTERM, signal.SIG_DFL)
    os.kill(os.getpid(), signal.SIGTERM)


def _install_hooks() -> None:
    """atexit and, from the main thread, a SIGTERM handler (signal handlers
    can only be set there); a SIGTERM ignored stays ignored."""
    if _hooks:
        return
    _hooks.append(True)
    atexit.register(stop_all)
    if threading.current_thread() is threading.main_thread():
        before = signal.getsignal(signal.SIGTERM)
        if before is not signal.SIG_IGN and before is not None:
            _sigterm_before.append(before)
            signal.signal(signal.SIGTERM, _on_sigterm)


def _ends_with_owner(owner: int) -> Callable[[], None]:
    """What the host's process does before it runs the host: asks for
    SIGTERM when the thread that started it ends, and ends at once if its
    owner has ended already."""
    def preexec() -> None:
        if _prctl is not None:
            _prctl(_PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)
        if os.getppid() != owner:
            os._exit(1)
    return preexec


def _process_ended(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return True
    except PermissionError:
        return False
    except OSError:  # pragma: no cover - Windows: a pid cannot be asked so
        return False
    try:  # a zombie nobody reaps (a container without init) has ended too
        with open(f"/proc/{pid}/stat", "rb") as f:
            return f.read().rsplit(b")", 1)[1].split()[0] == b"Z"
    except (OSError, IndexError):
        return False


def remove_stale_folders(folder: Union[str, "os.PathLike[str]", None] = None) -> List[Path]:
    """Removes the folders the simulator made in ``folder`` (default:
    tempfile's) whose owner and host have both ended without removing them
    (an owner killed by SIGKILL); returns those removed."""
    removed = []
    base = Path(folder) if folder is not None else Path(tempfile.gettempdir())
    for path in base.glob(FOLDER_PREFIX + "*"):
        try:
            pids = [int(p) for p in (path / _OWNER_FILE).read_text().split()]
        except (OSError, ValueError):
            continue  # not one of ours, or one being made
        if pids and os.getpid() not in pids and all(_process_ended(pid) for pid in pids):
            shutil.rmtree(path, ignore_errors=True)
            removed.append(path)
    return removed


def host_arguments(options: Mapping[str, Any]) -> List[str]:
    """Command-line options from keywords named as the host's options:
    ``fault_every=3`` -> ``--fault-every 3``; a mapping repeats the option
    with ``F=V`` (``set={39: "00"}`` -> ``--set 39=00``), a list or tuple
    repeats it with each item, True gives the bare option, None and False
    leave it out."""
    args: List[str] = []
    for name, value in options.items():
        flag = "--" + name.replace("_", "-")
        if value is None or value is False:
            continue
        if value is True:
            args.append(flag)
        elif isinstance(value, Mapping):
            for field, v in value.items():
                args += [flag, f"{field}={v}"]
        elif isinstance(value, (list, tuple)):
            for v in value:
                args += [flag, str(v)]
        else:
            args += [flag, str(value)]
    return args


def wire_format_of(settings: Union[str, "os.PathLike[str]"]) -> dict:
    """The ``[Wire Format]`` section of a settings file as a dict (empty
    when it has none), the first key of a name as the library takes it."""
    wire: dict = {}
    section = False
    for line in Path(settings).read_text(encoding="latin-1").splitlines():
        text = line.strip()
        if text.startswith("["):
            if section:
                break
            section = text.lower() == "[wire format]"
        elif section and "=" in text and not text.startswith(";"):
            key, value = text.split("=", 1)
            wire.setdefault(key.strip().upper(), value.strip())
    return wire


class HostSimulator:
    """``tranpak-host`` on a free port of 127.0.0.1 (or the ``address``
    given), serving ``dir`` (default: ``files/`` in ``workdir``) with the
    definitions ``defs`` (default: the package's example ``bitmap.txt``)
    under ``key``. ``wire={"LENGTH": "BINARY2", ...}`` has it speak that
    wire dialect (a settings file with the section is written for it), as
    does ``settings=FILE`` with the file's ``[Wire Format]``; ``session()``
    then speaks it too. Other keywords are the host's options (see
    ``host_arguments``). ``start()`` returns once it listens."""

    def __init__(self, workdir: Union[str, "os.PathLike[str]", None] = None, *, key: Key = DEFAULT_KEY,
                 defs: Union[str, "os.PathLike[str]", None] = None, dir: Union[str, "os.PathLike[str]", None] = None,
                 **options: Any) -> None:
        # A folder made here is this simulator's own, removed when it stops.
        self.owns_workdir = workdir is None
        if self.owns_workdir:
            remove_stale_folders()
            self.workdir = Path(tempfile.mkdtemp(prefix=FOLDER_PREFIX))
            (self.workdir / _OWNER_FILE).write_text(f"{os.getpid()}\n")
        else:
            self.workdir = Path(workdir)  # type: ignore[arg-type]
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.key = key_bytes(key)
        self.defs = Path(defs) if defs is not None else _paths.example_file("bitmap.txt")
        self.dir = Path(dir) if dir is not None else self.workdir / "files"
        self.dir.mkdir(parents=True, exist_ok=True)
        # wire={...}: the dialect, written as a settings file's [Wire Format]
        # section for --settings; settings=FILE: a settings file's own.
        wire = options.pop("wire", None)
        if wire is not None:
            lines = "".join(f"{k}={v}\n" for k, v in wire.items())
            ini = self.workdir / "host-wire.ini"
            ini.write_text("[Wire Format]\n" + lines)
            options["settings"] = str(ini)
        self.wire: Optional[dict] = dict(wire) if wire is not None else (
            wire_format_of(options["settings"]) if options.get("settings") else None)
        options.setdefault("errlog", str(self.workdir / "host-errlog.txt"))
        options.setdefault("port", 0)
        self.options = options
        self.host = str(options.get("address") or "127.0.0.1")
        self.port = 0
        self.process: Optional[subprocess.Popen] = None
        self._log_path = self.workdir / "host.log"
        self._port_file = self.workdir / "host.port"
        self._final_log: Optional[str] = None  # the log as the host left it, once its folder is gone

    @property
    def address(self) -> str:
        """``host:port``, as Locust's ``--host`` takes it."""
        return f"{self.host}:{self.port}"

    def command(self) -> List[str]:
        return [str(_paths.tool_path("tranpak-host")), "--key", self.key.hex().upper(), "--port-file",
                str(self._port_file), "--defs", str(self.defs), "--dir", str(self.dir)] + host_arguments(self.options)

    def start(self, timeout: float = 15.0) -> "HostSimulator":
        if self.process is not None:
            raise RuntimeError("the host was started already")
        try:
            self._port_file.unlink()
        except FileNotFoundError:
            pass
        windows = sys.platform.startswith("win")
        flags = subprocess.CREATE_NEW_PROCESS_GROUP if windows else 0  # type: ignore[attr-defined]
        _install_hooks()
        tied = _IS_LINUX and threading.current_thread() is threading.main_thread()
        with open(self._log_path, "ab") as log:
            self.process = subprocess.Popen(self.command(), stdout=log, stderr=subprocess.STDOUT,
                                            stdin=subprocess.DEVNULL, cwd=self.workdir, creationflags=flags,
                                            preexec_fn=_ends_with_owner(os.getpid()) if tied else None)
        with _running_lock:
            _running.add(self)
        if self.owns_workdir:
            (self.workdir / _OWNER_FILE).write_text(f"{os.getpid()} {self.process.pid}\n")
        deadline = time.monotonic() + timeout
        while True:
            text = self._port_file.read_text() if self._port_file.exists() else ""
            if text.endswith("\n"):
                self.port = int(text)
                return self
            if self.process.poll() is not None:
                raise HostStartError(f"tranpak-host exited with {self.process.returncode}: {self.log().strip()}")
            if time.monotonic() > deadline:
                self.stop()
                raise HostStartError(f"tranpak-host did not listen within {timeout} s: {self.log().strip()}")
            time.sleep(0.02)

    def log(self) -> str:
        """What the host has written so far (its log lines); after ``stop()``
        what it wrote in all."""
        if self._final_log is not None:
            return self._final_log
        try:
            return self._log_path.read_bytes().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def wait_for_log(self, text: str, timeout: float = 10.0) -> str:
        """The log once it holds ``text`` (the host writes a message's line
        just after its answer); TimeoutError when it does not in time."""
        deadline = time.monotonic() + timeout
        while True:
            log = self.log()
            if text in log:
                return log
            if time.monotonic() > deadline:
                raise TimeoutError(f"the host's log has no {text!r} after {timeout} s:\n{log}")
            time.sleep(0.02)

    def running(self) -> bool:
        return self.process is not None and self.process.poll() is None

    def stop(self, timeout: float = 10.0) -> Optional[int]:
        """Stops the host as Ctrl-C does (it closes every connection) and
        returns its exit code; kills it if it has not ended in ``timeout``.
        A folder the simulator made goes too (``log()`` still answers)."""
        proc = self.process
        if proc is not None and proc.poll() is None:
            windows = sys.platform.startswith("win")
            proc.send_signal(signal.CTRL_BREAK_EVENT if windows else signal.SIGINT)  # type: ignore[attr-defined]
            try:
                proc.wait(timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        with _running_lock:
            _running.discard(self)
        if self.owns_workdir and self._final_log is None:
            self._final_log = self.log()
            shutil.rmtree(self.workdir, ignore_errors=True)
        return None if proc is None else proc.returncode

    def session(self, **settings: Any) -> Session:
        """A session with the host's definitions and wire dialect and an error
        log beside the host's; keywords as ``Session`` takes them."""
        settings.setdefault("defs", self.defs)
        settings.setdefault("errlog", self.workdir / "errlog.txt")
        if self.wire is not None:
            settings.setdefault("wire", self.wire)
        return Session(**settings)

    def exchange(self, message: Mapping[int, Any], **settings: Any) -> dict:
        """One exchange with the host on a session of its own."""
        with self.session(**settings) as s:
            return s.exchange(self.host, self.port, self.key, message)

    def __enter__(self) -> "HostSimulator":
        return self.start() if self.process is None else self

    def __exit__(self, *exc: object) -> None:
        self.stop()


def start_host(workdir: Union[str, "os.PathLike[str]", None] = None, **options: Any) -> HostSimulator:
    """A started ``HostSimulator``; stop it with ``stop()`` or a ``with``
    (it also ends with this process: see the module's note)."""
    return HostSimulator(workdir, **options).start()
