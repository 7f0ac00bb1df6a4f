"""The Locust user: what it reports, and the example locustfile run
headless and distributed (one master, two workers) against the fixture's
host. Locust runs in processes of its own: importing it patches the
standard library for gevent, which the other tests must not see."""
import csv
import importlib.util
import json
import os
import socket
import subprocess
import sys
import threading

import pytest

import tranpak

# Looked for, not imported: importing Locust would patch this process's
# threads and sockets for gevent, under the tests that follow.
if importlib.util.find_spec("locust") is None:
    pytest.skip("locust is not installed", allow_module_level=True)

# The example locustfile as the package carries it.
LOCUSTFILE = tranpak.example_file("locustfile.py")
PURCHASE = {0: "0200", 2: "4761739001010119", 4: "12.50", 11: "000001", 41: "TERM0001"}

# Exchanges through TranpakClient in a process of its own; prints what each
# reported to Locust's request event.
REPORTER = r"""
import json, sys
from locust.env import Environment
from tranpak import Session
from tranpak.locust import TranpakClient

env = Environment()
seen = []
env.events.request.add_listener(lambda **event: seen.append(event))
out = []
for case in json.loads(sys.argv[1]):
    with Session(defs=case["defs"]) as s:
        client = TranpakClient(env, s, "127.0.0.1", case["port"], case["key"], timeout=case["timeout"],
                               reply_type=case["reply_type"])
        reply = client.exchange({int(k): v for k, v in case["message"].items()}, name="purchase")
        client.close()
    event = seen[-1]
    e = event["exception"]
    out.append({"request_type": event["request_type"], "name": event["name"], "length": event["response_length"],
                "ms": event["response_time"], "exception": type(e).__name__ if e else None,
                "field": getattr(e, "field", None), "offset": getattr(e, "offset", None), "text": str(e) if e else None,
                "reply39": reply.get(39) if reply else None})
print(json.dumps(out))
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def locust_env(host):
    env = dict(os.environ, TRANPAK_KEY=host.key.hex(), TRANPAK_DEFS=str(host.defs))
    env.pop("PYTHONWARNINGS", None)
    return env


class CannedHost:
    """Answers every frame it reads, on every connection, with one frame
    given (for replies the host simulator does not send)."""

    def __init__(self, reply: bytes) -> None:
        self.reply = reply
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self) -> None:
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            with conn:
                conn.settimeout(10)
                try:
                    while True:
                        head = conn.recv(5, socket.MSG_WAITALL)
                        if len(head) < 5:
                            break
                        conn.recv(int(head[1:]) + 1, socket.MSG_WAITALL)
                        conn.sendall(self.reply)
                except OSError:
                    pass

    def close(self) -> None:
        self.listener.close()


def long_reply(key: bytes) -> bytes:
    """A 0210 of 2045 bytes after the head, longer than the library packs
    (2041) but as long as it takes (2047): fields 11, 39, 41 and 48 (116
    bytes) and 58 to 63 (312 each) of LONG_DEFS, and a MAC (not the right
    one: the frame reaching the MAC check is what counts)."""
    data = (b"000001" + b"00" + b"TERM0001" + b"116" + b"x" * 116 + b"".join(b"312" + bytes([c]) * 312 for c in b"abcdef")
            + b"M" * 8)
    fields = (11, 39, 41, 48, 58, 59, 60, 61, 62, 63, 64)
    bits = sum(1 << (64 - f) for f in fields)
    body = b"0210" + bits.to_bytes(8, "big") + data
    return b"\x02" + b"%04d" % len(body) + body + b"\x03"


LONG_DEFS = "\n".join(["STAN N 6 11", "RESPCODE AN 2 39", "TERMID ANS 8 41", "ADDDATA ANS 120,3 48"]
                      + [f"LONG{f} ANS 312,3 {f}" for f in range(58, 64)] + ["MAC B 8 64", ""])


def totals(prefix):
    with open(f"{prefix}_stats.csv", newline="") as f:
        row = next(r for r in csv.DictReader(f) if r["Name"] == "Aggregated")
    return int(row["Request Count"]), int(row["Failure Count"])


class TestReports:
    def test_each_outcome_as_locust_gets_it(self, tranpak_host_factory):
        good = tranpak_host_factory(set={39: "00"})
        bad_mac = tranpak_host_factory(fault="bad-mac")
        other_terminal = tranpak_host_factory(set={41: "TERM0002"})
        garbage = tranpak_host_factory(fault="garbage")
        silent = socket.socket()
        silent.bind(("127.0.0.1", 0))
        silent.listen(1)
        with silent:
            closed = free_port()
            cases = [
                (good.port, None, 10),
                (good.port, "0110", 10),
                (bad_mac.port, None, 10),
                (other_terminal.port, None, 10),
                (garbage.port, None, 10),
                (silent.getsockname()[1], None, 1),
                (closed, None, 10),
            ]
            arg = json.dumps([{"port": port, "reply_type": reply_type, "timeout": timeout, "key": good.key.hex(),
                               "defs": str(good.defs), "message": PURCHASE} for port, reply_type, timeout in cases])
            run = subprocess.run([sys.executable, "-c", REPORTER, arg], capture_output=True, text=True, timeout=120)
        assert run.returncode == 0, run.stderr
        got = json.loads(run.stdout.splitlines()[-1])
        assert [(r["exception"], r["field"], r["offset"]) for r in got] == [
            (None, None, None),
            ("ReplyError", 0, None),
            ("MacError", 64, 17 + 18 + 12 + 6 + 8),  # the MAC after 2, 4, 11 and 41
            ("ReplyError", 41, None),
            ("MalformedError", None, 0),
            ("TimeLimitError", None, None),
            ("ConnectError", None, None),
        ]
        assert {(r["request_type"], r["name"]) for r in got} == {("0200", "purchase")}
        # the reply: 12 bytes of type and bitmap; 2 (18), 4 (12), 11 (6), 39 (2),
        # 41 (8), 64 (8); start, length digits and stop byte
        assert got[0]["length"] == 4 + 8 + 18 + 12 + 6 + 2 + 8 + 8 + 6
        assert got[0]["reply39"] == "00"
        assert got[5]["length"] == 0 and got[5]["ms"] >= 900

    def test_what_escaped_the_statistics_or_was_reported_as_something_else(self, tranpak_host_factory, tmp_path):
        good = tranpak_host_factory(set={39: "00"})
        other_key = tranpak_host_factory(key="FEDCBA9876543210")  # refuses our MAC: 39=A0
        # A reply field 41 of "1234567" and a superscript two (0xB2), which
        # str.isdigit takes and int() refuses, against a request's 12345670.
        with tranpak.Session(defs=good.defs) as s:
            s.load({0: "0210", 11: "000001", 39: "00", 41: "1234567\xb2"})
            superscript = s.pack(good.key)
        (tmp_path / "long.txt").write_text(LONG_DEFS)
        long_frame = long_reply(good.key)
        assert len(long_frame) == 2045 + 6
        hosts = [CannedHost(superscript), CannedHost(long_frame)]
        try:
            cases = [
                (hosts[0].port, good.defs, {**PURCHASE, 41: "12345670"}),
                (other_key.port, good.defs, PURCHASE),
                (hosts[1].port, tmp_path / "long.txt", {0: "0200", 11: "000001", 41: "TERM0001"}),
                (good.port, good.defs, {**PURCHASE, 4: 12.5}),  # a float: TypeError before anything is sent
            ]
            arg = json.dumps([{"port": port, "reply_type": None, "timeout": 10, "key": good.key.hex(),
                               "defs": str(defs), "message": message} for port, defs, message in cases])
            run = subprocess.run([sys.executable, "-c", REPORTER, arg], capture_output=True, text=True, timeout=120)
        finally:
            for h in hosts:
                h.close()
        assert run.returncode == 0, run.stderr
        got = json.loads(run.stdout.splitlines()[-1])
        assert [(r["exception"], r["field"], r["offset"]) for r in got] == [
            ("ReplyError", 41, None),
            ("MacError", 39, None),
            ("MacError", 64, len(long_frame) - 1 - 8),
            ("TypeError", None, None),
        ]
        assert got[1]["text"] == "the host refused the request's MAC"
        assert got[2]["length"] == 0


def test_a_headless_run(tranpak_host, tmp_path):
    run = subprocess.run([sys.executable, "-m", "locust", "-f", str(LOCUSTFILE), "--headless", "-u", "4", "-r", "4",
                          "-t", "4s", "--host", tranpak_host.address, "--csv", str(tmp_path / "run"), "--only-summary",
                          "--loglevel", "WARNING"],
                         capture_output=True, text=True, timeout=90, env=locust_env(tranpak_host), cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    requests, failures = totals(tmp_path / "run")
    assert requests > 100 and failures == 0
    assert "MAC ok -> 0210 39=00" in tranpak_host.log()


def test_one_master_and_two_workers(tranpak_host, tmp_path):
    port = str(free_port())
    common = [sys.executable, "-m", "locust", "-f", str(LOCUSTFILE)]
    env = locust_env(tranpak_host)
    master_log = open(tmp_path / "master.log", "w")
    master = subprocess.Popen(common + ["--master", "--master-bind-host", "127.0.0.1", "--master-bind-port", port,
                                        "--expect-workers", "2", "--headless", "-u", "4", "-r", "4", "-t", "5s",
                                        "--host", tranpak_host.address, "--csv", str(tmp_path / "run"),
                                        "--only-summary"],
                              stdout=master_log, stderr=subprocess.STDOUT, env=env, cwd=tmp_path)
    workers = [subprocess.Popen(common + ["--worker", "--master-host", "127.0.0.1", "--master-port", port],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, cwd=tmp_path)
               for _ in range(2)]
    try:
        master_rc = master.wait(timeout=90)
        worker_rcs = [w.wait(timeout=30) for w in workers]
    finally:
        for p in [master] + workers:
            if p.poll() is None:
                p.kill()
                p.wait()
        master_log.close()
    log = (tmp_path / "master.log").read_text()
    assert master_rc == 0, log
    assert worker_rcs == [0, 0]
    assert "2 workers connected" in log and "to 2 ready workers" in log
    requests, failures = totals(tmp_path / "run")
    assert requests > 100 and failures == 0
