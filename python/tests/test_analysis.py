"""A trigger list replayed over a recording: the table against one
evaluate() per trigger, every form of recording, chunks, pickling, a local
dask cluster."""
import pickle
import zipfile

import numpy as np
import pytest

import qal3

EVENTS = 60
AXIS = {"BEAM/Current": (-1.0, 0.05), "BEAM/Current[2]": (0.0, 0.5), "BEAM/Profile": (0.0, 0.5)}


def recording():
    rng = np.random.default_rng(3)
    return {
        "BEAM/Current": rng.normal(1.0, 2.0, (EVENTS, 120)).astype(np.float32),
        "BEAM/Current[2]": rng.normal(2.0, 1.0, (EVENTS, 30)).astype(np.float32),  # its subchannel 2
        "BEAM/Profile": rng.normal(0.0, 1.0, (EVENTS, 40)),           # float64: read as float32
        "VAC/Status": rng.integers(0, 16, EVENTS).astype(np.int32),   # one value per event
    }


def triggers():
    window = [0.5, 4.0, 1.0]
    return [
        qal3.Trigger(channel="BEAM/Current", function="MEAN", fparam=window, operation="GT", upper=1.0),
        qal3.Trigger(channel="BEAM/Current", function="DIFFMAX", fparam=window, operation="GT", upper=0.5),
        qal3.Trigger(channel="BEAM/Current", subchannel=2, function="RMS", fparam=[0.0, -1.0, 1.0],
                     operation="INSIDE", low=1.0, upper=3.0),
        qal3.Trigger(channel="BEAM/Profile", function="DIFFSUM", fparam=[0.0, -1.0, 1.0],
                     operation="LT", low=0.0, upper=0.0),
        qal3.Trigger(channel="VAC/Status", function="VALUE", operation="BITS", bitmask=5),
    ]


def expected(rec, ts):
    """One evaluate() per trigger: the columns the table must hold."""
    columns = []
    for t in ts:
        name = t.channel if t.subchannel == 0 else f"{t.channel}[{t.subchannel}]"
        data = rec[name]
        if data.ndim == 2:
            start, inc = AXIS[name]
            columns.append(qal3.evaluate(t, data, start=start, inc=inc))
        else:
            columns.append(qal3.evaluate_values(t, data))
    return np.stack([c[0] for c in columns], 1), np.stack([c[1] for c in columns], 1)


def starts_incs():
    return {c: a[0] for c, a in AXIS.items()}, {c: a[1] for c, a in AXIS.items()}


def assert_same(table, fired, value):
    assert table.fired.dtype == bool and table.value.dtype == np.float32
    np.testing.assert_array_equal(table.fired, fired)
    np.testing.assert_array_equal(table.value, value)


def test_the_table_equals_one_evaluate_per_trigger():
    rec, ts = recording(), triggers()
    fired, value = expected(rec, ts)
    assert fired.any() and not fired.all()
    start, inc = starts_incs()
    table = qal3.replay(ts, rec, start=start, inc=inc)
    assert table.fired.shape == (EVENTS, len(ts)) and table.missing == []
    assert_same(table, fired, value)
    # A Replay carries DIFF state from run to run: two halves give the whole.
    r = qal3.Replay(ts)
    halves = [r.run({c: a[s] for c, a in rec.items()}, start=start, inc=inc)
              for s in (slice(0, 25), slice(25, None))]
    assert_same(halves[0], fired[:25], value[:25])
    assert_same(halves[1], fired[25:], value[25:])


@pytest.mark.parametrize("reads", [
    [("MEAN", [0.5, 1.0, 1.0]), ("DIFFMAX", [3.0, 4.0, 1.0])],       # disjoint windows
    [("SUM", [0.0, 2.0, 1.0]), ("MIN", [1.0, 3.0, 2.0])],            # overlapping, with a step
    [("VALUE", [4.5, 0.0, 0.0]), ("DIFFVALUE", [-1.0, 0.0, 0.0])],   # positions
    [("P2P", [1.0, 1.5, 1.0]), ("STD", [-5.0, -2.0, 1.0])],          # and the whole spectrum
])
def test_triggers_sharing_a_spectrum_each_read_their_samples(reads):
    rec = recording()
    ts = [qal3.Trigger(channel="BEAM/Current", function=f, fparam=w, operation="GT", upper=0.0) for f, w in reads]
    fired, value = expected(rec, ts)
    start, inc = starts_incs()
    assert_same(qal3.replay(ts, rec, start=start, inc=inc), fired, value)


