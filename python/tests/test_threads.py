"""Sessions on threads: the calls that can wait let go of the interpreter's
lock, the others keep it, and an exchange on a kept connection lets go of
it once (each letting go and taking back puts a thread in line behind all
the others)."""
import ctypes
import socket
import threading
import time

import pytest

from tranpak import TimeLimitError, binding

PURCHASE = {0: "0200", 2: "4761739001010119", 4: "12.50", 11: "000001", 41: "TERM0001"}


def keeps_the_lock(fn):
    return bool(fn._flags_ & ctypes._FUNCFLAG_PYTHONAPI)


def test_only_the_calls_that_can_wait_let_go_of_the_lock():
    lib = binding.lib()
    waiting = {name for name in binding.FUNCTIONS if not keeps_the_lock(getattr(lib, name))}
    assert waiting == set(binding.BLOCKING)
    assert waiting == {name for name in binding.FUNCTIONS
                       if name.startswith(("Sock", "TpSock")) or name in ("Init8583", "TpInit8583", "TpInit8583With")}


class Recorder:
    """The session's library, noting every call by name."""

    def __init__(self, lib):
        self.lib = lib
        self.calls = []

    def __getattr__(self, name):
        fn = getattr(self.lib, name)

        def call(*args):
            self.calls.append(name)
            return fn(*args)
        return call


def test_an_exchange_on_a_kept_connection_lets_go_once(tranpak_host):
    with tranpak_host.session() as s, s.connect(tranpak_host.host, tranpak_host.port) as conn:
        conn.exchange(tranpak_host.key, PURCHASE)
        s._lib = Recorder(s._lib)
        reply = conn.exchange(tranpak_host.key, {**PURCHASE, 11: "000002"})
        calls = s._lib.calls
        s._lib = s._lib.lib
    assert reply[11] == "000002" and reply[39] == "00"
    assert [c for c in calls if c in binding.BLOCKING] == ["TpSockExchange"]
    # the message set in one call and the reply read in one
    assert calls == ["TpResetMesg", "TpSetCellTexts", "TpSockExchange", "TpGetCellTexts"]


def test_a_thread_waiting_on_a_socket_leaves_the_others_running(tranpak_host):
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen(1)
        failures = []

        def waits():
            with tranpak_host.session(recv_limit=1) as s, s.connect("127.0.0.1", silent.getsockname()[1]) as conn:
                try:
                    conn.exchange(tranpak_host.key, PURCHASE)
                except TimeLimitError as e:
                    failures.append(e)

        t = threading.Thread(target=waits)
        started = time.monotonic()
        t.start()
        counted = 0
        while t.is_alive():
            counted += 1
        assert time.monotonic() - started >= 0.9
        t.join()
    assert len(failures) == 1
    assert counted > 10000  # the interpreter ran on while the other thread waited


@pytest.mark.parametrize("threads", [8])
def test_sessions_on_threads_on_kept_connections(tranpak_host, threads):
    replies = {}

    def terminal(n):
        with tranpak_host.session() as s, s.connect(tranpak_host.host, tranpak_host.port) as conn:
            replies[n] = [conn.exchange(tranpak_host.key, {**PURCHASE, 11: f"{n}{i:05d}"})[11] for i in range(200)]

    workers = [threading.Thread(target=terminal, args=(n,)) for n in range(1, threads + 1)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert replies == {n: [f"{n}{i:05d}" for i in range(200)] for n in range(1, threads + 1)}
