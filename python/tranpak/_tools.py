"""The programs that come with the package, as commands on PATH: each
command replaces itself with the bundled program."""
import os
import subprocess
import sys

from . import _paths


def _run(name: str) -> None:
    path = str(_paths.tool_path(name))
    if sys.platform.startswith("win"):
        sys.exit(subprocess.call([path] + sys.argv[1:]))
    os.execv(path, [name] + sys.argv[1:])


def host() -> None:
    _run("tranpak-host")


def client() -> None:
    _run("tranpak-client")


def trace() -> None:
    _run("tranpak-trace")