def _npz(tmp_path, rec):
    path = tmp_path / "rec.npz"
    np.savez(path, **rec)
    return path


def _hdf5(tmp_path, rec, chunks=None, compression=None):
    h5py = pytest.importorskip("h5py")
    path = tmp_path / "rec.h5"
    with h5py.File(path, "w") as f:
        for c, a in rec.items():
            f.create_dataset(c, data=a, chunks=(chunks,) + a.shape[1:] if chunks else None, compression=compression)
    return path


def _dask(tmp_path, rec):
    da = pytest.importorskip("dask.array")
    return {c: da.from_array(a, chunks=(7,) + a.shape[1:]) for c, a in rec.items()}


def _hdf5_group(tmp_path, rec):
    h5py = pytest.importorskip("h5py")
    return h5py.File(_hdf5(tmp_path, rec, chunks=11), "r")


def _hdf5_gzip(tmp_path, rec):
    return _hdf5(tmp_path, rec, chunks=3, compression="gzip")


def _npz_short(tmp_path, rec):
    """An .npz file whose first spectra's member ends before its shape does."""
    path = _npz(tmp_path, rec)
    with zipfile.ZipFile(path) as z:
        members = {m: z.read(m) for m in z.namelist()}
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for m, data in members.items():
            z.writestr(m, data[:-100] if m == "BEAM/Current.npy" else data)
    return path


# Blocks of 2000 bytes: two events of every channel at a time.
@pytest.mark.parametrize("block", [None, 2000])
@pytest.mark.parametrize("form", [_npz, _hdf5, _dask, _hdf5_group, _hdf5_gzip])
def test_every_form_of_recording_gives_the_same_table(tmp_path, monkeypatch, form, block):
    if block:
        monkeypatch.setattr(qal3._replay, "_BLOCK_BYTES", block)
    rec, ts = recording(), triggers()
    start, inc = starts_incs()
    want = qal3.replay(ts, rec, start=start, inc=inc)
    assert_same(qal3.replay(ts, form(tmp_path, rec), start=start, inc=inc), want.fired, want.value)


@pytest.mark.parametrize("form, match", [
    (lambda p, rec: _hdf5(p, rec, chunks=11, compression="gzip"),
     r"rec.h5: data set '/BEAM/Current' is stored in compressed chunks that hold 5280 bytes .* at most 2000"),
    (lambda p, rec: _npz(p, {c: np.asfortranarray(a) for c, a in rec.items()}),
     r"rec.npz: member 'BEAM/Current.npy' stored in Fortran order, 28800 bytes, .* at most 2000"),
    (_npz_short, r"rec.npz: member 'BEAM/Current.npy' holds 28700 bytes of data, not the 28800"),
])
def test_recordings_not_read_within_the_block_are_refused(tmp_path, monkeypatch, form, match):
    monkeypatch.setattr(qal3._replay, "_BLOCK_BYTES", 2000)
    with pytest.raises(ValueError, match=match):
        qal3.replay(triggers(), form(tmp_path, recording()), *starts_incs())


def test_a_missing_channel_is_reported():
    rec, ts = recording(), triggers()
    del rec["BEAM/Profile"]
    start, inc = starts_incs()
    with pytest.warns(qal3.Warning, match="BEAM/Profile") as caught:
        table = qal3.replay(ts, rec, start=start, inc=inc)
    assert caught[0].filename == __file__
    assert table.missing == ["BEAM/Profile"]
    assert not table.fired[:, 3].any() and np.isnan(table.value[:, 3]).all()
    assert table.fired[:, 0].any()


@pytest.mark.parametrize("change, error, match", [
    (lambda r: r.update({"VAC/Status": r["VAC/Status"][:-1]}), ValueError, "different numbers of events"),
    (lambda r: r.update({"BEAM/Current": np.zeros((EVENTS, 2, 2))}), ValueError, "'BEAM/Current'.*shape"),
    (lambda r: r.update({"BEAM/Profile": np.zeros((EVENTS, 4), complex)}), ValueError, "'BEAM/Profile'"),
    (lambda r: r.update({"VAC/Status": np.array(["x"] * EVENTS)}), ValueError, "'VAC/Status'"),
])
def test_bad_recordings_name_the_channel(change, error, match):
    rec = recording()
    change(rec)
    start, inc = starts_incs()
    with pytest.raises(error, match=match):
        qal3.replay(triggers(), rec, start=start, inc=inc)


