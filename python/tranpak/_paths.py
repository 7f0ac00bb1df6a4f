"""Where the files that come with the package are: the library, the three
programs, the header and the example settings.

A wheel carries them inside the package (``lib/``, ``bin/``, ``include/``,
``examples/``). A source checkout has none of them there; then the library
comes from ``TRANPAK_LIBRARY`` or the system's search path, the programs from
``PATH``, and the examples and header from the checkout around the package.
"""
from __future__ import annotations

import os
import shutil
import sys
from pathlib import Path
from typing import Optional

PACKAGE_DIR = Path(__file__).resolve().parent
# The checkout this package sits in when it is not installed: python/tranpak.
_CHECKOUT = PACKAGE_DIR.parent.parent

TOOLS = ("tranpak-host", "tranpak-client", "tranpak-trace")


def library_name() -> str:
    """The file name of the shared library on this system."""
    if sys.platform.startswith("win"):
        return "tranpak.dll"
    if sys.platform == "darwin":
        return "libtranpak.dylib"
    return "libtranpak.so"


def bundled_library() -> Optional[Path]:
    path = PACKAGE_DIR / "lib" / library_name()
    return path if path.is_file() else None


def tool_path(name: str) -> Path:
    """The program ``name`` (one of TOOLS): the package's own copy first,
    then the first one on PATH. Raises FileNotFoundError when neither."""
    if name not in TOOLS:
        raise ValueError(f"{name} is not one of {', '.join(TOOLS)}")
    exe = name + (".exe" if sys.platform.startswith("win") else "")
    bundled = PACKAGE_DIR / "bin" / exe
    if bundled.is_file():
        return bundled
    for folder in os.environ.get("PATH", "").split(os.pathsep):
        found = shutil.which(exe, path=folder) if folder else None
        # The package's own commands of these names are scripts that start
        # the bundled program; a program of its own is not a script.
        if found and not _is_script(found):
            return Path(found).resolve()
    raise FileNotFoundError(f"{name}: not in the package ({bundled}) nor on PATH")


def _is_script(path: str) -> bool:
    with open(path, "rb") as f:
        return f.read(2) == b"#!"


def example_file(name: str) -> Path:
    """An example file the package carries, found from any folder:
    ``bitmap.txt`` (the example definitions), ``8583.ini`` (example
    settings) or ``locustfile.py`` (the example Locust load). In a source
    checkout, the checkout's ``etc/`` and ``python/examples/``."""
    places = (PACKAGE_DIR / "examples", _CHECKOUT / "etc", _CHECKOUT / "python" / "examples")
    for folder in places:
        if (folder / name).is_file():
            return folder / name
    raise FileNotFoundError(f"example file {name} is in none of " + ", ".join(str(p) for p in places))


def header_path() -> Path:
    """``tranpak.h``: the package's copy, or the checkout's."""
    for path in (PACKAGE_DIR / "include" / "tranpak.h", _CHECKOUT / "include" / "tranpak.h"):
        if path.is_file():
            return path
    raise FileNotFoundError("tranpak.h is neither in the package nor in a checkout around it")


def environment_library() -> Optional[str]:
    value = os.environ.get("TRANPAK_LIBRARY", "")
    return value or None
