"""Every document family read, written and read back; failures as qal3.Error;
nothing on the process's standard output."""
import dataclasses
import os
import shutil
import struct
import subprocess
import warnings

import pytest

import qal3


def unique_props(chans):
    seen = set()
    return [c for c in chans if not (c.prop_name in seen or seen.add(c.prop_name))]


# --- round trips ------------------------------------------------------------------

def test_evlist_round_trip_keeps_every_field(examples):
    entries = qal3.read_evlist(examples / "evlist_basic.xml")
    assert [e.evtype for e in entries] == [1, 5]
    first = entries[0]
    assert (first.tmask, first.priority) == (0x1F, 3)
    assert (first.min_ev_time.timeup, first.min_ev_time.timelow) == (10, 500)
    assert [(b.sb_list, b.ch_list) for b in first.sb_list] == [
        ("BPM_BLOCK", ["BPM.1/X", "BPM.1/Y"]), ("TOROID_BLOCK", [])]
    assert qal3.parse_evlist(qal3.write_evlist(entries)) == entries

    edge = [qal3.EvEntry(evtype=32, tmask=0xFFFFFFFF, priority=0xFFFFFFFF,
                         min_ev_time=qal3.TimeStamp(0xFFFFFFFF, 999999),
                         sb_list=[qal3.EvSbList("A&B <\"x\">", ["é/ü", "x" * 1000]),
                                  qal3.EvSbList("S" * 254)]),
            qal3.EvEntry(evtype=0)]
    assert qal3.parse_evlist(qal3.write_evlist(edge)) == edge


def test_evlist_writer_refuses_what_the_reader_would_not_read_back():
    with pytest.raises(ValueError, match="evtype"):
        qal3.write_evlist([qal3.EvEntry(evtype=33)])
    with pytest.raises(ValueError, match="sb_list"):
        qal3.write_evlist([qal3.EvEntry(sb_list=[qal3.EvSbList("")])])
    with pytest.raises(ValueError, match="sb_list"):
        qal3.write_evlist([qal3.EvEntry(sb_list=[qal3.EvSbList("S" * 255)])])
    with pytest.raises(ValueError, match="tmask"):
        qal3.write_evlist([qal3.EvEntry(tmask=-1)])
    with pytest.raises(TypeError):
        qal3.write_evlist([qal3.EvEntry(sb_list=[qal3.EvSbList(b"bytes")])])


_LIMIT = 1 << 20  # the readers' longest text


def _holding(record, **fields):
    """`record` holding `fields` as set after it was made (unchecked)."""
    for name, value in fields.items():
        object.__setattr__(record, name, value)
    return record