def test_bad_files_and_axes_name_them(tmp_path):
    with pytest.raises(FileNotFoundError, match="rec.npz"):
        qal3.replay(triggers(), tmp_path / "rec.npz")
    (tmp_path / "junk.npz").write_bytes(b"no recording")
    with pytest.raises(ValueError, match="junk.npz"):
        qal3.replay(triggers(), tmp_path / "junk.npz")
    with pytest.raises(ValueError, match="'BEAM/Profile': start"):
        qal3.replay(triggers(), recording(), start={"BEAM/Current": 0.0})


def test_table_labels_frames_and_dataframe_recordings():
    pd = pytest.importorskip("pandas")
    ts = triggers()
    ts[4].description = "vacuum bits"
    rec = recording()
    table = qal3.replay(ts, rec)
    assert table.labels[2] == "2: BEAM/Current[2] RMS INSIDE" and table.labels[4] == "4: VAC/Status VALUE BITS (vacuum bits)"
    wide = table.to_frame()
    assert wide.shape == (EVENTS, 3 * len(ts)) and wide.columns.names == [None, "trigger", "label"]
    np.testing.assert_array_equal(wide["value"].to_numpy(), table.value)
    long = table.to_frame("long")
    assert len(long) == EVENTS * len(ts) and long["channel"][2] == "BEAM/Current" and long["subchannel"][2] == 2
    np.testing.assert_array_equal(long["outcome"].to_numpy(), table.outcome.reshape(-1))
    # A DataFrame of name/value columns, and DataFrames as values of a mapping, are recordings.
    framed = {c: pd.DataFrame(a) if a.ndim == 2 else a for c, a in rec.items()}
    framed["VAC/Status"] = pd.DataFrame({"VAC/Status": rec["VAC/Status"]})["VAC/Status"]
    np.testing.assert_array_equal(qal3.replay(ts, framed).outcome, table.outcome)
    only = qal3.replay([ts[4]], pd.DataFrame({"VAC/Status": rec["VAC/Status"]}))
    np.testing.assert_array_equal(only.value[:, 0], table.value[:, 4])
    xr = pytest.importorskip("xarray")
    ds = table.to_xarray()
    assert isinstance(ds, xr.Dataset) and ds["value"].dims == ("event", "trigger") and ds["subchannel"].values[2] == 2


@pytest.mark.parametrize("change, match", [
    (lambda ts, rec: rec.pop("BEAM/Profile"), "holds no channel 'BEAM/Profile'"),
    (lambda ts, rec: setattr(ts[0], "fparam", [500.0, 900.0, 1.0]),
     r"trigger 0: BEAM/Current MEAN GT gave no value in any of the 60 events: window 500 to 900 selects no "
     r"sample of the spectrum \(-1 to 5\): are start and inc in the window's units\?"),
])
def test_results_that_cannot_be_right_are_named(change, match):
    rec, ts = recording(), triggers()
    change(ts, rec)
    start, inc = starts_incs()
    with pytest.warns(qal3.Warning, match=match) as caught:
        qal3.replay(ts, rec, start=start, inc=inc)
    assert caught[0].filename == __file__


def test_replay_and_selector_pickle_with_their_state(examples):
    rec, ts = recording(), triggers()
    start, inc = starts_incs()
    whole = qal3.replay(ts, rec, start=start, inc=inc)
    r = qal3.Replay(ts)
    r.run({c: a[:30] for c, a in rec.items()}, start=start, inc=inc)
    moved = pickle.loads(pickle.dumps(r))
    assert moved.triggers == ts
    rest = moved.run({c: a[30:] for c, a in rec.items()}, start=start, inc=inc)
    assert_same(rest, whole.fired[30:], whole.value[30:])
    one = pickle.loads(pickle.dumps(qal3.Replay(ts[1])))
    assert repr(one).startswith("Replay(channel='BEAM/Current'")

    path = str(examples / "chan_descriptions.xml")
    for sel in (qal3.ChanSelector(path), qal3.ChanSelector(open(path, "rb").read(), documents=True)):
        copy = pickle.loads(pickle.dumps(sel))
        assert len(copy) == len(sel) > 0
        assert [copy.get_channel(i) for i in range(len(sel))] == [sel.get_channel(i) for i in range(len(sel))]


