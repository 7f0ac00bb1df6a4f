"""A Locust user that exchanges messages with a host.

``TranpakUser`` gives each simulated terminal a session of its own and a
client, ``self.client.exchange(message, name=None)``, that does one
exchange and reports it to Locust's request events: the message type as
request type, the time from send to the checked reply, the reply frame's
length, and the exception when it failed (a refused MAC, a reply of another
type or with other fields 11 or 41, a time limit, a closed or refused
connection, a malformed frame, a request the host refused for its MAC with
39=A0: "the host refused the request's MAC"). Whatever an exchange raises
(an ``Exception``) is reported as a failed request, never let through.

Frames are made and read by the library (``Session.pack``, ``unpack``,
``check_mac``) and carried over Python's sockets, which Locust makes
cooperative: a worker process runs many users at once without a thread for
each, and a silent host holds only its own users.

Importing this module imports Locust, which patches the standard library
for gevent: import it from locustfiles, not from code that uses threads.
"""
from __future__ import annotations

import socket
import time
from typing import Any, Dict, Mapping, Optional, Tuple

import locust
import locust.runners
from locust import User

from . import _paths
from .errors import ConnectError, MacError, MalformedError, PeerClosedError, ReplyError, TimeLimitError
from .session import Key, Session, Value, key_bytes
from .simulator import DEFAULT_KEY

# Debian's Locust 2.12.1 reports an empty version, and a master refuses
# every worker that says so ("An old (pre 2.0) worker tried to connect").
# Master and workers all import this module, so they agree on this one.
if not locust.runners.__version__:
    locust.runners.__version__ = "2.12.1"

# A frame: start byte 0x02, four length digits counting the bytes up to the
# stop byte, then those bytes and the stop byte 0x03. A frame is read as
# far as its digits say, whatever they say: the library judges its length
# when it unpacks it, so the user takes every frame the library takes.
_START = 0x02
_LEN_DIGITS = 4
# The host's answer to a request whose MAC it refused (its default --refuse).
_MAC_REFUSED = "A0"


def _digits(text: str) -> bool:
    """Whether text is ASCII digits 0 to 9 and nothing else (``str.isdigit``
    also takes "²" and other digits that ``int`` refuses)."""
    return text.isascii() and text.isdigit()


def parse_address(address: Optional[str]) -> Tuple[str, int]:
    """``HOST:PORT`` (or ``tcp://HOST:PORT``) as Locust's ``--host`` gives it."""
    if not address:
        raise ValueError("no host: give --host HOST:PORT (or set host on the user class)")
    text = address[len("tcp://"):] if address.startswith("tcp://") else address
    host, sep, port = text.rstrip("/").rpartition(":")
    if not sep or not host or not _digits(port) or not 0 < int(port) < 65536:
        raise ValueError(f"host {address!r} is not HOST:PORT")
    return host, int(port)


def _recv_exactly(sock: socket.socket, count: int, deadline: float, got: bytearray) -> None:
    while len(got) < count:
        left = deadline - time.monotonic()
        if left <= 0:
            raise socket.timeout()
        sock.settimeout(left)
        chunk = sock.recv(count - len(got))
        if not chunk:
            raise PeerClosedError(f"tranpak: the host closed after {len(got)} bytes of a reply")
        got += chunk


def read_frame(sock: socket.socket, timeout: float) -> bytes:
    """One frame from ``sock`` within ``timeout`` seconds, read as far as
    its length digits say; the library checks the rest when it unpacks."""
    deadline = time.monotonic() + timeout
    got = bytearray()
    _recv_exactly(sock, 1 + _LEN_DIGITS, deadline, got)
    if got[0] != _START:
        raise MalformedError(f"tranpak: reply starts with 0x{got[0]:02X}, not 0x02", offset=0)
    digits = bytes(got[1:])
    if not _digits(digits.decode("latin-1")):
        raise MalformedError(f"tranpak: reply length digits {digits!r} are not a number", offset=1)
    _recv_exactly(sock, 1 + _LEN_DIGITS + int(digits) + 1, deadline, got)
    return bytes(got)


def answer_type(request_type: str) -> str:
    """The reply type of a request: its third digit raised by one."""
    if len(request_type) != 4 or not _digits(request_type[2]):
        return request_type
    return request_type[:2] + str((int(request_type[2]) + 1) % 10) + request_type[3]


def _same(a: Optional[str], b: Optional[str]) -> bool:
    """Field values compared as their fields carry them: text without the
    blanks that fill it, digits without left zeros."""
    if a is None or b is None:
        return a is b
    a, b = a.strip(), b.strip()
    return int(a) == int(b) if _digits(a) and _digits(b) else a == b


