"""The examples of docs/python.md run as they are written, from a folder
with nothing of tranpak in it."""
import re
import subprocess
import sys
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
# docs/ beside the tests (a copy of the tests run from the wheel), or the
# checkout's.
PAGE = next((p for p in (HERE.parent / "docs" / "python.md", HERE.parent.parent / "docs" / "python.md") if p.is_file()),
            None)


def python_blocks():
    return re.findall(r"```python\n(.*?)```", PAGE.read_text(), re.S)


@pytest.mark.skipif(PAGE is None, reason="docs/python.md is not beside the tests")
def test_the_first_example_runs_from_any_folder(tranpak_host, tmp_path):
    code = python_blocks()[0]
    assert "127.0.0.1\", 5000" in code
    run = subprocess.run([sys.executable, "-c", code.replace("5000", str(tranpak_host.port))], cwd=tmp_path,
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[0] == "response code 00", run.stdout
    assert "************0119" in run.stdout and "4761739001010119" not in run.stdout
