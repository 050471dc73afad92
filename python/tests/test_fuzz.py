"""Randomized calls of the replay's entry points, and Replay objects made
otherwise than by their constructor: every call works or raises a Python
exception (a crash ends the run). The rounds are seeded and bounded."""
import io
import pickle
import pickletools

import numpy as np
import pytest

import qal3

ROUNDS = 1000
DTYPES = [np.float32, np.float64, np.float16, np.longdouble, np.int8, np.uint64, bool, complex, object,
          ">f4", ">i4", "<U3", "M8[s]"]
SIZES = [0, 1, 2, 3, 7]


def odd_array(rng):
    """An array of an odd shape, dtype or layout, or something that is none."""
    pick = rng.integers(12)
    if pick == 0:
        others = [None, "abc", 3, [[1, 2], [3]], [1.0, 2.0], b"\0\1"]
        return others[rng.integers(len(others))]
    if pick == 1:  # a view whose contiguous copy cannot be made
        return np.broadcast_to(np.array(1, rng.choice([np.float32, np.float64, np.int32])), (10**6, 10**6))
    shape = tuple(int(rng.choice(SIZES)) for _ in range(rng.integers(4)))
    dtype = DTYPES[rng.integers(len(DTYPES))]
    a = np.zeros(shape, dtype) if np.dtype(dtype).kind in "UMO" else (rng.normal(0, 1e3, shape) * 1e3).astype(dtype)
    if a.ndim and rng.integers(2):
        a = a[::-1]  # negative strides
    if a.ndim > 1 and rng.integers(2):
        a = a.T if rng.integers(2) else a[:, ::2]
    if rng.integers(4) == 0:
        a = np.broadcast_to(a, (3,) + a.shape)
    return a


def trigger(rng):
    function = ["MEAN", "DIFFMAX", "VALUE", "SUM", "STD"][rng.integers(5)]
    window = [float(rng.choice([-1e30, -1.0, 0.0, 0.5, 3.0, np.nan])) for _ in range(3)]
    return qal3.Trigger(channel="C", subchannel=int(rng.choice([0, 1, 4095, 1 << 30])), function=function,
                        fparam=window, operation="GT", upper=0.0)


def number(rng):
    return float(rng.choice([0.0, -1.0, 0.25, 1e30, np.inf, np.nan]))


def settled(call):
    """`call()`, or None when it raises: anything but a crash will do."""
    try:
        return call()
    except Exception:  # noqa: BLE001 - whatever the entry point raises is an answer
        return None


@pytest.mark.filterwarnings("ignore")
def test_odd_arrays_replay_or_raise():
    rng = np.random.default_rng(20261209)
    for _ in range(ROUNDS):
        a, t = odd_array(rng), trigger(rng)
        replay = qal3.Replay(t)
        calls = [lambda: replay.spectra(a, number(rng), number(rng)), lambda: replay.values(a),
                 lambda: replay.slow(a), lambda: qal3.replay([t], {"C": a}, number(rng), number(rng)),
                 lambda: replay._run_entries(int(rng.choice([-1, 0, 1, 3])), [(0, 0, a, 0.0, 1.0)])]
        result = settled(calls[rng.integers(len(calls))])
        if isinstance(result, tuple):
            fired, value = result[:2]
            assert fired.dtype == bool and value.dtype == np.float32 and fired.shape == value.shape


# A Replay made by __new__ alone, as a pickle of 28 bytes makes it.
NEW_ONLY = b"\x80\x02cqal3._core\nReplay\nq\x00)\x81q\x01."


@pytest.mark.parametrize("make", [lambda: qal3.Replay.__new__(qal3.Replay), lambda: pickle.loads(NEW_ONLY),
                                  lambda: qal3.ChanSelector.__new__(qal3.ChanSelector)])
def test_objects_never_initialised_are_refused_by_every_method(make):
    ones = np.ones((2, 4), np.float32)
    calls = {qal3.Replay: [len, repr, pickle.dumps, lambda r: r.triggers, lambda r: r.reset(),
                           lambda r: r.spectra(ones), lambda r: r.values(ones), lambda r: r.slow(ones[0]),
                           lambda r: r.run({"C": ones}), lambda r: r._run_entries(2, [(0, 0, ones, 0.0, 1.0)])],
             qal3.ChanSelector: [len, repr, pickle.dumps, lambda s: s.size(), lambda s: s.get_channel(0),
                                 lambda s: s.find_channel(1, "C"), lambda s: s.get_event_type("C")]}
    obj = make()
    for call in calls[type(obj)]:
        with pytest.raises(TypeError, match="never initialised"):
            call(obj)


class _Unpickler(pickle._Unpickler):  # memo in a dict: a mutated index costs no table of its size
    """Loads only the classes the pickles being mutated name."""
    allowed = set()

    def find_class(self, module, name):
        if (module, name) not in self.allowed:
            raise pickle.UnpicklingError(f"{module}.{name} is not loaded here")
        return super().find_class(module, name)


def _globals(data):
    found, strings = set(), []
    for op, arg, _ in pickletools.genops(data):
        if op.name in ("SHORT_BINUNICODE", "BINUNICODE", "UNICODE"):
            strings.append(arg)
        elif op.name == "STACK_GLOBAL":
            found.add(tuple(strings[-2:]))
        elif op.name == "GLOBAL":
            found.add(tuple(arg.split(" ", 1)))
    return found


@pytest.mark.filterwarnings("ignore")
def test_mutated_replay_pickles_load_or_raise():
    rng = np.random.default_rng(7)
    diff = qal3.Trigger(channel="C", function="DIFFMAX", fparam=[0.0, -1.0, 1.0], operation="GT", upper=0.5)
    primed = qal3.Replay([diff, qal3.Trigger(channel="D", function="VALUE", operation="BITS", bitmask=5)])
    primed.run({"C": np.ones((2, 4), np.float32), "D": np.ones(2, np.float32)})
    pickles = [pickle.dumps(r, protocol=p) for r in (primed, qal3.Replay(diff)) for p in (2, 4)] + [NEW_ONLY]
    _Unpickler.allowed = set().union(*map(_globals, pickles))
    samples = np.arange(8, dtype=np.float32).reshape(2, 4)
    for _ in range(ROUNDS):
        data = bytearray(pickles[rng.integers(len(pickles))])
        for _ in range(rng.integers(1, 4)):
            at = int(rng.integers(len(data)))
            change = rng.integers(3)
            if change == 0:
                del data[at:]
            elif change == 1:
                data[at] = int(rng.integers(256))
            else:
                data[at:at] = bytes(rng.integers(0, 256, rng.integers(1, 4), dtype=np.uint8))
            if not data:
                break
        r = settled(lambda: _Unpickler(io.BytesIO(bytes(data))).load())
        if isinstance(r, qal3.Replay):
            for call in (len, repr, pickle.dumps, lambda r: r.triggers, lambda r: r.spectra(samples),
                         lambda r: r.run({"C": samples, "D": samples[:, 0]}), lambda r: r.reset()):
                settled(lambda: call(r))
