"""The module as a Python user meets it: arguments, registry, numpy input,
reprs, docstrings, stubs and the star import."""
import ast
import inspect
import os
import pathlib
import re
import subprocess
import sys

import numpy as np
import pytest

import qal3
from qal3 import _core


def test_chan_selector_takes_one_path_or_many(examples):
    path = examples / "chan_descriptions.xml"
    n = len(qal3.ChanSelector([path]))
    for one in (path, str(path), os.fsencode(path)):
        assert len(qal3.ChanSelector(one)) == n
    assert len(qal3.ChanSelector(path.read_text(), documents=True)) == n
    assert repr(qal3.ChanSelector(str(path))) == f"ChanSelector([{str(path)!r}], channels={n})"
    with pytest.raises(TypeError):
        qal3.ChanSelector(42)


def test_free_registry_slots_are_marked_and_refused():
    funcs, ops = qal3.functions(), qal3.operations()
    assert [f.slot for f in funcs if f.free] == list(range(16, 32))
    assert [o.slot for o in ops if o.free] == list(range(13, 32))
    with pytest.raises(ValueError, match="FUNC20.*free"):
        qal3.Trigger(function="FUNC20")
    with pytest.raises(ValueError, match="OP13.*free"):
        qal3.Trigger(operation="OP13")


@pytest.mark.parametrize("dtype", [np.float64, np.int16, np.uint32, np.float32])
def test_replay_takes_float_and_integer_arrays_as_float32(dtype):
    t = qal3.Trigger(channel="C", function="SUM", fparam=[0.0, -1.0, 1.0], operation="GT", low=5.0)
    data = np.arange(12).reshape(3, 4)
    fired, value = qal3.evaluate(t, data.astype(dtype))
    want = data.astype(np.float32).sum(axis=1, dtype=np.float32)
    np.testing.assert_array_equal(value, want)
    assert list(fired) == list(want > 5)


@pytest.mark.parametrize("bad, error", [(np.zeros((2, 2, 2)), ValueError), (np.float64(1.0), ValueError),
                                        (np.array(["a"]), TypeError), (np.zeros(2, complex), TypeError),
                                        # a copy that cannot be made
                                        (np.broadcast_to(np.float32(1), (10**6, 10**6)), MemoryError),
                                        (np.broadcast_to(np.int16(1), (10**6, 10**6)), MemoryError)])
def test_replay_refuses_other_arrays(bad, error):
    with pytest.raises(error):
        qal3.evaluate(qal3.Trigger(channel="C"), bad)


@pytest.mark.parametrize("field, value", [("low", "1.0"), ("upper", None), ("fparam", ["x"])])
def test_a_wrong_type_is_a_type_error_naming_the_field(field, value):
    with pytest.raises(TypeError, match=field):
        qal3.Trigger(channel="C", **{field: value})
    t = qal3.Trigger(channel="C")
    setattr(t, field, value)  # set after making: the writers and the replay refuse it
    for call in (qal3.write_triggers, lambda t: qal3.Replay(t)):
        with pytest.raises(TypeError, match=field):
            call([t] if call is qal3.write_triggers else t)
    with pytest.raises(TypeError, match="env_ch_abs_delta"):
        qal3.EnvIndexEntry(1, "P", "0.5")
    for field, value in (("bits", ["x"]), ("stream", "x")):
        with pytest.raises(TypeError, match=field):
            qal3.ChanDescr(prop_name="P", **{field: value})


def test_warnings_point_at_the_caller_and_errors_list_their_lines():
    with pytest.warns(qal3.Warning) as caught:
        qal3.write_chan([qal3.ChanDescr(prop_name="P"), qal3.ChanDescr(prop_name="P")])
    assert [w.filename for w in caught] == [__file__]
    with pytest.raises(qal3.Error) as error:
        qal3.parse_triggers("<QAL3USERTRIGGERLIST><USERTRIGGER>")
    lines = error.value.messages
    assert lines and all(isinstance(line, str) for line in lines)
    assert str(error.value) == error.value.what + "\n" + "\n".join(lines)
    doc = " ".join(qal3.Trigger.__doc__.split())
    for told in ("``pre_mode``: A number of events", "``post_mode``: A number of events", "``valid``: A flag",
                 "``fparam``: The function's parameters"):
        assert told in doc