def _with_failures(rec):
    """The recording with events where the spectra are NaN, so that DIFF
    functions go on from an event several events back."""
    rec = dict(rec)
    for c in ("BEAM/Current", "BEAM/Profile"):
        rec[c] = rec[c].copy()
        rec[c][np.random.default_rng(9).random(EVENTS) < 0.4] = np.nan
    return rec


@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # the event loop library's, on start
@pytest.mark.parametrize("scheduler", ["threads", "cluster"])
def test_a_replay_on_a_client_equals_the_one_in_process(tmp_path, scheduler):
    pytest.importorskip("dask.array")
    rec, ts = _with_failures(recording()), triggers()
    start, inc = starts_incs()
    whole = qal3.replay(ts, rec, start=start, inc=inc)
    path = _hdf5(tmp_path, rec)

    def check(client):
        # Blocks of 7 events: DIFF histories cross block edges, also after failed events.
        for source in (path, _dask(tmp_path, rec)):
            r = qal3.Replay(ts)
            table = r.run(source, start=start, inc=inc, client=client, chunk=7)
            assert_same(table, whole.fired, whole.value)
            np.testing.assert_array_equal(table.outcome, whole.outcome)
        # The replay goes on from where the blocks left it.
        twice = qal3.replay(ts, {c: np.concatenate([a, a[:5]]) for c, a in rec.items()}, start=start, inc=inc)
        more = r.run({c: a[:5] for c, a in rec.items()}, start=start, inc=inc)
        assert_same(more, twice.fired[EVENTS:], twice.value[EVENTS:])

    if scheduler == "threads":
        check("threads")
        return
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        check(client)


@pytest.mark.parametrize("recording_of, chunk, error, match", [
    (lambda rec: rec, None, TypeError, "reads its recording in the workers"),
    (lambda rec: "/nonexistent.h5", None, FileNotFoundError, "no recording at this path"),
    (lambda rec: rec, 0, ValueError, "chunk must be a whole number"),
])
def test_a_replay_on_a_client_refuses_what_it_cannot_split(tmp_path, recording_of, chunk, error, match):
    pytest.importorskip("dask")
    rec = recording()
    source = recording_of(rec) if chunk is None else _hdf5(tmp_path, rec)
    with pytest.raises(error, match=match):
        qal3.replay(triggers(), source, client="sync", chunk=chunk)


# --- records that behave ------------------------------------------------------------

def test_a_trigger_is_itself_read_back_with_names_and_named_parameters(examples):
    t = qal3.Trigger(channel="A", function="MEAN", operation="GT", low=0.1)
    t.start, t.end, t.incr = 0.5, 4.0, 0.25
    assert t.fparam[:3] == [0.5, 4.0, 0.25] and t.x0 == t.position == t.param0 == 0.5
    assert t.low == np.float32(0.1) and "float32" in qal3.Trigger.__doc__
    (back,) = qal3.parse_triggers(qal3.write_triggers([t]))
    back.time = t.time
    assert back == t and back.function == "MEAN"
    assert qal3.Trigger(function=2, operation=qal3.operation_index("GT")) == qal3.Trigger(function="MEAN",
                                                                                       operation="GT")
    assert qal3.Trigger.from_dict(t.to_dict()) == t and t.to_dict()["function"] == "MEAN"
    chan = qal3.read_chan(examples / "chan_descriptions.xml")[0]
    assert type(chan).from_dict(chan.to_dict()) == chan and chan.to_dict()["nbits"] == len(chan.bits)
    assert pickle.loads(pickle.dumps(t)) == t


@pytest.mark.parametrize("record, field, value", [
    (qal3.ChanDescr, "bits", ["x"]),
    (qal3.ChanDescr, "stream", "x"),
    (qal3.Trigger, "subchannel", 1.5),
    (qal3.Trigger, "fparam", "abc"),
    (qal3.EvEntry, "min_ev_time", 3),
])
def test_a_wrong_type_fails_when_the_record_is_made(record, field, value):
    with pytest.raises(TypeError, match=field):
        record(**{field: value})


@pytest.mark.parametrize("codec", ["utf-16", "utf-16-le", "utf-16-be"])
def test_parse_reads_utf16_bytes(examples, codec):
    path = examples / "triggers.xml"
    text = path.read_bytes().decode("latin-1").replace("ISO-8859-1", "UTF-16")
    assert qal3.parse_triggers(text.encode(codec)) == qal3.read_triggers(path)
