"""What a Session, a Connection and a host leave behind: no socket after
close() or collection, no host and no temporary folder after their owner
ends, however it ends."""
import gc
import importlib.metadata
import json
import os
import signal
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import pytest

import tranpak
from tranpak import ArgumentError, MacError, Session
from tranpak.simulator import FOLDER_PREFIX, remove_stale_folders

PURCHASE = {0: "0200", 2: "4761739001010119", 4: "12.50", 11: "000001", 41: "TERM0001"}
linux_only = pytest.mark.skipif(not sys.platform.startswith("linux"), reason="counts /proc/self/fd")


def open_fds():
    return len(os.listdir("/proc/self/fd"))


def ended(pid, timeout=10.0):
    """Whether process pid ends within timeout (a zombie nobody reaps has)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            return True
        try:
            if Path(f"/proc/{pid}/stat").read_bytes().rsplit(b")", 1)[1].split()[0] == b"Z":
                return True
        except (OSError, IndexError):
            return True
        time.sleep(0.05)
    return False


def gone(path, timeout=10.0):
    deadline = time.monotonic() + timeout
    while Path(path).exists() and time.monotonic() < deadline:
        time.sleep(0.05)
    return not Path(path).exists()


# --- sockets -------------------------------------------------------------------


def closed_by_close(host):
    with host.session() as s:
        conns = [s.connect(host.host, host.port) for _ in range(3)]
        conns[0].exchange(host.key, PURCHASE)
        for c in conns:
            c.close()


def dropped_unclosed(host):
    s = host.session()
    conns = [s.connect(host.host, host.port) for _ in range(3)]
    conns[1].exchange(host.key, PURCHASE)
    del conns
    gc.collect()
    s.close()


def dropped_with_the_session(host):
    s = host.session()
    conn = s.connect(host.host, host.port)
    conn.exchange(host.key, PURCHASE)
    del s, conn
    gc.collect()


def session_closed_first(host):
    s = host.session()
    conn = s.connect(host.host, host.port)
    s.close()
    with pytest.raises(ArgumentError):
        conn.exchange(host.key, PURCHASE)
    conn.close()  # nothing left to close, and no other socket closed instead


def a_failed_exchange(host):
    with host.session() as s:
        with pytest.raises(MacError):
            s.exchange(host.host, host.port, "FEDCBA9876543210", PURCHASE)  # the host answers 39=A0
        conn = s.connect(host.host, host.port)
        with pytest.raises(MacError):
            conn.exchange("FEDCBA9876543210", PURCHASE)


@linux_only
@pytest.mark.parametrize("case", [closed_by_close, dropped_unclosed, dropped_with_the_session, session_closed_first,
                                  a_failed_exchange], ids=lambda f: f.__name__)
def test_no_socket_is_left_open(tranpak_host, case):
    # a first exchange, so that whatever is opened once (the library, the
    # error log) is open before the count
    tranpak_host.exchange(PURCHASE)
    gc.collect()
    before = open_fds()
    case(tranpak_host)
    gc.collect()
    assert open_fds() == before


@linux_only
def test_a_connection_collected_closes_its_own_socket_only(tranpak_host):
    with tranpak_host.session() as s:
        kept = s.connect(tranpak_host.host, tranpak_host.port)
        dropped = s.connect(tranpak_host.host, tranpak_host.port)
        del dropped
        gc.collect()
        assert kept.exchange(tranpak_host.key, PURCHASE)[39] == "00"
        kept.close()


# --- hosts ---------------------------------------------------------------------

OWNER = textwrap.dedent("""
    import json, os, signal, sys, time
    import tranpak
    host = tranpak.start_host(set={39: "00"})
    assert host.exchange({0: "0200", 11: "000001"})[39] == "00"
    print(json.dumps({"host": host.process.pid, "folder": str(host.workdir)}), flush=True)
    how = sys.argv[1]
    if how == "exit":
        sys.exit(0)          # without stop()
    if how == "error":
        raise SystemExit("the owner fails")
    os.kill(os.getpid(), getattr(signal, how))
    time.sleep(30)