def test_replay_repr_shows_the_trigger_and_its_state():
    r = qal3.Replay(qal3.Trigger(channel="BEAM", subchannel=2, function="DIFFMEAN", fparam=[0.0, -1.0, 1.0],
                                 operation="GT"))
    assert repr(r) == "Replay(channel='BEAM', subchannel=2, function=DIFFMEAN, operation=GT)"
    r.spectra(np.full(4, 2.5, np.float32))
    assert repr(r).endswith(", previous=2.5)")


def test_version_and_docstrings():
    assert qal3.__version__.count(".") == 2
    missing = []
    for name in dir(qal3):
        obj = getattr(qal3, name)
        if name.startswith("_") or not (inspect.isclass(obj) or callable(obj)):
            continue
        if not inspect.getdoc(obj):
            missing.append(name)
        if inspect.isclass(obj) and obj.__module__.startswith("qal3"):
            for m, member in vars(obj).items():
                if not m.startswith("_") and callable(member) or isinstance(member, property):
                    if not m.startswith("_") and not inspect.getdoc(member):
                        missing.append(f"{name}.{m}")
    assert missing == []


def test_stubs_cover_the_extension_exactly():
    folder = pathlib.Path(qal3.__file__).parent
    assert (folder / "py.typed").exists()
    tree = ast.parse((folder / "_core.pyi").read_text())
    stubbed = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            stubbed[node.name] = None
        elif isinstance(node, ast.ClassDef):
            stubbed[node.name] = {n.name for n in node.body if isinstance(n, ast.FunctionDef)}
        elif isinstance(node, ast.AnnAssign):
            stubbed[node.target.id] = None
    public = {n for n in dir(_core) if not n.startswith("_") or n == "__version__"}
    assert set(stubbed) == public
    for name, methods in stubbed.items():
        if methods is not None:
            cls = getattr(_core, name)
            have = {m for m in vars(cls) if not m.startswith("_")} | {"__init__"}
            have |= {m for m in ("__len__",) if m in vars(cls)}
            assert methods == have, name


def test_star_import_keeps_the_builtin_warning():
    scope = {}
    exec("from qal3 import *", scope)
    assert "Warning" not in scope and scope["QAL3Warning"] is qal3.Warning
    assert issubclass(qal3.Warning, UserWarning)
    # the namespace holds what it exports and private names only
    assert {n for n in dir(qal3) if not n.startswith("_")} == set(qal3.__all__) | {"Warning"}


def test_the_replay_example_writes_only_where_it_is_told(tmp_path, examples):
    script = examples / "replay_triggers.py"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    run = lambda *args: subprocess.run([sys.executable, str(script), "--events", "20", *args], cwd=tmp_path,
                                       env=env, capture_output=True, text=True, check=True)
    assert "DIFFMAX" in run().stdout
    assert list(tmp_path.iterdir()) == []
    run("--out", str(tmp_path / "rec"))
    assert sorted(p.name for p in (tmp_path / "rec").iterdir()) == [
        "beam_current_sub0.npy", "beam_current_sub1.npy", "vac_status.npy"]


def test_record_classes_have_the_libraries_fields():
    from dataclasses import fields
    from qal3 import _records
    for name, names in _core.record_fields().items():
        assert tuple(f.name for f in fields(getattr(_records, name))) == names, name


@pytest.mark.parametrize("doc, family", [
    ("<BMR/>", qal3.Family.EVENT_LIST),
    ('<?xml version="1.0" encoding="UTF-16"?>\n<DAQvariables/>', qal3.Family.DAQ_VARIABLES),
    ('<?xml version="1.0" encoding="UTF-16"?>\n<QAL3USERTRIGGERLIST/>'.encode("utf-16"),
     qal3.Family.TRIGGER_LIST),
    (b"<!-- <BMR/> --><project/>", qal3.Family.UNKNOWN),
    (b"<?xml version='1.0'?><BMR>", qal3.Family.EVENT_LIST),
    (b"\x00not XML", qal3.Family.UNKNOWN),
])
def test_family_is_named_by_the_root_as_the_readers_take_it(tmp_path, doc, family):
    assert qal3.parse_family(doc) == family
    if isinstance(doc, bytes):
        path = tmp_path / "doc.xml"
        path.write_bytes(doc)
        assert qal3.family(path) == family
    assert (family.root is None) == (family == qal3.Family.UNKNOWN)
    with pytest.raises(FileNotFoundError):
        qal3.family(tmp_path / "none.xml")


