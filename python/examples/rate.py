"""Exchanges per second from Python next to tranpak-client's load mode, in
one run against one host simulator:

    python rate.py [seconds per Python run, default 3]

For 1 and 8 connections: Python sessions on threads (one session each)
with a connection kept open (``Session.connect``) and with a connection per
exchange (``Session.exchange``), and tranpak-client --count with the same
connections, kept open and with --connect-each. The machine's cores and
load average (1 minute) are printed before and after: the figures are only
as steady as the machine is idle.
"""
import json
import os
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import tranpak

PURCHASE = {0: "0200", 2: "4761739001010119", 4: "12.50", 11: "000001", 41: "TERM0001"}


def python_rate(host, threads, seconds, keep):
    done = [0] * threads
    failed = []
    start = threading.Barrier(threads + 1)
    stop = threading.Event()

    def terminal(n):
        with host.session() as s:
            conn = s.connect(host.host, host.port) if keep else None
            start.wait()
            while not stop.is_set():
                try:
                    if keep:
                        conn.exchange(host.key, PURCHASE)
                    else:
                        s.exchange(host.host, host.port, host.key, PURCHASE)
                    done[n] += 1
                except tranpak.TranpakError as e:
                    failed.append(e)
                    return
            if conn is not None:
                conn.close()

    workers = [threading.Thread(target=terminal, args=(n,)) for n in range(threads)]
    for w in workers:
        w.start()
    start.wait()
    began = time.perf_counter()
    time.sleep(seconds)
    stop.set()
    for w in workers:
        w.join()
    elapsed = time.perf_counter() - began
    if failed:
        raise failed[0]
    return sum(done) / elapsed


def client_rate(host, settings, connections, count, keep):
    cmd = [str(tranpak.tool_path("tranpak-client")), "--settings", str(settings), "--port", str(host.port), "--key",
           host.key.hex(), "--count", str(count), "--connections", str(connections), "--json", "--no-progress"]
    cmd += [] if keep else ["--connect-each"]
    cmd += ["0200"] + [f"{f}={v}" for f, v in PURCHASE.items() if f]
    out = subprocess.run(cmd, capture_output=True, text=True, timeout=600)
    summary = json.loads(out.stdout)
    if summary["failed"]:
        raise RuntimeError(out.stderr)
    return summary["per_second"]


def machine():
    load = f"load average {os.getloadavg()[0]:.2f}" if hasattr(os, "getloadavg") else "load average unknown"
    return f"{os.cpu_count()} cores, {load}"


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 3.0
    print(machine(), flush=True)
    work = Path(tempfile.mkdtemp(prefix="tranpak-rate-"))
    with tranpak.start_host(work / "host", set={39: "00"}) as host:
        settings = work / "8583.ini"
        settings.write_text(f"[Bitmap Define File]\nBMPFILE={host.defs}\n[Error Log File]\nERRFILE={work / 'errlog.txt'}\n")
        print(f"{'connection':<12} {'threads':>7} {'Python/s':>10} {'client/s':>10} {'Python/client':>13}")
        for keep in (True, False):
            for threads in (1, 8):
                py = python_rate(host, threads, seconds, keep)
                # about as many exchanges as Python did, at least 2000
                client = client_rate(host, settings, threads, max(2000, int(py * seconds)), keep)
                print(f"{'kept' if keep else 'each':<12} {threads:>7} {py:>10.0f} {client:>10.0f} {py / client:>13.2f}",
                      flush=True)
    print(machine(), flush=True)


if __name__ == "__main__":
    main()