""")


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="signals as Linux has them")
@pytest.mark.parametrize("how, returncode, folder_left", [
    ("exit", 0, False),
    ("error", 1, False),
    ("SIGTERM", -signal.SIGTERM, False),
    ("SIGKILL", -signal.SIGKILL, True),  # nothing of the owner runs: the next start removes it
])
def test_a_host_ends_with_its_owner(how, returncode, folder_left):
    owner = subprocess.Popen([sys.executable, "-c", OWNER, how], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True)
    try:
        started = json.loads(owner.stdout.readline() or "{}")
        assert owner.wait(timeout=30) == returncode, owner.stderr.read()
    finally:
        if owner.poll() is None:
            owner.kill()
    assert started, owner.stderr.read()
    assert ended(started["host"]), f"the host {started['host']} outlived its owner"
    if folder_left:
        assert Path(started["folder"]).is_dir()
        assert Path(started["folder"]) in remove_stale_folders()
    assert gone(started["folder"])


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="signals as Linux has them")
def test_pytest_ended_by_sigterm_takes_its_hosts_and_folders_along(tmp_path):
    (tmp_path / "test_waits.py").write_text(textwrap.dedent("""
        import json, time
        def test_waits(tranpak_host):
            with open("started.json", "w") as f:
                json.dump({"host": tranpak_host.process.pid, "folder": str(tranpak_host.workdir)}, f)
            time.sleep(60)
    """))
    registered = any(e.name == "tranpak" for e in importlib.metadata.entry_points().select(group="pytest11"))
    plugin = [] if registered else ["-p", "tranpak.pytest_plugin"]
    run = subprocess.Popen([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider"] + plugin
                           + ["test_waits.py"], cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        deadline = time.monotonic() + 30
        while not (tmp_path / "started.json").exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        started = json.loads((tmp_path / "started.json").read_text())
        assert Path(started["folder"]).name.startswith(FOLDER_PREFIX)
        run.send_signal(signal.SIGTERM)
        assert run.wait(timeout=30) == -signal.SIGTERM
    finally:
        if run.poll() is None:
            run.kill()
            run.wait()
    assert ended(started["host"])
    assert gone(started["folder"])


def test_stop_removes_the_folder_made_and_keeps_the_log(tmp_path):
    host = tranpak.start_host(set={39: "00"})
    folder = host.workdir
    assert (folder / "owner").read_text().split() == [str(os.getpid()), str(host.process.pid)]
    host.exchange(PURCHASE)
    host.wait_for_log("-> 0210")
    host.stop()
    assert not folder.exists()
    assert "-> 0210" in host.log()
    # a folder given is the caller's: left as it is
    with tranpak.start_host(tmp_path / "mine") as mine:
        pass
    assert (tmp_path / "mine" / "host.log").is_file() and mine.log()


def test_stale_folders_are_only_those_whose_processes_ended(tmp_path):
    child = subprocess.run([sys.executable, "-c", "import os; print(os.getpid())"], capture_output=True, text=True)
    dead = int(child.stdout)
    folders = {
        "dead owner and host": f"{dead} {dead}",
        "living owner": f"{os.getpid()} {dead}",
        "living host": f"{dead} {os.getppid()}",
        "no pids": "",
    }
    for n, (name, pids) in enumerate(folders.items()):
        (tmp_path / f"{FOLDER_PREFIX}{n}").mkdir()
        (tmp_path / f"{FOLDER_PREFIX}{n}" / "owner").write_text(pids)
    (tmp_path / f"{FOLDER_PREFIX}nofile").mkdir()
    (tmp_path / "other-folder").mkdir()
    (tmp_path / "other-folder" / "owner").write_text(f"{dead} {dead}")
    assert remove_stale_folders(tmp_path) == [tmp_path / f"{FOLDER_PREFIX}0"]
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(
        [f"{FOLDER_PREFIX}1", f"{FOLDER_PREFIX}2", f"{FOLDER_PREFIX}3", f"{FOLDER_PREFIX}nofile", "other-folder"])
