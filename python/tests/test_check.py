"""qal3.check: the same findings as the tool and the C++ face for a folder
of documents that find fault with themselves and with one another, and the
module's own ways of giving documents and options."""
import json
import os
import pickle
import subprocess

import pytest

import qal3

CHAN = ('<CHANDESCRIPTIONS>\n<CHANNEL><DB_KEY>1</DB_KEY><PROP>A/B/C</PROP><NAME>ABC</NAME></CHANNEL>\n'
        '<CHANNEL><PROP>B3</PROP><NAME>BEE</NAME></CHANNEL>\n</CHANDESCRIPTIONS>\n')


def triggers(*bodies):
    return "<QAL3USERTRIGGERLIST>\n" + "".join(f"<USERTRIGGER>{b}</USERTRIGGER>\n" for b in bodies) + \
        "</QAL3USERTRIGGERLIST>\n"


def trigger(channel="ABC", function="VALUE", operation="GT", limits='<LowLimit value="5"/>'):
    return f'<Chan name="{channel}"/><Function name="{function}"/><Operation name="{operation}"/>{limits}'


# A folder whose documents show findings of many kinds, several across files.
FOLDER = {
    "a_chan.xml": CHAN,
    "b_chan.xml": ('<CHANDESCRIPTIONS>\n<CHANNEL><DB_KEY>2</DB_KEY><PROP>A/B/C</PROP><NAME>XYZ</NAME></CHANNEL>\n'
                   '<CHANNEL><PROP>D</PROP><NAME>BEE</NAME></CHANNEL>\n'  # one DAQ name for B3 and D
                   '</CHANDESCRIPTIONS>\n'),  # described differently
    "triggers.xml": triggers(
        trigger("NO/SUCH/CHANNEL"),  # undescribed; GT with only a LowLimit
        trigger("B33", "MEANN"),  # did you mean B3; not in the registry
        trigger(operation="INSIDE", limits='<LowLimit value="5"/><UpperLimit value="1"/>'),  # crossed
        trigger(limits='<LowLimit value="abc"/><UpperLimit value="1"/>')),  # no number: the schema
    "sub/envdict.xml": ("<ENVINDEXDICT>\n<CHANNEL><INDEX>1</INDEX><PROP>A</PROP><DABS>-0.5</DABS></CHANNEL>\n"
                        "</ENVINDEXDICT>\n"),  # negative
    "sub/evlist.xml": ("<BMR>\n<EVENT><TYPE>1</TYPE><SBLOCK>S<CHLIST><CHAN>A/B/D</CHAN></CHLIST></SBLOCK></EVENT>\n"
                       "<EVENT><TYPE>40</TYPE></EVENT>\n</BMR>\n"),  # undescribed; out of range
    "pom.xml": "<project/>\n",  # another tool's: skipped
}


def write(folder, files):
    for name, text in files.items():
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_text(text)
    return folder


def as_tuple(document, line, column, severity, code, message):
    return (document, line, column, severity, code, message)


def test_the_tool_the_module_and_the_cpp_face_find_the_same(tmp_path):
    tool, face = os.environ.get("QAL3_TOOL"), os.environ.get("QAL3_CHECK_FACE")
    if not tool or not face:
        pytest.skip("QAL3_TOOL and QAL3_CHECK_FACE are not set (run the tests through ctest)")
    folder = str(write(tmp_path, FOLDER))
    report = qal3.check(folder)
    module = [as_tuple(f.document, f.line, f.column, f.severity.name.lower(), f.code, f.message) for f in report]
    codes = {f.code for f in report}
    assert {"undescribed", "described-differently", "shared-daq-name", "limit-unset", "limits-crossed", "negative",
            "unknown-name", "schema", "out-of-range"} <= codes, codes
    assert {f.code for f in report if f.across} == {"undescribed", "described-differently", "shared-daq-name"}
    assert [d.state for d in report.documents if d.name.endswith("pom.xml")] == [qal3.CheckState.SKIPPED]

    out = subprocess.run([face, folder], capture_output=True, text=True)
    assert out.returncode == (0 if report.passes else 1), out.stderr
    face_findings = [json.loads(line) for line in out.stdout.splitlines()]
    assert [as_tuple(**{k: v for k, v in f.items() if k != "across"}) for f in face_findings] == module
    assert [f["across"] for f in face_findings] == [f.across for f in report]

    out = subprocess.run([tool, "check", "--json", folder], capture_output=True, text=True)
    assert out.returncode == (0 if report.passes else 1), out.stderr
    shown = json.loads(out.stdout)
    tool_findings = [as_tuple(entry["file"], f.get("line", 0), f.get("column", 0), f["severity"], f["code"],
                              f["message"]) for entry in shown["files"] for f in entry["findings"]]
    assert sorted(tool_findings) == sorted(module)  # the tool files each finding under its document
    assert (shown["errors"], shown["warnings"]) == (report.errors, report.warnings)
    assert [s["file"] for s in shown["skipped"]] == [d.name for d in report.documents
                                                     if d.state == qal3.CheckState.SKIPPED]
    # A finding's str() is the tool's line.
    lines = subprocess.run([tool, "check", folder], capture_output=True, text=True).stdout
    assert lines == str(report) == "".join(f"{f}\n" for f in report)


W, E = "WARNING", "ERROR"
LIMIT_UNSET = ("t.xml", W, "limit-unset")
UTF16 = ('<?xml version="1.0" encoding="UTF-16"?>\n' + triggers(trigger())).encode("utf-16")


