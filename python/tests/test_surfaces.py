"""Every family read by the tool and by the module, before and after the
module writes it back: the tool's JSON and the module's records hold the
same fields. A record made new holds what the family's reader gives a
document that leaves its fields out."""
import dataclasses
import functools
import json
import os
import subprocess
import warnings

import numpy as np
import pytest

import qal3

daqvars = functools.partial(qal3.write_chan, format="daqvars")
old_layout = functools.partial(qal3.read_envdict, layout="old")


def agree(shown, held, where="record"):
    """The tool's value equals the module's, reals as the float32 they are."""
    if isinstance(held, dict):  # keys that are no field of the record are presentation
        for key, value in held.items():
            assert key in shown, f"{where}.{key} missing from the tool's JSON"
            named = isinstance(value, str) and key + "_name" in shown  # a registry slot by its name
            agree(shown[key + "_name" if named else key], value, f"{where}.{key}")
    elif isinstance(held, list):
        assert len(shown) == len(held), where
        for i, (s, h) in enumerate(zip(shown, held)):
            agree(s, h, f"{where}[{i}]")
    elif isinstance(held, float):
        assert np.float32(shown) == np.float32(held) or np.isnan(held) and np.isnan(shown), where
    else:
        assert shown == held, where


@pytest.mark.parametrize("document, read, write, command, key", [
    ("evlist_basic.xml", qal3.read_evlist, qal3.write_evlist, ["evlist"], "entries"),
    ("chan_descriptions.xml", qal3.read_chan, qal3.write_chan, ["chan", "print"], "channels"),
    ("chan_daqvariables.xml", qal3.read_chan, daqvars, ["chan", "print"], "channels"),
    ("envdict.xml", qal3.read_envdict, qal3.write_envdict, ["envdict"], "entries"),
    ("envdict.xml", old_layout, lambda r, p: qal3.write_envdict(r, p, layout="old"), ["envdict", "--old-layout"],
     "entries"),
    ("triggers.xml", qal3.read_triggers, qal3.write_triggers, ["trigger", "print"], "triggers"),
    ("gige_camera.xml", qal3.read_gige, qal3.write_gige, ["gige"], "features"),
])
def test_tool_and_module_read_the_same_fields(tmp_path, examples, document, read, write, command, key):
    tool = os.environ.get("QAL3_TOOL")
    if not tool:
        pytest.skip("QAL3_TOOL is not set (run the tests through ctest)")
    written = tmp_path / document
    for path in (examples / document, written):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            records = read(path)
            write(records, written)
        shown = json.loads(subprocess.run([tool, *command, "--json", str(path)], capture_output=True,
                                          check=True).stdout)
        shown = shown["files"][0] if "files" in shown else shown
        assert len(shown[key]) == len(records) > 0
        for i, (s, r) in enumerate(zip(shown[key], records)):
            held = r.to_dict()
            assert type(r).from_dict(held) == r
            # the tool's JSON reads back, its names of numbers taken (less a feature's position, shown only)
            assert type(r).from_dict({k: v for k, v in s.items() if k != "position"}) == r
            held.pop("time", None)  # a trigger's time is when it was read, which each surface does itself
            for name in getattr(r, "_PARAMETERS", ()):  # fparam by the parameters' names
                held.pop(name)
            agree(s, held, f"{document}[{i}]")


@pytest.mark.parametrize("document, read, write, convert, key", [
    ("triggers.xml", qal3.read_triggers, qal3.write_triggers, ["trigger", "convert"], "triggers"),
    ("plot_hard_triggers.xml", qal3.read_triggers, qal3.write_triggers, ["trigger", "convert"], "triggers"),
    ("chan_descriptions.xml", qal3.read_chan, qal3.write_chan, ["chan", "convert", "--to", "chandescr"], "channels"),
    ("envdict.xml", qal3.read_envdict, qal3.write_envdict, ["envdict", "--xml", "-"], "entries"),
    ("envdict.xml", old_layout, lambda r, p: qal3.write_envdict(r, p, layout="old"),
     ["envdict", "--old-layout", "--xml", "-"], "entries"),
])
def test_the_tool_writes_the_modules_dicts(tmp_path, examples, document, read, write, convert, key):
    """to_dict() as the tool's --from json takes it: the records the module writes."""
    tool = os.environ.get("QAL3_TOOL")
    if not tool:
        pytest.skip("QAL3_TOOL is not set (run the tests through ctest)")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        records = read(examples / document)
        given = json.dumps({key: [r.to_dict() for r in records]})
        written = subprocess.run([tool, *convert, "--from", "json", "-"], input=given.encode(), capture_output=True,
                                 check=True).stdout
        (tmp_path / "tool.xml").write_bytes(written)
        write(records, tmp_path / "module.xml")
        assert read(tmp_path / "tool.xml") == read(tmp_path / "module.xml")


_ENVDICT = "<ENVINDEXDICT><CHANNEL><INDEX>3</INDEX><PROP>P</PROP></CHANNEL></ENVINDEXDICT>"


