"""Exceptions say what and where: the library's detail, the system's error
number and the definition file's line travel with each failure."""
import errno
import pickle
import socket

import pytest

from tranpak import ArgumentError, ConnectError, Session, SettingsError, TranpakError

DEFS = """\
DIGITS    N    19,2  2
AMOUNT    NF   12    4
MAC       B    8     64
"""


@pytest.fixture
def session(tmp_path):
    (tmp_path / "defs.txt").write_text(DEFS)
    with Session(defs=tmp_path / "defs.txt", errlog=tmp_path / "errlog.txt") as s:
        yield s


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_a_value_too_long_for_its_field(session):
    with pytest.raises(ArgumentError) as caught:
        session[4] = "99999999999.99"
    e = caught.value
    assert e.detail == "field 4: 99999999999.99 needs 13 digits, the field holds 12"
    assert (e.field, e.os_error, e.line) == (4, 0, 0)
    assert e.text == "tranpak: TpSetCellText() field 4: 99999999999.99 needs 13 digits, the field holds 12"
    assert str(e) == e.text  # the line says it all already
    assert 4 not in session


def test_a_connection_refused(session):
    port = closed_port()
    with pytest.raises(ConnectError) as caught:
        session.connect("127.0.0.1", port)
    e = caught.value
    assert e.detail.startswith(f"connect to 127.0.0.1:{port}: ")
    assert e.os_error != 0
    assert e.text == "tranpak: connect error"
    assert str(e) == f"tranpak: connect error ({e.detail})"


def test_a_definition_line(tmp_path):
    (tmp_path / "defs.txt").write_text("# fields\nDIGITS N 19,2 2\n\nX NQ 5 7\n")
    with pytest.raises(SettingsError) as caught:
        Session(defs=tmp_path / "defs.txt")
    e = caught.value
    assert e.detail == (f'definitions {tmp_path / "defs.txt"} line 4: '
                        'type "NQ" is not one of ANS, NI, NF, A, AN, N, B, Z')
    assert (e.field, e.line, e.os_error) == (7, 4, 0)
    assert e.detail in str(e) and e.text in str(e)


def test_a_settings_file_that_is_not_there(tmp_path):
    missing = tmp_path / "nope.ini"
    with pytest.raises(SettingsError) as caught:
        Session(missing)
    e = caught.value
    assert e.detail == f"settings file {missing}: No such file or directory"
    assert e.os_error == errno.ENOENT


def test_card_data_stays_masked_in_the_detail(session):
    with pytest.raises(ArgumentError) as caught:
        session[2] = "4761 7390 0101 0119"
    assert "0101" not in caught.value.detail and caught.value.detail.endswith("0119 is not N")


def test_the_detail_survives_pickling():
    e = ConnectError("tranpak: connect error", detail="connect to h:1: refused", os_error=111)
    copy = pickle.loads(pickle.dumps(e))
    assert (type(copy), copy.text, copy.detail, copy.os_error, copy.line, str(copy)) == (
        ConnectError, e.text, e.detail, 111, 0, str(e))
    assert isinstance(copy, TranpakError)
