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
            held.pop("time", None)  # a trigger's time is when it was read, which each surface does itself
            agree(s, held, f"{document}[{i}]")


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