@pytest.mark.parametrize("write, records, error", [
    (qal3.write_evlist, [qal3.EvEntry(sb_list=[qal3.EvSbList("S\0")])], "sb_list.*NUL"),
    (qal3.write_evlist, [qal3.EvEntry(sb_list=[qal3.EvSbList("S", ["C", ""])])], "ch_list entry.*empty"),
    (qal3.write_evlist, [qal3.EvEntry(sb_list=[qal3.EvSbList("S", ["C", "\n "])])], "ch_list entry is only white"),
    (qal3.write_evlist, [qal3.EvEntry(sb_list=[qal3.EvSbList("\t")])], "sb_list is only white space"),
    (qal3.write_evlist, [qal3.EvEntry(sb_list=[qal3.EvSbList("S", ["C\0"])])], "ch_list entry.*NUL"),
    (qal3.write_evlist, [qal3.EvEntry(sb_list=[qal3.EvSbList("S", ["C" * (_LIMIT + 1)])])], "ch_list entry.*long"),
    (qal3.write_gige, [qal3.GigEFeature(len(qal3.FEATURE_TYPES), "F")], "type"),
    (qal3.write_gige, [qal3.GigEFeature(-1, "F")], "type"),
    (qal3.write_gige, [qal3.GigEFeature(1, "F\0")], "name.*NUL"),
    (qal3.write_gige, [qal3.GigEFeature(1, "F", tooltip="t" * (_LIMIT + 1))], "tooltip.*long"),
    (qal3.write_chan, [qal3.ChanDescr(prop_name="")], r"chans\[0\]: prop_name must not be empty"),
    (qal3.write_chan, [qal3.ChanDescr(prop_name="P"), qal3.ChanDescr(prop_name=" \t")],
     r"chans\[1\]: prop_name is only white space"),
    (qal3.write_envdict, [qal3.EnvIndexEntry(env_prop="")], r"entries\[0\]: env_prop must not be empty"),
    (qal3.write_chan, [qal3.ChanDescr(prop_name="P", ev_type=999)], r"chans\[0\]: ev_type must lie in 0\.\.31"),
    (qal3.write_chan, [qal3.ChanDescr(prop_name="P", dtype=999)], r"chans\[0\]: dtype must lie in 0\.\.62"),
    (qal3.write_chan, [qal3.ChanDescr(prop_name="P", dtype=-2147483584)], r"dtype must lie in 0\.\.62"),
    (qal3.write_envdict, [qal3.EnvIndexEntry(index=-5, env_prop="P")], r"entries\[0\]: index must lie in 0\.\."),
    (qal3.write_triggers, [_holding(qal3.Trigger(), low=1e39)], r"triggers\[0\]: low 1e\+39 .* becomes infinite"),
    (qal3.write_triggers, [_holding(qal3.Trigger(), upper=-1e-50)], r"upper -1e-50 .* becomes 0"),
    (qal3.write_triggers, [_holding(qal3.Trigger(), fparam=[0.0, 1e40])], r"fparam 1e\+40"),
    (qal3.write_chan, [qal3.ChanDescr(prop_name="P", prop_desc="a\x01b")], r"prop_desc holds a character .* byte 1"),
    (qal3.write_gige, [qal3.GigEFeature(1, "N", tooltip="\ufffe")], r"features\[0\]: tooltip holds a character"),
    (qal3.write_evlist, [qal3.EvEntry(sb_list=[qal3.EvSbList("S", ["c", " \x1f"])])],
     r"entries\[0\]: sb_list\[0\]: ch_list entry holds a character"),
    (qal3.write_triggers, [qal3.Trigger(), qal3.Trigger(function=20)], r"triggers\[1\]: function 20 is a free"),
    (qal3.write_triggers, [qal3.Trigger(operation=13)], r"operation 13 is a free"),
])
def test_writers_refuse_what_their_reader_or_check_would_not_keep(write, records, error):
    with pytest.raises(ValueError, match=error):
        write(records)


_EVLIST = "<BMR><EVENT><name>E</name></EVENT></BMR>"


@pytest.mark.parametrize("call, error, match", [
    # A NUL would cut what the libraries get: texts, paths and names refuse it.
    (lambda: qal3.parse_evlist(_EVLIST + "\0<junk/>"), ValueError, "text holds a NUL character"),
    (lambda: qal3.parse_chan(b"<CHANDESCRIPTIONS/>\0x"), ValueError, "text holds a NUL"),
    (lambda: qal3.parse_envdict(bytearray(b"<x/>\0")), ValueError, "text holds a NUL"),
    (lambda: qal3.parse_triggers("\0"), ValueError, "text holds a NUL"),
    (lambda: qal3.read_evlist(b"examples.xml\0.cfg"), ValueError, "path holds a NUL"),
    (lambda: qal3.write_evlist([], b"victim.cfg\0.xml"), ValueError, "path holds a NUL"),
    (lambda: qal3.ChanSelector(["a\0b"]), ValueError, "sources holds a NUL"),
    (lambda: qal3.ChanSelector(["<x/>\0"], documents=True), ValueError, "sources holds a NUL"),
    (lambda: qal3.function_index("MEAN\0x"), ValueError, "name holds a NUL"),
    (lambda: qal3.function_name("MEAN\0x"), ValueError, "slot holds a NUL"),
    (lambda: qal3.Trigger(function="MEAN\0x"), ValueError, "function holds a NUL"),
    # date= is an int or None.
    (lambda: qal3.write_evlist([], date="2020-01-01"), TypeError, "date must be an int .* not str"),
    (lambda: qal3.write_triggers([], date=1.5), TypeError, "date must be an int"),
    (lambda: qal3.write_chan([], date=1 << 70), ValueError, "date must lie within"),
])
def test_arguments_are_refused_naming_them(call, error, match):
    with pytest.raises(error, match=match):
        call()


