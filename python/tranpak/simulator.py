"""The host simulator (``tranpak-host``) as a process a test or a load
starts and stops: a free loopback port, a served directory, a log."""
from __future__ import annotations

import os
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Any, List, Mapping, Optional, Union

from . import _paths
from .session import Key, Session, key_bytes

# The key of the examples: 01 23 45 67 89 AB CD EF.
DEFAULT_KEY = bytes.fromhex("0123456789ABCDEF")
# Options the simulator object sets itself.
_OWN = {"key", "port_file", "defs", "dir"}


class HostStartError(RuntimeError):
    """The host did not start; the message holds what it said."""


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


class HostSimulator:
    """``tranpak-host`` on a free port of 127.0.0.1 (or the ``address``
    given), serving ``dir`` (default: ``files/`` in ``workdir``) with the
    definitions ``defs`` (default: the package's example ``bitmap.txt``)
    under ``key``. Other keywords are the host's options (see
    ``host_arguments``). ``start()`` returns once it listens."""

    def __init__(self, workdir: Union[str, "os.PathLike[str]", None] = None, *, key: Key = DEFAULT_KEY,
                 defs: Union[str, "os.PathLike[str]", None] = None, dir: Union[str, "os.PathLike[str]", None] = None,
                 **options: Any) -> None:
        self.workdir = Path(workdir) if workdir is not None else Path(tempfile.mkdtemp(prefix="tranpak-host-"))
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.key = key_bytes(key)
        self.defs = Path(defs) if defs is not None else _paths.example_file("bitmap.txt")
        self.dir = Path(dir) if dir is not None else self.workdir / "files"
        self.dir.mkdir(parents=True, exist_ok=True)
        options.setdefault("errlog", str(self.workdir / "host-errlog.txt"))
        options.setdefault("port", 0)
        self.options = options
        self.host = str(options.get("address") or "127.0.0.1")
        self.port = 0
        self.process: Optional[subprocess.Popen] = None
        self._log_path = self.workdir / "host.log"
        self._port_file = self.workdir / "host.port"

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
        flags = subprocess.CREATE_NEW_PROCESS_GROUP if sys.platform.startswith("win") else 0  # type: ignore[attr-defined]
        with open(self._log_path, "ab") as log:
            self.process = subprocess.Popen(self.command(), stdout=log, stderr=subprocess.STDOUT,
                                            stdin=subprocess.DEVNULL, cwd=self.workdir, creationflags=flags)
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
        """What the host has written so far (its log lines)."""
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
        returns its exit code; kills it if it has not ended in ``timeout``."""
        proc = self.process
        if proc is None:
            return None
        if proc.poll() is None:
            proc.send_signal(signal.CTRL_BREAK_EVENT if sys.platform.startswith("win") else signal.SIGINT)  # type: ignore[attr-defined]
            try:
                proc.wait(timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        return proc.returncode

    def session(self, **settings: Any) -> Session:
        """A session with the host's definitions and an error log beside the
        host's; keywords as ``Session`` takes them."""
        settings.setdefault("defs", self.defs)
        settings.setdefault("errlog", self.workdir / "errlog.txt")
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
    """A started ``HostSimulator``; stop it with ``stop()`` or a ``with``."""
    return HostSimulator(workdir, **options).start()
