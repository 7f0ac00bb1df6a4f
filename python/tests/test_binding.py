"""The ctypes declarations against tranpak.h, and where the package finds
what it loads."""
import ctypes
import os
import re
import subprocess
import sys
from ctypes import POINTER, c_char, c_char_p, c_double, c_int, c_longlong, c_size_t, c_ubyte, c_void_p
from pathlib import Path

import pytest

import tranpak
from tranpak import binding, errors

HEADER = tranpak.header_path().read_text()

# How each C type of the header is passed through ctypes (the C ABI's
# rule, written here independently of the binding).
C_TO_CTYPES = {
    "void": None,
    "int": c_int,
    "size_t": c_size_t,
    "const char *": c_char_p,
    "char *": c_char_p,
    "const void *": c_void_p,
    "void *": c_void_p,
    "unsigned char *": POINTER(c_ubyte),
    "const unsigned char *": POINTER(c_ubyte),
    "int *": POINTER(c_int),
    "TpSession *": POINTER(binding.TpSession),
    "const TpSettings *": POINTER(binding.TpSettings),
    "TpCellDef *": POINTER(binding.TpCellDef),
    "TpError *": POINTER(binding.TpError),
    "TpDukptTerminal *": POINTER(binding.TpDukptTerminal),
    "TpTlvItem *": POINTER(binding.TpTlvItem),
}
MEMBER_TYPES = {"int": c_int, "const char *": c_char_p, "char": c_char}


def c_type(decl):
    """The type of a declaration without its name: "const char *path" ->
    "const char *"; an array parameter is a pointer."""
    decl = " ".join(decl.split())
    m = re.fullmatch(r"(.*?)(\**)\s*(\w+)(\[\d*\])?", decl)
    base, stars, _name, array = m.groups()
    base = base.strip()
    if array:
        stars += "*"
    return f"{base} {stars}" if stars else base


def header_functions():
    found = {}
    for ret, name, params in re.findall(r"TRANPAK_API\s+([\w\s*]+?)\s*TRANPAK_CALL\s+(\w+)\s*\(([^)]*)\)\s*;", HEADER):
        params = " ".join(params.split())
        args = [] if params == "void" else [c_type(p) for p in params.split(",")]
        found[name] = (" ".join(ret.split()), args)
    return found


def header_struct(name):
    body = re.search(r"typedef struct %s \{(.*?)\} %s;" % (name, name), HEADER, re.S).group(1)
    body = re.sub(r"/\*.*?\*/", "", body, flags=re.S)
    members = []
    for decl in filter(None, (d.strip() for d in body.split(";"))):
        m = re.fullmatch(r"(.*?)\s*(\w+)(?:\[(\d+)\])?", " ".join(decl.split()))
        ctype, member, count = m.groups()
        t = MEMBER_TYPES[ctype.replace(" *", " *").strip()]
        members.append((member, t * int(count) if count else t))
    return members


def header_define(name):
    return int(re.search(r"#define %s (\d+)" % name, HEADER).group(1))


def header_enum(name):
    body = re.search(r"typedef enum %s \{(.*?)\} %s;" % (name, name), HEADER, re.S).group(1)
    return {k: int(v) for k, v in re.findall(r"(\w+)\s*=\s*(\d+)", body)}