@pytest.mark.parametrize("parse, document, make, identity", [
    (qal3.parse_evlist, "<BMR><EVENT><TYPE>7</TYPE></EVENT></BMR>", qal3.EvEntry, dict(evtype=7)),
    (qal3.parse_chan, "<CHANDESCRIPTIONS><CHANNEL><PROP>P</PROP></CHANNEL></CHANDESCRIPTIONS>",
     qal3.ChanDescr, dict(prop_name="P")),
    (qal3.parse_chan, "<DAQvariables><DaqFloat><nexol>P</nexol></DaqFloat></DAQvariables>",
     qal3.ChanDescr, dict(prop_name="P")),
    (qal3.parse_envdict, _ENVDICT, qal3.EnvIndexEntry, dict(index=3, env_prop="P")),
    (functools.partial(qal3.parse_envdict, layout="old"), _ENVDICT, qal3.EnvIndexEntry, dict(index=3, env_prop="P")),
    (qal3.parse_triggers, '<QAL3USERTRIGGERLIST><USERTRIGGER><Chan name="C"/></USERTRIGGER></QAL3USERTRIGGERLIST>',
     qal3.Trigger, dict(channel="C")),
    (qal3.parse_gige, '<RegisterDescription><Undefined Name="F"/></RegisterDescription>', qal3.GigEFeature,
     dict(name="F")),
])
def test_a_new_record_holds_what_a_document_without_its_fields_reads_as(parse, document, make, identity):
    (read,) = parse(document)
    read, made = read.to_dict(), make(**identity).to_dict()
    assert abs(read.pop("time", 0) - made.pop("time", 0)) <= 1  # the time each was made
    assert read == made


# One trigger list over one recording of three events, one case a trigger:
# the tool (an events file and the same recording as .npz), the module and
# the C++ face give the same outcome and value to every trigger in every event.
REPLAY_CASES = [  # (case, channel, subchannel, function, window, operation)
    ("a window", "S", 0, "MEAN", (2, 5), "GT"),
    ("a second subchannel of the channel", "S", 1, "MAX", (0, -1), "GT"),
    ("a DIFF function's first event", "S", 0, "DIFFMAX", (0, -1), "GT"),
    ("a missing channel", "NOPE", 0, "MEAN", (0, -1), "GT"),
    ("a missing subchannel", "S", 3, "MEAN", (0, -1), "GT"),
    ("a misspelt name", "S", 0, "MEANN", (0, -1), "GTT"),
    ("a window past the spectrum", "S", 0, "MEAN", (20, 30), "GT"),
    ("NaN data", "N", 0, "MAX", (0, -1), "GT"),
]


def test_a_replay_gives_the_same_outcomes_on_every_surface(tmp_path):
    tool, face = os.environ.get("QAL3_TOOL"), os.environ.get("QAL3_REPLAY_FACE")
    if not tool or not face:
        pytest.skip("QAL3_TOOL and QAL3_REPLAY_FACE are not set (run the tests through ctest)")
    triggers = "".join(
        f'<USERTRIGGER><Chan name="{c}" subchan="{s}"/><Function name="{f}" start="{w[0]}" end="{w[1]}"/>'
        f'<Operation name="{op}"/><UpperLimit value="1.5"/></USERTRIGGER>\n' for _, c, s, f, w, op in REPLAY_CASES)
    (tmp_path / "t.xml").write_text(f"<QAL3USERTRIGGERLIST>\n{triggers}</QAL3USERTRIGGERLIST>\n")
    rng = np.random.default_rng(7)
    recording = {"S": rng.normal(1, 1, (3, 10)).astype(np.float32), "S[1]": rng.normal(2, 1, (3, 4)).astype(np.float32),
                 "N": np.full((3, 5), np.nan, np.float32)}
    np.savez(tmp_path / "r.npz", **recording)
    rows = ["channel,subchannel,event,start,inc,samples"]
    for e in range(3):
        for name, a in recording.items():
            channel, _, sub = name.partition("[")
            rows.append(",".join([channel, sub.rstrip("]") or "0", str(e), "0", "1", *map(repr, a[e].tolist())]))
    (tmp_path / "e.csv").write_text("\n".join(rows) + "\n")

    with pytest.warns(qal3.Warning):
        table = qal3.replay(qal3.read_triggers(tmp_path / "t.xml"), recording)
    module = {(e, k): (int(table.outcome[e, k]), table.value[e, k]) for e in range(3) for k in range(len(REPLAY_CASES))}
    assert table.missing == ["NOPE", "S[3]"]
    out = subprocess.run([face, tmp_path / "t.xml", tmp_path / "e.csv"], capture_output=True, text=True, check=True)
    surfaces = {"C++ face": {(int(e), int(k)): (int(o), np.float32(v)) for e, k, o, v in map(str.split, out.stdout.splitlines())}}
    for source in (["--events", tmp_path / "e.csv"], ["--recording", tmp_path / "r.npz"]):
        out = subprocess.run([tool, "trigger", "test", "--json", tmp_path / "t.xml", *source], capture_output=True,
                             text=True, check=True).stdout
        codes = {o.name.lower(): int(o) for o in qal3.Outcome}
        surfaces[f"tool {source[0]}"] = {
            (r["event"] - 1, r["trigger"] - 1): (codes[r["outcome"]], np.float32(np.nan if r["result"] is None else r["result"]))
            for r in map(json.loads, out.splitlines()) if "summary" not in r}
    for name, got in surfaces.items():
        for (e, k), (outcome, value) in module.items():
            case = f"{name}, {REPLAY_CASES[k][0]}, event {e}"
            assert got[e, k][0] == outcome, case
            assert got[e, k][1] == value or np.isnan(value) and np.isnan(got[e, k][1]), case
    expected = {0: "NOT_FIRED FIRES", 2: "FIRST_EVENT", 3: "NO_DATA", 4: "NO_DATA", 6: "NO_RESULT", 7: "NOT_FIRED"}
    for k, names in expected.items():
        assert qal3.Outcome(module[0, k][0]).name in names.split(), REPLAY_CASES[k][0]
