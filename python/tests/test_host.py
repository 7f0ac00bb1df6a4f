"""Exchanges and files with the host simulator of the pytest plugin, and
each failure as its exception."""
import socket
import threading
import time

import pytest

from tranpak import (Category, ConnectError, HostRefusedError, LocalFileError, MacError, MalformedError,
                     PeerClosedError, TimeLimitError)
from tranpak.simulator import HostStartError

PURCHASE = {0: "0200", 2: "4761739001010119", 4: "12.50", 11: "000001", 41: "TERM0001"}


class TestExchange:
    def test_a_purchase(self, tranpak_host):
        with tranpak_host.session() as s:
            reply = s.exchange(tranpak_host.host, tranpak_host.port, tranpak_host.key, PURCHASE)
            assert reply == {0: "0210", 2: "4761739001010119", 4: "12.50", 11: "000001", 39: "00", 41: "TERM0001",
                             64: reply[64]}
            assert reply == s.message()
            assert "   39  RESPCODE  AN    00" in s.describe().splitlines()
        log = tranpak_host.wait_for_log("-> 0210")
        assert "message 0200 fields 2,4,11,41,64, MAC ok -> 0210 39=00" in log

    def test_the_fixture_gives_what_a_test_needs(self, tranpak_host):
        assert tranpak_host.host == "127.0.0.1" and tranpak_host.port > 0
        assert tranpak_host.key == bytes.fromhex("0123456789ABCDEF")
        assert tranpak_host.defs.read_text().startswith("# Field definitions")
        assert tranpak_host.dir.is_dir() and list(tranpak_host.dir.iterdir()) == []
        assert f"listening on 127.0.0.1:{tranpak_host.port}" in tranpak_host.log()

    def test_a_kept_connection_serves_many_exchanges(self, tranpak_host):
        with tranpak_host.session() as s, s.connect(tranpak_host.host, tranpak_host.port) as conn:
            for stan in range(1, 4):
                assert conn.exchange(tranpak_host.key, {**PURCHASE, 11: f"{stan:06d}"})[11] == f"{stan:06d}"
        log = tranpak_host.wait_for_log("fields 2,4,11,41,64, MAC ok -> 0210 39=00", timeout=10)
        assert "#2" not in log  # one connection

    def test_set_and_rule_options(self, tranpak_host_factory):
        host = tranpak_host_factory(set={39: "00", 38: "AB12"}, rule=["4>=1000 : 39=51"])
        small = host.exchange(PURCHASE)
        large = host.exchange({**PURCHASE, 4: "1000.00"})
        assert (small[38], small[39]) == ("AB12  ", "00")  # a received fixed field keeps its fill
        assert (large[38], large[39]) == ("AB12  ", "51")

    def test_sessions_on_threads_exchange_at_once(self, tranpak_host):
        replies = {}

        def terminal(n):
            with tranpak_host.session() as s:
                replies[n] = [s.exchange(tranpak_host.host, tranpak_host.port, tranpak_host.key,
                                         {**PURCHASE, 11: f"{n}{i:05d}", 41: f"TERM{n:04d}"})[11] for i in range(20)]

        threads = [threading.Thread(target=terminal, args=(n,)) for n in range(1, 9)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert replies == {n: [f"{n}{i:05d}" for i in range(20)] for n in range(1, 9)}

    def test_an_option_the_host_does_not_have_stops_it_from_starting(self, tranpak_host_factory):
        with pytest.raises(HostStartError, match="no-such-option"):
            tranpak_host_factory(no_such_option=1)


@pytest.fixture
def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class TestFailures:
    """Each exception class from a real failure, with the field and frame
    offset where one is concerned."""

    def test_a_bad_mac_every_second_reply(self, tranpak_host_factory):
        host = tranpak_host_factory(set={39: "00"}, fault="bad-mac", fault_every=2)
        with host.session() as s:
            assert s.exchange(host.host, host.port, host.key, PURCHASE)[39] == "00"
            with pytest.raises(MacError) as caught:
                s.exchange(host.host, host.port, host.key, PURCHASE)
        e = caught.value
        # the MAC follows fields 2 (18 bytes), 4 (12), 11 (6), 39 (2) and 41 (8)
        assert (e.category, e.field, e.offset) == (Category.MAC, 64, 17 + 18 + 12 + 6 + 2 + 8)
        assert e.text == "tranpak: mac check error"
        assert "[fault: wrong MAC]" in host.wait_for_log("[fault: wrong MAC]")

    def test_a_refused_connection(self, tranpak_host, closed_port):
        with tranpak_host.session() as s, pytest.raises(ConnectError) as caught:
            s.exchange("127.0.0.1", closed_port, tranpak_host.key, PURCHASE)
        e = caught.value
        assert isinstance(e, ConnectionError)
        assert (e.category, e.field, e.offset) == (Category.CONNECT, None, None)

    def test_a_time_limit_against_a_silent_peer(self, tranpak_host):
        with socket.socket() as silent:
            silent.bind(("127.0.0.1", 0))
            silent.listen(1)
            with tranpak_host.session(recv_limit=1) as s:
                started = time.monotonic()
                with pytest.raises(TimeLimitError) as caught:
                    s.exchange("127.0.0.1", silent.getsockname()[1], tranpak_host.key, PURCHASE)
        assert isinstance(caught.value, TimeoutError)
        assert caught.value.text == "tranpak: recv time limit of 1 s passed"
        assert 0.9 < time.monotonic() - started < 30

    def test_a_late_host_passes_the_time_limit(self, tranpak_host_factory):
        host = tranpak_host_factory(fault="late", delay_ms=4000)
        with host.session(recv_limit=1) as s, pytest.raises(TimeLimitError):
            s.exchange(host.host, host.port, host.key, PURCHASE)
        assert "[fault: 4000 ms late]" in host.wait_for_log("ms late]")

    def test_the_host_closes_without_answering(self, tranpak_host_factory):
        host = tranpak_host_factory(fault="close")
        with host.session() as s, pytest.raises(PeerClosedError) as caught:
            s.exchange(host.host, host.port, host.key, PURCHASE)
        assert caught.value.category == Category.PEER_CLOSED

    def test_a_connection_idle_beyond_the_hosts_client_timeout_is_dropped(self, tranpak_host_factory):
        host = tranpak_host_factory(client_timeout=1)
        with host.session(recv_limit=10) as s, s.connect(host.host, host.port) as conn:
            host.wait_for_log("connection dropped: no whole frame within 1 s", timeout=15)
            with pytest.raises(PeerClosedError):
                conn.exchange(host.key, PURCHASE)

    def test_a_garbage_reply(self, tranpak_host_factory):
        host = tranpak_host_factory(fault="garbage")
        with host.session() as s, pytest.raises(MalformedError) as caught:
            s.exchange(host.host, host.port, host.key, PURCHASE)
        assert (caught.value.category, caught.value.offset) == (Category.MALFORMED, 0)

    def test_a_local_file_that_is_not_there(self, tranpak_host, tmp_path):
        with tranpak_host.session() as s, pytest.raises(LocalFileError) as caught:
            s.send_file(tranpak_host.host, tranpak_host.port, tmp_path / "missing.bin", "copy.bin")
        assert str(tmp_path / "missing.bin") in caught.value.text

    def test_the_host_refuses_a_file_it_does_not_have(self, tranpak_host, tmp_path):
        with tranpak_host.session() as s, pytest.raises(HostRefusedError) as caught:
            s.fetch_file(tranpak_host.host, tranpak_host.port, "missing.bin", tmp_path / "got.bin")
        assert caught.value.category == Category.HOST_REFUSED
        assert not (tmp_path / "got.bin").exists()


class TestFiles:
    CONTENT = b"line one\r\nline two\r\n\x1a after the end mark\x00\xff" * 500

    def test_a_file_sent_and_fetched_byte_for_byte(self, tranpak_host, tmp_path):
        (tmp_path / "out.bin").write_bytes(self.CONTENT)
        with tranpak_host.session() as s:
            s.send_file(tranpak_host.host, tranpak_host.port, tmp_path / "out.bin", "copy.bin")
            assert (tranpak_host.dir / "copy.bin").read_bytes() == self.CONTENT
            s.fetch_file(tranpak_host.host, tranpak_host.port, "copy.bin", tmp_path / "back.bin")
        assert (tmp_path / "back.bin").read_bytes() == self.CONTENT
        assert f"file 'copy.bin' stored, {len(self.CONTENT)} bytes" in tranpak_host.log()

    def test_as_text(self, tranpak_host, tmp_path):
        (tmp_path / "out.txt").write_bytes(b"one\r\ntwo\r\n\x1athree")
        with tranpak_host.session() as s:
            s.send_file(tranpak_host.host, tranpak_host.port, tmp_path / "out.txt", "copy.txt", binary=False)
            assert (tranpak_host.dir / "copy.txt").read_bytes() == b"one\ntwo\n"
            s.fetch_file(tranpak_host.host, tranpak_host.port, "copy.txt", tmp_path / "back.txt", binary=False)
        assert (tmp_path / "back.txt").read_bytes() == b"one\r\ntwo\r\n"