ZEROS = [0.0] * 16
NEW, FROM_DICT = qal3.Trigger, qal3.Trigger.from_dict


@pytest.mark.parametrize("make, given, want", [
    # what to_dict gives of the record made, or the error
    (NEW, dict(start=2, end=4.5, incr=1, form=3), dict(fparam=[2.0, 4.5, 1.0, 0.0, 3.0] + ZEROS[5:], x0=2.0, a=1.0)),
    (NEW, dict(fparam=[0.5], position=0.5, param0=0.5, end=None), dict(start=0.5, fparam=[0.5])),
    (FROM_DICT, {"start": 3, "param15": 1}, dict(fparam=[3.0] + ZEROS[1:15] + [1.0], position=3.0)),
    (FROM_DICT, {"function_name": "MAX", "operation_name": "GT"}, dict(function="MAX", operation="GT")),
    (FROM_DICT, {"function": 1, "function_name": "MAX", "operation": 0, "operation_name": "GT"},
     dict(function="MAX", operation="GT")),
    (FROM_DICT, {"function": 20, "function_name": "FUNC20"}, dict(function=20)),  # a free slot, as the tool shows it
    (FROM_DICT, {"function": 2, "function_name": "MAX"}, (ValueError, "function 2 and function_name 'MAX' name")),
    (qal3.GigEFeature.from_dict, {"type": 2, "type_name": qal3.FEATURE_TYPES[2], "name": "F"}, dict(type=2)),
    (qal3.GigEFeature.from_dict, {"type_name": qal3.FEATURE_TYPES[1]}, dict(type=1)),
    (qal3.GigEFeature.from_dict, {"type": 2, "type_name": qal3.FEATURE_TYPES[1]}, (ValueError, "type 2 and type_n")),
    (qal3.GigEFeature.from_dict, {"type_name": "Nothing"}, (ValueError, "type_name 'Nothing' is none of")),
    (FROM_DICT, {"operation_name": 3}, (TypeError, "operation_name must be a str")),
    (FROM_DICT, {"start_time": 1}, (TypeError, "no field 'start_time'")),
    (NEW, dict(start=1, x0=2), (ValueError, r"start 1.0 and x0 2.0 both give fparam\[0\]")),
    (NEW, dict(fparam=[1.0], end=2), (ValueError, r"end 2.0 and fparam\[1\] 0.0 differ")),
    (FROM_DICT, {"fparam": [1.0], "start": 2}, (ValueError, r"start 2.0 and fparam\[0\] 1.0 differ")),
])
def test_named_parameters_and_the_tools_slot_names_are_taken(make, given, want):
    if isinstance(want, tuple):
        with pytest.raises(want[0], match=want[1]):
            make(**given) if make is NEW else make(given)
        return
    t = make(**given) if make is NEW else make(given)
    d = t.to_dict()
    assert {k: d[k] for k in want} == want
    assert type(t).from_dict(d) == t


@pytest.mark.parametrize("make, field, value, message", [
    (qal3.Trigger, "low", 1e39, "low 1e+39 is beyond what a float holds: it becomes infinite"),
    (qal3.Trigger, "upper", -1e-50, "upper -1e-50 is beyond what a float holds: it becomes 0"),
    (qal3.Trigger, "fparam", [0.0, 1e-46], "fparam entry 1e-46 is beyond what a float holds: it becomes 0"),
    (qal3.Trigger, "start", 10**39, "start 1000000000000000000000000000000000000000 is beyond"),
    (qal3.Trigger, "halfwidthY", -3.5e38, "halfwidthY -3.5e+38 is beyond"),
    (qal3.EnvIndexEntry, "env_ch_abs_delta", 1e-300, "env_ch_abs_delta 1e-300 is beyond"),
    (qal3.EnvIndexEntry, "env_ch_rel_delta", 10**400, "env_ch_rel_delta 1000"),
])
def test_a_float_field_refuses_what_it_cannot_hold(make, field, value, message):
    for call in (lambda: make(**{field: value}), lambda: make.from_dict({field: value})):
        with pytest.raises(ValueError, match=re.escape(message)):
            call()
