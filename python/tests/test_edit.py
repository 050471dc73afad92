"""qal3.edit: the library's record editor from Python, byte for byte what
the tool's set, add and drop give, and refusals that change nothing."""
import os
import subprocess

import pytest

import qal3

DOC = (b'<?xml version="1.0" encoding="ISO-8859-1" ?>\n'
       b'<QAL3USERTRIGGERLIST>\n'
       b'  <!-- kept -->\n'
       b'  <USERTRIGGER>\n'
       b'    <Chan name="A/B" subchan="0"/>\n'
       b'    <Function name="MEAN" start="2" end="5"/>\n'
       b'    <Operation name="INSIDE"/>\n'
       b'    <LowLimit value="0.25"/>\n'
       b'    <UpperLimit value="3.5"/>\n'
       b'  </USERTRIGGER>\n'
       b'</QAL3USERTRIGGERLIST>\n')

EDITS = [
    # (action, selector, fields, the tool's arguments after FILE)
    ("set", 1, {"upper": 4.0, "start": 1.5}, ["1", "upper=4.0", "start=1.5"]),
    ("set", {"channel": "A/B", "function": "MEAN"}, {"group": "beam"},
     ["channel=A/B,function=MEAN", "group=beam"]),
    ("add", None, {"channel": "C/D", "operation": "LT", "upper": 2}, ["channel=C/D", "operation=LT", "upper=2"]),
    ("drop", "channel=A/B", None, ["channel=A/B"]),
]


@pytest.mark.parametrize("action, selector, fields, args", EDITS)
def test_edit_matches_the_tool_and_keeps_the_rest(tmp_path, action, selector, fields, args):
    path = tmp_path / "t.xml"
    path.write_bytes(DOC)
    result = qal3.edit(path, action, selector, fields)
    assert path.read_bytes() == result
    assert b"<!-- kept -->" in result
    tool = os.environ.get("QAL3_TOOL")
    if tool:
        again = tmp_path / "u.xml"
        again.write_bytes(DOC)
        out = subprocess.run([tool, "trigger", action, str(again)] + args, capture_output=True)
        assert out.returncode == 0, out.stderr
        assert out.stdout == result


@pytest.mark.parametrize("action, selector, fields, message", [
    ("set", 2, {"low": 1}, "no record 2"),
    ("set", 1, {"low": 1e40}, ":4:3: low: '1e+40' is beyond what a float holds"),
    ("set", 1, {"nofield": 1}, "no field is named 'nofield'"),
    ("move", 1, {}, "action must be"),
])
def test_refused_edits_change_nothing(tmp_path, action, selector, fields, message):
    path = tmp_path / "t.xml"
    path.write_bytes(DOC)
    with pytest.raises(ValueError, match=message.replace("+", r"\+")):
        qal3.edit(path, action, selector, fields)
    assert path.read_bytes() == DOC
    assert qal3.edit(path, "set", 1, {"low": 0.5}, write=False) != DOC
    assert path.read_bytes() == DOC