class TranpakClient:
    """Exchanges messages for one user on its session, over one connection
    kept open between exchanges (a new one after a failure), or one per
    exchange with ``keep_connection=False``."""

    def __init__(self, environment: Any, session: Session, host: str, port: int, key: Key, *,
                 reply_type: Optional[str] = None, timeout: float = 10.0, keep_connection: bool = True) -> None:
        self.environment = environment
        self.session = session
        self.host, self.port = host, port
        self.key = key_bytes(key)
        self.reply_type = reply_type
        self.timeout = timeout
        self.keep_connection = keep_connection
        self._sock: Optional[socket.socket] = None

    def close(self) -> None:
        if self._sock is not None:
            self._sock.close()
            self._sock = None

    def _connection(self) -> socket.socket:
        if self._sock is None:
            try:
                self._sock = socket.create_connection((self.host, self.port), timeout=self.timeout)
            except socket.timeout:
                raise TimeLimitError(f"tranpak: connect to {self.host}:{self.port}: no answer in {self.timeout} s") from None
            except OSError as e:
                raise ConnectError(f"tranpak: connect to {self.host}:{self.port}: {e.strerror or e}") from None
            self._sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return self._sock

    def _exchange(self, message: Mapping[int, Value]) -> Tuple[Dict[int, str], int]:
        s = self.session
        s.load(message)
        request_type, sent = s.get(0) or "", {f: s.get(f) for f in (11, 41)}
        frame = s.pack(self.key)
        sock = self._connection()
        try:
            sock.settimeout(self.timeout)
            sock.sendall(frame)
            reply_frame = read_frame(sock, self.timeout)
        except socket.timeout:
            raise TimeLimitError(f"tranpak: no whole reply within {self.timeout} s") from None
        except OSError as e:
            raise PeerClosedError(f"tranpak: connection lost: {e.strerror or e}") from None
        s.unpack(reply_frame)
        reply = s.reply()
        # A refused request comes back with 39=A0, and its MAC may not
        # verify under this key (the key is what the host refused): the
        # refusal is the failure to report, not the MAC of the answer.
        if reply.get(39) == _MAC_REFUSED:
            raise MacError("the host refused the request's MAC", field=39)
        s.check_mac(self.key)
        expected = self.reply_type or answer_type(request_type)
        if reply.get(0) != expected:
            raise ReplyError(f"reply type {reply.get(0)}, not {expected}", field=0)
        for field, value in sent.items():
            if value is not None and not _same(value, reply.get(field)):
                raise ReplyError(f"reply field {field} is {reply.get(field)!r}, not {value!r}", field=field)
        return reply, len(reply_frame)

    def exchange(self, message: Mapping[int, Value], name: Optional[str] = None) -> Optional[Dict[int, str]]:
        """One exchange, reported to Locust; the reply, or None when it
        failed (the failure is in Locust's statistics)."""
        request_type = str(message.get(0, ""))
        started = time.perf_counter()
        reply: Optional[Dict[int, str]] = None
        length = 0
        failure: Optional[BaseException] = None
        try:
            reply, length = self._exchange(message)
        except Exception as e:  # every failure goes to the statistics, whatever raised it
            failure = e
        finally:
            if failure is not None or not self.keep_connection:
                self.close()
        self.environment.events.request.fire(
            request_type=request_type, name=name or request_type,
            response_time=(time.perf_counter() - started) * 1000.0, response_length=length,
            exception=failure, context={}, response=reply)
        return reply


class TranpakUser(User):
    """A Locust user with a session of its own. ``--host`` (or ``host``)
    is ``HOST:PORT``. Set on a subclass: ``key`` (8 bytes or 16 hex
    characters), ``settings`` (a settings file) or ``session_options``
    (keywords of ``Session``; ``defs`` defaults to the package's example
    definitions), ``reply_type`` (default: the request's third digit raised
    by one), ``timeout`` (seconds for a connect and for each reply) and
    ``keep_connection``. An ``on_stop`` of a subclass calls
    ``super().on_stop()``, which closes the connection and wipes the
    session."""

    abstract = True
    key: Key = DEFAULT_KEY
    settings: Optional[str] = None
    session_options: Dict[str, Any] = {}
    reply_type: Optional[str] = None
    timeout: float = 10.0
    keep_connection: bool = True

    def __init__(self, environment: Any) -> None:
        super().__init__(environment)
        host, port = parse_address(self.host)
        if self.settings:
            self.session = Session(self.settings)
        else:
            options = dict(self.session_options)
            if options.get("defs") is None:
                options["defs"] = _paths.example_file("bitmap.txt")
            self.session = Session(**options)
        self.client = TranpakClient(environment, self.session, host, port, self.key, reply_type=self.reply_type,
                                    timeout=self.timeout, keep_connection=self.keep_connection)

    def on_stop(self) -> None:
        self.client.close()
        self.session.close()