def texts(**documents):
    return lambda folder: dict(text=documents)


# (case, the arguments of check given a folder, the findings (document's
# base name, severity, code), the documents' states by base name)
CASES = [
    ("a text named", lambda _: dict(text=triggers(trigger()), name="t.xml"), [LIMIT_UNSET], {"t.xml": "CHECKED"}),
    ("a text unnamed", lambda _: dict(text=triggers(trigger())), [("<text>", W, "limit-unset")],
     {"<text>": "CHECKED"}),
    ("UTF-16 bytes", lambda _: dict(text=UTF16, name="t.xml"), [LIMIT_UNSET], {"t.xml": "CHECKED"}),
    ("strict", lambda _: dict(text=triggers(trigger()), name="t.xml", strict=True), [("t.xml", E, "limit-unset")],
     {"t.xml": "CHECKED"}),
    ("an unknown function", texts(**{"t.xml": triggers(trigger(function="SITEFN"))}),
     [("t.xml", E, "unknown-name"), LIMIT_UNSET], {"t.xml": "CHECKED"}),
    ("a known function", lambda _: dict(text={"t.xml": triggers(trigger(function="SITEFN"))}, known="SITEFN"),
     [LIMIT_UNSET], {"t.xml": "CHECKED"}),
    ("texts together", texts(**{"c.xml": CHAN, "t.xml": triggers(trigger("NOPE"))}),
     [("t.xml", W, "undescribed"), LIMIT_UNSET], {"c.xml": "CHECKED", "t.xml": "CHECKED"}),
    ("a path and a text together", lambda d: dict(paths=d / "c.xml", text=triggers(trigger("NOPE")), name="t.xml"),
     [("t.xml", W, "undescribed"), LIMIT_UNSET], {"c.xml": "CHECKED", "t.xml": "CHECKED"}),
    ("an unreadable file", lambda d: dict(paths=[d / "missing.xml"]), [("missing.xml", E, "unreadable")],
     {"missing.xml": "UNREADABLE"}),
    ("a file too large", lambda d: dict(paths=[os.fsencode(d / "c.xml")], max_bytes=10),
     [("c.xml", E, "too-large")], {"c.xml": "TOO_LARGE"}),
    ("a folder with a foreign file", lambda d: dict(paths=d), [LIMIT_UNSET],
     {"c.xml": "CHECKED", "pom.xml": "SKIPPED", "t.xml": "CHECKED"}),
    ("a foreign file named", lambda d: dict(paths=d / "pom.xml"), [("pom.xml", E, "unknown-root")],
     {"pom.xml": "CHECKED"}),
    ("a folder with exclusions", lambda d: dict(paths=str(d), exclude=["pom.*", "t.xml"]), [], {"c.xml": "CHECKED"}),
]


@pytest.mark.parametrize("case, arguments, findings, states", CASES, ids=[c[0] for c in CASES])
def test_what_check_is_given(tmp_path, case, arguments, findings, states):
    write(tmp_path, {"c.xml": CHAN, "t.xml": triggers(trigger()), "pom.xml": "<project/>\n"})
    report = qal3.check(**arguments(tmp_path))
    got = sorted((os.path.basename(f.document), f.severity.name, f.code) for f in report)
    assert got == sorted(findings)
    assert {os.path.basename(d.name): d.state.name for d in report.documents} == states
    assert report.passes == (E not in {f[1] for f in findings})
    assert (report.errors, report.warnings) == tuple(sum(f[1] == s for f in findings) for s in (E, W))
    if case == "an unreadable file":
        assert report.documents[0].reason and report.documents[0].family == qal3.Family.UNKNOWN
    if case == "a text named":
        assert report.documents[0].family == qal3.Family.TRIGGER_LIST
        assert report.documents[0].root == "QAL3USERTRIGGERLIST"


@pytest.mark.parametrize("arguments, error", [
    (dict(), ValueError),  # nothing to check
    (dict(paths=[]), ValueError),
    (dict(paths="a\0b"), ValueError),
    (dict(text="<BMR/>", name="a\0b"), ValueError),
    (dict(text="<BMR/>", known=[""]), ValueError),
    (dict(text="<BMR/>", known=["A\0"]), ValueError),
    (dict(text="<BMR/>", exclude=[b"*"]), TypeError),
    (dict(text="<BMR/>", max_bytes=0), ValueError),
    (dict(text=42), TypeError),
    (dict(text={"a.xml": "<BMR/>"}, name="b.xml"), TypeError),
    (dict(paths=".", name="b.xml"), TypeError),
])
def test_what_check_refuses(arguments, error):
    with pytest.raises(error):
        qal3.check(**arguments)


def test_a_report_as_a_frame_and_its_findings_as_values():
    report = qal3.check(text={"c.xml": CHAN, "t.xml": triggers(trigger("NOPE"))})
    finding = pickle.loads(pickle.dumps(report.findings[0]))
    assert finding == report.findings[0] and str(finding) == str(report.findings[0])
    assert str(finding).startswith("t.xml:2:") and ": warning: " in str(finding)
    pd = pytest.importorskip("pandas")
    frame = report.to_frame()
    assert list(frame.columns) == ["document", "line", "column", "severity", "code", "message", "across"]
    assert list(frame["code"]) == [f.code for f in report]
    assert list(frame["severity"]) == ["warning", "warning"] and frame["across"].tolist() == [False, True]
    assert frame["line"].dtype == "int64"
    assert list(qal3.check(text=CHAN).to_frame().columns) == list(frame.columns)
    assert isinstance(frame, pd.DataFrame)