class TestDeclarationsMatchTheHeader:
    def test_every_function_of_the_header_is_declared_and_nothing_else(self):
        functions = header_functions()
        assert len(functions) == 79
        assert sorted(binding.FUNCTIONS) == sorted(functions)

    @pytest.mark.parametrize("name", sorted(header_functions()))
    def test_result_and_arguments(self, name):
        ret, args = header_functions()[name]
        restype, argtypes = binding.FUNCTIONS[name]
        assert restype is C_TO_CTYPES[ret], f"{name} returns {ret}"
        assert argtypes == [C_TO_CTYPES[a] for a in args], f"{name}({', '.join(args)})"

    @pytest.mark.parametrize("struct", ["TpSettings", "TpCellDef", "TpError", "TpTlvItem"])
    def test_records_member_by_member(self, struct):
        assert getattr(binding, struct)._fields_ == header_struct(struct)

    def test_session_storage_has_the_size_and_alignment_of_the_header(self):
        assert ctypes.sizeof(binding.TpSession) == header_define("TP_SESSION_SIZE") == binding.TP_SESSION_SIZE
        assert ctypes.alignment(binding.TpSession) == max(map(ctypes.alignment, (c_longlong, c_double, c_void_p)))
        assert binding.lib().TpSessionSize() == binding.TP_SESSION_SIZE

    def test_flags_and_codes(self):
        for flag in ("TP_DESCRIBE_JSON", "TP_DESCRIBE_UNMASKED", "TP_SHOW_MASKED", "TP_TLV_MAX_DEPTH",
                     "TP_TLV_MAX_VALUE_LEN"):
            assert getattr(binding, flag) == header_define(flag), flag
        enums = {**header_enum("CellType"), **header_enum("ErrCategory"), **header_enum("TpMacCovers")}
        for name, value in enums.items():
            assert getattr(binding, name) == value, name
        categories = header_enum("ErrCategory")
        assert {c.value for c in errors.Category} == set(categories.values())
        assert sorted(errors.BY_CATEGORY) == sorted(v for v in categories.values() if v != 0)


@pytest.mark.skipif(os.environ.get("TRANPAK_EXPECT_INSTALLED") != "1", reason="run from the source tree")
class TestTheInstalledWheel:
    """The tests run against the wheel installed in a virtual environment,
    which carries the library, the programs and the header itself."""

    def test_package_library_and_programs_come_from_the_environment(self):
        package = Path(tranpak.__file__).parent
        assert Path(sys.prefix) in package.parents
        assert Path(binding.lib()._name) == package / "lib" / "libtranpak.so"
        for tool in ("tranpak-host", "tranpak-client", "tranpak-trace"):
            assert tranpak.tool_path(tool) == package / "bin" / tool
        assert tranpak.header_path() == package / "include" / "tranpak.h"
        for example in ("bitmap.txt", "8583.ini", "locustfile.py"):
            assert tranpak.example_file(example) == package / "examples" / example

    @pytest.mark.parametrize("tool", ["tranpak-host", "tranpak-client", "tranpak-trace"])
    def test_commands_on_the_environments_path_run_the_bundled_programs(self, tool):
        out = subprocess.run([str(Path(sys.executable).parent / tool), "--version"], capture_output=True, text=True,
                             timeout=30)
        assert out.returncode == 0
        assert out.stdout.startswith(f"{tool} {tranpak.__version__}")


class TestWhereTheLibraryIsLookedFor:
    """The package's own copy first, then TRANPAK_LIBRARY, then the system's
    search path."""

    def test_the_order_of_the_candidates(self, monkeypatch, tmp_path):
        bundled = tmp_path / "bundled" / "libtranpak.so"
        monkeypatch.setattr(binding._paths, "bundled_library", lambda: bundled)
        monkeypatch.setenv("TRANPAK_LIBRARY", "/elsewhere/libtranpak.so")
        found = binding._candidates()
        assert found[:2] == [str(bundled), "/elsewhere/libtranpak.so"]
        assert found.index("/elsewhere/libtranpak.so") < found.index(
            "tranpak.dll" if sys.platform.startswith("win") else "libtranpak.so.1")

    def test_without_a_bundled_copy_the_environment_comes_first(self, monkeypatch):
        monkeypatch.setattr(binding._paths, "bundled_library", lambda: None)
        monkeypatch.setenv("TRANPAK_LIBRARY", "/elsewhere/libtranpak.so")
        assert binding._candidates()[0] == "/elsewhere/libtranpak.so"
        monkeypatch.delenv("TRANPAK_LIBRARY")
        assert "/elsewhere/libtranpak.so" not in binding._candidates()

    def test_a_library_that_cannot_be_loaded_is_named_in_the_failure(self, tmp_path):
        broken = tmp_path / "libtranpak.so"
        broken.write_text("not a library")
        with pytest.raises(OSError, match=str(broken)):
            binding.load(str(broken))