@pytest.mark.parametrize("text, fits", [("\u00e9" * _LIMIT, True), ("\u00e9" * (_LIMIT + 1), False),
                                        ("\U0001F600" * (_LIMIT // 2), True),
                                        ("a" + "\U0001F600" * (_LIMIT // 2), False),
                                        ("\udc80" * (_LIMIT + 1), False)])  # bytes that are no UTF-8
def test_writers_bound_reader_limited_texts_in_utf16_units(text, fits):
    feature = qal3.GigEFeature(1, "F", tooltip=text)
    if fits:
        assert qal3.parse_gige(qal3.write_gige([feature])) == [feature]
    else:
        with pytest.raises(ValueError, match="tooltip.*long"):
            qal3.write_gige([feature])


def test_chan_descriptions_round_trip_in_both_formats(examples):
    chans = unique_props(qal3.read_chan(examples / "chan_descriptions.xml"))
    assert chans and any(c.dims and c.dims[0].stats for c in chans)
    assert any(c.bits for c in chans)
    assert qal3.parse_chan(qal3.write_chan(chans)) == chans

    daqvars = qal3.read_chan(examples / "chan_daqvariables.xml")
    assert any(c.bits for c in daqvars)
    assert qal3.parse_chan(qal3.write_chan(daqvars, format="daqvars")) == daqvars


@pytest.mark.parametrize("fmt, said", [
    ("chandescr", []),
    ("daqvars", ["DAQvariables cannot hold stream: 2 channels lose it",
                 "DAQvariables cannot hold dtype: 1 channel loses it",
                 "DAQvariables cannot hold bits.bit_name other than its bit_desc: 1 channel loses it"])])
def test_write_chan_warns_what_the_format_cannot_hold(fmt, said):
    chans = [qal3.ChanDescr(prop_name="A", stream=1, dtype=3, bits=[qal3.BitDescr(0, "on", "Power on")]),
             qal3.ChanDescr(prop_name="B", stream=2),
             qal3.ChanDescr(prop_name="A", stream=5)]  # not written: not counted
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        qal3.write_chan(chans, format=fmt)
    texts = [w.message.text for w in caught if "cannot hold" in w.message.text]
    assert texts == said
    assert all(isinstance(w.message, qal3.Warning) for w in caught)


@pytest.mark.parametrize("write, read, example", [
    (qal3.write_evlist, qal3.read_evlist, "evlist_basic.xml"),
    (qal3.write_envdict, qal3.read_envdict, "envdict.xml"),
    (qal3.write_triggers, qal3.read_triggers, "triggers.xml")])
def test_writers_stamp_the_date_given_in_utc(write, read, example, examples):
    records = read(examples / example)
    assert "<isodate>2023-11-14T22:13:20</isodate>" in write(records, date=1700000000)
    with pytest.raises(ValueError, match="date"):
        write(records, date=-1)


def test_chan_record_counts_follow_the_lists():
    c = qal3.ChanDescr(prop_name="P", daq_name="D", bits=[qal3.BitDescr(0, "on", "powered")],
                       dims=[qal3.DimDescr(0, "t", "time", "us", [qal3.StatDescr(1, "m", "mean", "V")])])
    assert (c.nbits, c.ndims, c.dims[0].nstats) == (1, 1, 1)
    assert qal3.parse_chan(qal3.write_chan([c])) == [c]


def test_chan_writer_checks_field_sizes_and_format():
    with pytest.raises(ValueError, match="units"):
        qal3.write_chan([qal3.ChanDescr(prop_name="P", units="u" * 16)])
    with pytest.raises(ValueError, match="format"):
        qal3.write_chan([], format="xml")


def test_envdict_round_trip_in_both_layouts(examples):
    for layout in ("2010", "old"):
        entries = qal3.read_envdict(examples / "envdict.xml", layout=layout)
        assert entries
        assert qal3.parse_envdict(qal3.write_envdict(entries, layout=layout), layout=layout) == entries
    long_name = [qal3.EnvIndexEntry(7, "P" * 255, 0.5, 0.25)]
    assert qal3.parse_envdict(qal3.write_envdict(long_name)) == long_name
    with pytest.raises(ValueError, match="env_prop"):
        qal3.write_envdict([qal3.EnvIndexEntry(7, "P" * 80)], layout="old")
    with pytest.raises(ValueError, match="layout"):
        qal3.read_envdict(examples / "envdict.xml", layout="1999")


def test_trigger_list_round_trip(examples):
    triggers = qal3.read_triggers(examples / "triggers.xml")
    assert [qal3.function_name(t.function) for t in triggers] == ["MEAN", "P2P", "DIFFMAX", "VALUE"]
    assert triggers[0].description == 'Mean current in the "bunch" window & nothing else'
    assert triggers[3].bitmask == 5
    assert qal3.parse_triggers(qal3.write_triggers(triggers)) == triggers


def test_trigger_writer_takes_registry_names():
    t = qal3.Trigger(channel="C", function="RMS", operation="OUTSIDE", fparam=[1.0, 2.0], low=-1.5,
                     upper=2.25, time=1700000000, group="g")
    (back,) = qal3.parse_triggers(qal3.write_triggers([t]))
    assert (back.function, back.operation) == ("RMS", "OUTSIDE")
    assert qal3.Trigger(function=qal3.function_index("RMS")) == qal3.Trigger(function="RMS")
    assert back.fparam[:3] == [1.0, 2.0, 0.0] and (back.low, back.upper) == (-1.5, 2.25)
    with pytest.raises(ValueError, match="NOSUCH"):
        qal3.write_triggers([qal3.Trigger(function="NOSUCH")])
    with pytest.raises(ValueError, match="operation"):
        qal3.write_triggers([qal3.Trigger(operation=32)])
    with pytest.raises(ValueError, match="fparam"):
        qal3.write_triggers([qal3.Trigger(fparam=[0.0] * 17)])


def test_gige_round_trip(examples):
    features = qal3.read_gige(examples / "gige_camera.xml")
    assert features and {f.type for f in features} >= {1, 3}
    assert qal3.parse_gige(qal3.write_gige(features)) == features
    made = [qal3.GigEFeature(t, f"F{t}", "Alias" if t % 2 else "", "tip & <tip>", "")
            for t in range(len(qal3.FEATURE_TYPES))]
    made.append(qal3.GigEFeature(2, "", "", "", "nameless"))
    assert qal3.parse_gige(qal3.write_gige(made)) == made


EDGES = [struct.unpack("f", struct.pack("f", v))[0]  # as the records hold them
         for v in (1e-07, 0.3333333, 1.0000001, 1e-45, 3.4028235e38, float("inf"), float("-inf"), float("nan"),
                   -0.0)]


def same(a, b):
    """Records equal, NaN equal to NaN."""
    return repr(a) == repr(b)


@pytest.mark.parametrize("name,write,read,schema,records", [
    ("evlist", qal3.write_evlist, qal3.parse_evlist, "evlist.xsd",
     [qal3.EvEntry(evtype=32, tmask=0xFFFFFFFF, min_ev_time=qal3.TimeStamp(1, 2),
                   sb_list=[qal3.EvSbList("S" * 254, ["\u00b5\u2192ch", "b"])]), qal3.EvEntry()]),
    ("chandescr", qal3.write_chan, qal3.parse_chan, "chandescriptions.xsd",
     [qal3.ChanDescr(ev_type=31, dtype=62, prop_name="P/\u00b5", daq_name="D", units="\u00b0C",
                     bits=[qal3.BitDescr(3, "Ready", "r")],
                     dims=[qal3.DimDescr(0, "x", "d", "m", [qal3.StatDescr(1, "s", "sd", "u")])]),
      qal3.ChanDescr(prop_name="\r", daq_name="\r")]),  # a carriage return is no blank: written &#13;
    ("daqvars", lambda r: qal3.write_chan(r, format="daqvars"), qal3.parse_chan, "daqvariables.xsd",
     [qal3.ChanDescr(ev_type=31, prop_name="P", daq_name="D", max_size=4,
                     dims=[qal3.DimDescr(0, "x", "d", "m")]),
      qal3.ChanDescr(ev_type=2, prop_name="Q", daq_name="E", max_size=1, bits=[qal3.BitDescr(1, "B", "b")])]),
    ("envdict", qal3.write_envdict, qal3.parse_envdict, "envdict.xsd",
     [qal3.EnvIndexEntry(i, f"P{i}", v, v) for i, v in enumerate(EDGES)] + [qal3.EnvIndexEntry(99, "\r")]),
    ("triggers", qal3.write_triggers, qal3.parse_triggers, "triggers.xsd",
     [qal3.Trigger(channel="C", function=1, operation=2, fparam=EDGES + [0.0] * 7, low=float("-inf"),
                   upper=float("nan"), description="\u2192")]),
])
def test_written_documents_pass_check_and_the_schema_and_read_back(tmp_path, examples, name, write, read,
                                                                    schema, records):
    tool = os.environ.get("QAL3_TOOL")
    if not tool:
        pytest.skip("QAL3_TOOL is not set (run the tests through ctest)")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # daqvars: the bit's name is said to be lost
        doc = write(records)
    path = tmp_path / f"{name}.xml"
    path.write_bytes(doc.encode("latin-1"))
    checked = subprocess.run([tool, "check", str(path)], capture_output=True, text=True)
    assert (checked.returncode, checked.stdout) == (0, ""), checked.stdout
    if shutil.which("xmllint"):
        linted = subprocess.run(["xmllint", "--noout", "--nonet", "--schema",
                                 str(examples.parent / "schema" / schema), str(path)],
                                capture_output=True, text=True)
        assert linted.returncode == 0, linted.stderr
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        back = read(doc)
    if name == "daqvars":  # a bit's title is its description, read as its name too
        records = [dataclasses.replace(r, bits=[qal3.BitDescr(b.bit, b.bit_desc, b.bit_desc) for b in r.bits])
                   for r in records]
    if name == "triggers":  # the reader stamps the time it reads
        back = [dataclasses.replace(b, time=r.time) for b, r in zip(back, records)]
    assert same(back, records)


def test_writers_write_paths_whole(tmp_path, examples):
    entries = qal3.read_evlist(examples / "evlist_basic.xml")
    target = tmp_path / "out.xml"
    assert qal3.write_evlist(entries, target) is None
    assert qal3.read_evlist(target) == entries
    qal3.write_triggers(qal3.read_triggers(examples / "triggers.xml"), tmp_path / "t.xml")
    assert len(qal3.read_triggers(tmp_path / "t.xml")) == 4
    with pytest.raises(OSError):
        qal3.write_evlist(entries, tmp_path / "missing" / "out.xml")
    # A refused record leaves the earlier file as it was, and no stray file.
    before = target.read_bytes()
    with pytest.raises(ValueError):
        qal3.write_evlist([qal3.EvEntry(evtype=99)], target)
    assert target.read_bytes() == before
    assert sorted(p.name for p in tmp_path.iterdir()) == ["out.xml", "t.xml"]


# --- failures ------------------------------------------------------------------------

@pytest.mark.parametrize("reader", [qal3.read_evlist, qal3.read_chan, qal3.read_envdict,
                                    qal3.read_triggers, qal3.read_gige])
def test_missing_file_raises_with_code_and_messages(reader, tmp_path):
    missing = tmp_path / "none.xml"
    with pytest.raises(qal3.Error) as info:
        reader(missing)
    assert info.value.code != 0
    assert info.value.source == missing
    assert isinstance(info.value, FileNotFoundError) and info.value.filename == missing
    assert "none.xml" in str(info.value)


@pytest.mark.parametrize("parser, root", [(qal3.parse_evlist, "BMR"),
                                          (qal3.parse_chan, "CHANDESCRIPTIONS"),
                                          (qal3.parse_envdict, "ENVINDEXDICT"),
                                          (qal3.parse_triggers, "QAL3USERTRIGGERLIST"),
                                          (qal3.parse_gige, "RegisterDescription")])
def test_malformed_documents_raise(parser, root):
    with pytest.raises(qal3.Error) as info:
        parser(f"<{root}><unclosed></{root}>")
    assert info.value.code >= 1 and info.value.messages
    assert info.value.source is None


def test_wrong_root_is_an_error_with_the_library_message():
    with pytest.raises(qal3.Error, match="WRONG root tag") as info:
        qal3.parse_evlist("<NOTBMR/>")
    assert info.value.code == 1


@pytest.mark.parametrize("text, kind", [("<?xml version='1.0'?>\n<NOTBMR/>\n", "error"),
                                        ("<BMR>\n<ENTRY></BMR>\n", "parser fatal error"),
                                        ("not xml\n", "parser fatal error")])
def test_failures_name_the_document_as_given_with_a_position(tmp_path, monkeypatch, text, kind):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "e1.xml").write_text(text)
    with pytest.raises(qal3.Error) as info:
        qal3.read_evlist("e1.xml")
    first = info.value.records[0]
    assert (first.kind, first.document, first.stream) == (kind, "e1.xml", "stderr")
    assert first.line >= 1 and first.column >= 1
    assert str(first).startswith(f"e1.xml:{first.line}:{first.column}: ")
    assert "my_mem_info" not in str(info.value) and "Fatal Error at" not in str(info.value)
    with pytest.raises(qal3.Error) as info:
        qal3.parse_evlist(text)
    assert info.value.records[0].document == "<string>"


def test_nothing_reaches_the_console(capfd, examples, tmp_path):
    qal3.read_evlist(examples / "evlist_basic.xml")
    qal3.write_triggers(qal3.read_triggers(examples / "triggers.xml"), tmp_path / "t.xml")
    qal3.write_chan(unique_props(qal3.read_chan(examples / "chan_descriptions.xml")), tmp_path / "c.xml")
    with pytest.raises(qal3.Error):
        qal3.parse_chan("<WRONG/>")
    with pytest.raises(qal3.Error):
        qal3.read_gige(tmp_path / "none.xml")
    sel = qal3.ChanSelector([examples / "chan_descriptions.xml"])
    assert sel.get_event_type("NO/SUCH/CHANNEL") == 0
    out, err = capfd.readouterr()
    assert out == "" and err == ""


def test_reader_messages_on_success_become_warnings():
    doc = ("<DAQvariables><DaqBits><nexol>P</nexol><daqName>D</daqName>"
           "<bitTitle bit=\"3\"></bitTitle></DaqBits></DAQvariables>")
    with pytest.warns(qal3.Warning, match="bitTitle is not defined for bit  3") as caught:
        (chan,) = qal3.parse_chan(doc)
    assert [b.bit for b in chan.bits] == [3]
    w = caught[0].message
    assert (w.stream, w.kind, w.document) == ("stdout", "info", "<string>")
    assert w.text.startswith("bitTitle is not defined for bit  3")


# --- the channel selector and the registry ---------------------------------------------

def test_chan_selector_answers_from_files_and_documents(examples):
    path = examples / "chan_descriptions.xml"
    for sel in (qal3.ChanSelector([path]), qal3.ChanSelector([path.read_text()], documents=True)):
        chans = qal3.read_chan(path, shift=True)
        assert len(sel) == len(chans)
        first = chans[0]
        assert sel.get_channel(0) == first.daq_name and sel.get_prop(0) == first.prop_name
        assert sel.get_event_type(first.daq_name) == first.ev_type
        assert sel.get_data_type(first.daq_name) == first.dtype
        assert sel.find_channel(1, first.prop_name)  # NORMAL events name channels by property
        assert not sel.find_channel(1, "NO/SUCH")
        assert sel.get_channel(len(sel)) is None
        assert sel.is_channel_slow(len(sel)) == -1
        slow = [i for i, c in enumerate(chans) if c.ev_type & 0x3C]
        assert slow and all(sel.is_channel_slow(i) == 1 for i in slow)
    with pytest.raises(qal3.FileNotFound):
        qal3.ChanSelector([examples / "none.xml"])


def test_registry_names_and_help():
    funcs, ops = qal3.functions(), qal3.operations()
    assert len(funcs) == len(ops) == 32
    assert [f.name for f in funcs[:8]] == ["MIN", "MAX", "MEAN", "RMS", "STD", "SUM", "VALUE", "P2P"]
    assert funcs[16].help == "undefined"
    assert "peak to peak" in funcs[7].help
    assert ops[12].name == "BITS" and qal3.operation_index("BITS") == 12
    assert qal3.function_index("NOSUCH") == -1
    assert qal3.function_name(99) == "UNKNOWN"


# --- text and encodings -------------------------------------------------------------

LATIN1_DECL = '<?xml version="1.0" encoding="ISO-8859-1" ?>\n'


def triggers_doc(description, decl=LATIN1_DECL):
    return (f'{decl}<QAL3USERTRIGGERLIST>\n<USERTRIGGER><Chan name="C"/>'
            f'<Description text="{description}"/></USERTRIGGER>\n</QAL3USERTRIGGERLIST>\n')


@pytest.mark.parametrize("decl", [LATIN1_DECL, "<?xml version='1.0' encoding='UTF-16'?>",
                                  '\ufeff<?xml version="1.0" encoding="latin1" standalone="yes"?>', ""])
def test_str_documents_are_text_whatever_they_declare(decl):
    text = "5 µs at 20 °C → ok"
    (t,) = qal3.parse_triggers(triggers_doc(text, decl))
    assert t.description == text


def test_bytes_documents_are_decoded_by_their_declaration(tmp_path):
    latin1 = triggers_doc("5 µs at 20 °C").encode("latin-1")
    (t,) = qal3.parse_triggers(latin1)
    assert t.description == "5 µs at 20 °C"
    utf8 = triggers_doc("→ µ °", '<?xml version="1.0" encoding="UTF-8"?>').encode()
    assert qal3.parse_triggers(bytearray(utf8))[0].description == "→ µ °"
    (tmp_path / "t.xml").write_bytes(latin1)
    assert qal3.read_triggers(tmp_path / "t.xml") == qal3.parse_triggers(latin1)
    # A position after a rewritten declaration is where it is in the str.
    with pytest.raises(qal3.Error) as info:
        qal3.parse_evlist(LATIN1_DECL.rstrip("\n") + "<BMR><x></BMR>")
    assert info.value.records[0].line == 1 and info.value.records[0].column > len(LATIN1_DECL)
    with pytest.raises(TypeError, match="str or bytes"):
        qal3.parse_evlist(42)


# --- texts cut to their field -------------------------------------------------------

@pytest.mark.parametrize("make, field, size", [
    (lambda v: qal3.parse_envdict(
        f"<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX><PROP>{v}</PROP></CHANNEL></ENVINDEXDICT>",
        layout="old"), "PROP", 80),
    (lambda v: qal3.parse_triggers(triggers_doc(v)), "attribute text of Description", 256),
    (lambda v: qal3.parse_chan(f"<CHANDESCRIPTIONS><CHANNEL><PROP>P</PROP><NAME>D</NAME>"
                               f"<UNITS>{v}</UNITS></CHANNEL></CHANDESCRIPTIONS>"), "UNITS", 16),
    (lambda v: qal3.ChanSelector(f"<CHANDESCRIPTIONS><CHANNEL><PROP>P</PROP><NAME>D</NAME>"
                                 f"<UNITS>{v}</UNITS></CHANNEL></CHANDESCRIPTIONS>", documents=True), "UNITS", 16),
])
def test_every_cut_text_is_a_reader_warning_in_whole_characters(make, field, size):
    exact = "x" * (size - 1)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        make(exact)  # a text that fills its field is not cut
    long = "é" * size  # two bytes each: the cut falls inside a character
    with pytest.warns(qal3.Warning) as caught:
        make(long)
    (w,) = [w.message for w in caught if w.message.kind == "warning"]
    kept = (size - 1) // 2 * 2  # bytes of whole characters
    quoted = "é" * 16 + ("..." if size > 16 else "")  # 32 bytes of whole characters
    assert w.text == f"{field}: text of {2 * size} bytes cut to {kept} (a field of {size} bytes): '{quoted}'"
    assert (w.line, w.column) > (1, 1)  # where the parser is, as the tool counts


def test_old_layout_names_cut_in_a_file_are_warnings_too(tmp_path):
    path = tmp_path / "d.xml"
    qal3.write_envdict([qal3.EnvIndexEntry(1, "P" * 200)], path)
    with pytest.warns(qal3.Warning, match=r"PROP: text of 200 bytes cut to 79 \(a field of 80 bytes\)") as caught:
        (e,) = qal3.read_envdict(path, layout="old")
    assert e.env_prop == "P" * 79 and caught[0].message.document == str(path)


# --- files replaced whole --------------------------------------------------------------

def test_writing_keeps_the_mode_and_replaces_a_link(tmp_path, examples):
    entries = qal3.read_evlist(examples / "evlist_basic.xml")
    target = tmp_path / "out.xml"
    target.write_text("old")
    target.chmod(0o600)
    qal3.write_evlist(entries, target)
    assert target.stat().st_mode & 0o777 == 0o600 and qal3.read_evlist(target) == entries
    os.chmod(target, 0o640)
    link = tmp_path / "link.xml"
    link.symlink_to(target.name)
    qal3.write_evlist(entries[:1], link)
    assert not link.is_symlink() and link.stat().st_mode & 0o777 == 0o640
    assert qal3.read_evlist(target) == entries  # the link's target is left alone
    if os.geteuid() == 0:
        os.chown(target, 1234, 2345)
        qal3.write_evlist(entries, target)
        assert (target.stat().st_uid, target.stat().st_gid) == (1234, 2345)
    with pytest.raises(ValueError, match="empty"):
        qal3.write_evlist(entries, "")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["link.xml", "out.xml"]


def test_write_chan_names_the_dropped_repeats():
    chans = [qal3.ChanDescr(prop_name="P", daq_name="D1"), qal3.ChanDescr(prop_name="P", daq_name="D2"),
             qal3.ChanDescr(prop_name="Q", daq_name="D3")]
    with pytest.warns(qal3.Warning, match="repeated property 'P'"):
        doc = qal3.write_chan(chans)
    assert [c.daq_name for c in qal3.parse_chan(doc)] == ["D1", "D3"]


def test_masked_data_types_read_in_the_writers_sign(examples):
    masked = -2147483584  # 0x80000040
    path = examples / "chan_descriptions.xml"
    first = qal3.read_chan(path, shift=True)[0]
    assert first.dtype == masked and qal3.ChanSelector(path).get_data_type(first.daq_name) == masked


@pytest.mark.parametrize("reader", [qal3.read_evlist, qal3.read_gige, qal3.ChanSelector])
def test_file_urls_are_not_paths(reader, examples):
    with pytest.raises(qal3.FileNotFound) as info:
        reader("file://" + str(examples / "evlist_basic.xml"))
    assert "not URLs" in info.value.what
