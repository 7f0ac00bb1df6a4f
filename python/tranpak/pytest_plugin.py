"""pytest fixtures that start the host simulator (registered through the
``pytest11`` entry point, so installing the package is all it takes).

``tranpak_host``: a host on a free loopback port with a temporary served
directory and the package's example definitions, approving every request
whose MAC verifies with 39=00; it gives ``.host``, ``.port``, ``.key``
(bytes), ``.defs``, ``.dir`` and ``.log()``, and stops after the test.

``tranpak_host_factory(**options)``: a started host with other options,
named as the host's own (``fault="bad-mac"``, ``fault_every=3``,
``set={39: "00"}``, ``rule=["4>=1000 : 39=51"]``, ``delay_ms=500``,
``client_timeout=2``), or speaking a wire dialect (``wire={"LENGTH":
"BINARY2", "ENVELOPE": "NONE"}``, or ``settings=`` a settings file with a
``[Wire Format]`` section; ``host.session()`` speaks it too); every host
it started stops after the test.

Each host has a temporary folder of its own (its log, its served
directory), removed when it stops. A host ends with pytest however pytest
ends: at the end of its test, on the way out, on SIGTERM, and on Linux
when pytest is killed (see ``tranpak.simulator``).
"""
from __future__ import annotations

from typing import Any, Callable, Iterator, List

import pytest

from .simulator import HostSimulator


@pytest.fixture
def tranpak_host_factory() -> Iterator[Callable[..., HostSimulator]]:
    started: List[HostSimulator] = []

    def factory(**options: Any) -> HostSimulator:
        host = HostSimulator(**options)
        started.append(host)
        return host.start()

    yield factory
    for host in started:
        host.stop()


@pytest.fixture
def tranpak_host(tranpak_host_factory: Callable[..., HostSimulator]) -> HostSimulator:
    return tranpak_host_factory(set={39: "00"})
