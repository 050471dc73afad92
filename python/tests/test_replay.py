"""Trigger replay over numpy arrays against the straightforward C++ loop."""
import os
import subprocess
import sys
import threading

import numpy as np
import pytest

import qal3

START, INC = -1.0, 0.05


def spectra(n=40, ns=200, seed=7):
    rng = np.random.default_rng(seed)
    x = rng.normal(1.0, 2.0, (n, ns)).astype(np.float32)
    if n > 9:
        x[5] = 0.0          # an event of zeros
        x[9, 30] = 1e30     # and one with a huge sample
    return x


def reference_run(reference, tmp_path, triggers, samples, start=START, inc=INC):
    xml = tmp_path / "triggers.xml"
    qal3.write_triggers(triggers, xml)
    raw = tmp_path / "samples.f32"
    np.ascontiguousarray(samples, dtype=np.float32).tofile(raw)
    n, ns = samples.shape
    done = subprocess.run([reference, str(xml), str(raw), str(n), str(ns), repr(start), repr(inc)],
                          capture_output=True, text=True, check=True)
    fired = np.zeros((len(triggers), n), bool)
    value = np.full((len(triggers), n), np.nan, np.float32)
    for line in done.stderr.splitlines():
        k, i, rc, v = line.split()
        fired[int(k), int(i)] = rc == "1"
        value[int(k), int(i)] = np.float32(float(v))
    return fired, value


def windows():
    """Windows of every kind the functions read: part of the axis, to its
    end (end < 0), with a step, a start before the axis, an empty one."""
    return [[0.5, 4.0, 1.0], [2.0, -1.0, 1.0], [0.0, 8.0, 3.0], [-5.0, 2.0, 1.0],
            [3.0, 3.0, 1.0], [100.0, -1.0, 1.0]]


def test_every_builtin_function_equals_the_cpp_loop(reference, tmp_path):
    samples = spectra()
    triggers = [qal3.Trigger(channel="BEAM/Current", function=f, fparam=w, operation=op,
                             low=-0.5, upper=1.5)
                for f in range(16) for w in windows() for op in ("INSIDE", "GT")]
    triggers.append(qal3.Trigger(channel="BEAM/Current", subchannel=2, function="MEAN",
                                 fparam=[0.0, -1.0, 1.0], operation="GT", upper=0.5))
    want_fired, want_value = reference_run(reference, tmp_path, triggers, samples)
    assert want_fired.any() and not want_fired.all()
    for k, t in enumerate(triggers):
        fired, value = qal3.evaluate(t, samples, start=START, inc=INC)
        assert fired.dtype == bool and value.dtype == np.float32
        np.testing.assert_array_equal(fired, want_fired[k], err_msg=str(t))
        np.testing.assert_array_equal(value, want_value[k], err_msg=str(t))


def test_diff_functions_compare_with_the_event_before():
    samples = np.array([[1, 2, 3], [1, 5, 3], [0, 0, 0], [4, 4, 4]], np.float32)
    t = qal3.Trigger(channel="C", function="DIFFMAX", fparam=[0.0, -1.0, 1.0], operation="GT", upper=1.0)
    fired, value = qal3.evaluate(t, samples)
    np.testing.assert_array_equal(value, [np.nan, 2.0, -5.0, 4.0])
    np.testing.assert_array_equal(fired, [False, True, False, True])

    # A Replay carries the state over calls until reset(); evaluate() starts afresh.
    r = qal3.Replay(t)
    r.spectra(samples[:2])
    _, value = r.spectra(samples[2:])
    np.testing.assert_array_equal(value, [-5.0, 4.0])
    r.reset()
    _, value = r.spectra(samples[2:])
    np.testing.assert_array_equal(value, [np.nan, 4.0])


def test_one_spectrum_and_the_axis():
    spectrum = np.arange(10, dtype=np.float32)
    t = qal3.Trigger(channel="C", function="VALUE", fparam=[30.0], operation="TRUE")
    fired, value = qal3.evaluate(t, spectrum, start=10.0, inc=5.0)
    assert fired.tolist() == [True] and value.tolist() == [4.0]
    # Strided and Fortran-ordered arrays give what their contiguous copies give.
    grid = np.asfortranarray(spectra(8, 50))
    mean = qal3.Trigger(channel="C", function="MEAN", fparam=[0.0, -1.0, 1.0], operation="TRUE")
    np.testing.assert_array_equal(qal3.evaluate(mean, grid)[1], qal3.evaluate(mean, grid.copy())[1])
    np.testing.assert_array_equal(qal3.evaluate(mean, grid[:, ::2])[1],
                                  qal3.evaluate(mean, np.ascontiguousarray(grid[:, ::2]))[1])


def test_replay_input_checks():
    t = qal3.Trigger(channel="C", function="MEAN", operation="TRUE")
    with pytest.raises(TypeError, match="float or integer"):
        qal3.evaluate(t, np.zeros((2, 3), complex))
    with pytest.raises(ValueError, match="dimensions"):
        qal3.evaluate(t, np.zeros((2, 3, 4), np.float32))
    fired, value = qal3.evaluate(t, np.zeros((0, 5), np.float32))
    assert fired.shape == value.shape == (0,)
    fired, value = qal3.evaluate(t, np.zeros((3, 0), np.float32))
    assert not fired.any() and np.isnan(value).all()
    # A subchannel no block has: the function finds no data.
    far = qal3.Trigger(channel="C", subchannel=1 << 30, function="MEAN", operation="TRUE")
    assert not qal3.evaluate(far, np.ones((2, 4), np.float32))[0].any()
    with pytest.raises(ValueError):
        qal3.Replay(qal3.Trigger(function=40))


def test_sum_prints_nothing(capfd):
    t = qal3.Trigger(channel="C", function="SUM", fparam=[0.0, -1.0, 1.0], operation="GT", upper=5)
    fired, value = qal3.evaluate(t, np.ones((3, 10), np.float32))
    assert value.tolist() == [10.0] * 3 and fired.all()
    assert capfd.readouterr() == ("", "")


def test_name_value_and_slow_data():
    bits = qal3.Trigger(channel="VAC/Status", subchannel=1, function="VALUE", operation="BITS", bitmask=5)
    fired, value = qal3.evaluate_values(bits, np.array([1, 2, 4, 8], np.float32))
    assert fired.tolist() == [True, False, True, False] and value.tolist() == [1, 2, 4, 8]
    fired, value = qal3.evaluate_values(bits, np.array([[9, 1], [9, 2]], np.float32))
    assert fired.tolist() == [True, False] and value.tolist() == [1, 2]
    diff = qal3.Trigger(channel="T", function="DIFFVALUE", operation="GT", upper=0.5)
    fired, value = qal3.evaluate_slow(diff, np.array([1, 3, 3, 2], np.float32))
    np.testing.assert_array_equal(value, [np.nan, 2, 0, -1])
    assert fired.tolist() == [False, True, False, False]
    with pytest.raises(ValueError):
        qal3.evaluate_slow(diff, np.zeros((2, 2), np.float32))


def test_printing_thread_keeps_its_stdout(examples, tmp_path):
    """A thread printing while another evaluates and reads documents: every
    printed line reaches stdout, in order, and nothing else does."""
    script = tmp_path / "printer.py"
    script.write_text(f"""
import sys, threading, warnings
import numpy as np
import qal3
warnings.simplefilter("ignore")
done = threading.Event()
def work():
    t = qal3.Trigger(channel="C", function="SUM", fparam=[0.0, -1.0, 1.0], operation="GT", upper=5)
    for _ in range(20):
        qal3.evaluate(t, np.ones((200, 10), np.float32))
        qal3.read_chan({str(examples / "chan_descriptions.xml")!r})
        try:
            qal3.parse_evlist("<BMR><unclosed></BMR>")
        except qal3.Error:
            pass
    done.set()
worker = threading.Thread(target=work)
worker.start()
i = 0
while not done.is_set() or i < 100:
    print("line", i, flush=True)
    i += 1
worker.join()
""")
    out = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, check=True,
                         env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    lines = out.stdout.splitlines()
    assert lines == [f"line {i}" for i in range(len(lines))] and len(lines) >= 100
    assert out.stderr == ""


def test_replay_lets_other_threads_run():
    t = qal3.Trigger(channel="C", function="STD", fparam=[0.0, -1.0, 1.0], operation="TRUE")
    samples = spectra(2000, 1000)
    results = []
    threads = [threading.Thread(target=lambda: results.append(qal3.evaluate(t, samples)[1]))
               for _ in range(3)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert len(results) == 3
    for r in results[1:]:
        np.testing.assert_array_equal(r, results[0])


SITE_FUNCTIONS = """
import warnings
import numpy as np, pytest, qal3

def rms(samples, params, start, inc):
    return np.sqrt(np.mean(np.square(samples, dtype=np.float64)))
def at_position(samples, params, start, inc):   # VALUE's sample, from the axis
    return samples[int((params[0] - start) / inc)]
def picky(samples, params, start, inc):
    if samples[0] > 5:
        raise ValueError("a hot first sample")
    return None if samples[0] < -5 else "text" if samples[0] == 0 else samples[0]
for name, fn in (("PYRMS", rms), ("PYVALUE", at_position), ("PICKY", picky)):
    qal3.add_function(name, fn, help="a Python function")
assert qal3.functions()[16] == qal3.RegistryEntry(16, "PYRMS", "a Python function", False)

x = np.random.default_rng(3).normal(0.0, 2.0, (8, 60)).astype(np.float32)
x[1, 0], x[2, 0], x[3, 0], x[4, 0] = 9.0, 6.0, -7.0, 0.0
# A built-in reading a narrow window of the same channel shares its block:
# the Python function still sees every sample of every event.
triggers = [qal3.Trigger(channel="C", function="PYRMS", operation="GT", upper=2.0),
            qal3.Trigger(channel="C", function="MAX", fparam=[10.0, 11.0, 1.0], operation="TRUE"),
            qal3.Trigger(channel="C", function="PYVALUE", fparam=[30.0], operation="TRUE"),
            qal3.Trigger(channel="C", function="VALUE", fparam=[30.0], operation="TRUE")]
table = qal3.replay(triggers, {"C": x}, start=10.0, inc=0.5)
want = np.sqrt(np.mean(np.square(x, dtype=np.float64), axis=1)).astype(np.float32)
np.testing.assert_array_equal(table.value[:, 0], want)
np.testing.assert_array_equal(table.fired[:, 0], want > 2.0)
np.testing.assert_array_equal(table.value[:, 1], x[:, :2].max(axis=1))
np.testing.assert_array_equal(table.value[:, 2], table.value[:, 3])

# An exception, None or a value that is no number: no value, and each
# distinct error once as a qal3.Warning when the replay returns.
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    fired, value = qal3.evaluate(qal3.Trigger(channel="C", function="PICKY", operation="TRUE"), x)
assert fired.tolist() == [not np.isnan(v) for v in value]
np.testing.assert_array_equal(value[:5], [x[0, 0], np.nan, np.nan, np.nan, np.nan])
texts = sorted(str(w.message) for w in caught)
assert len(texts) == 2, texts
assert "PICKY (function slot 18): TypeError: its value must be a number, not str" in texts[0]
assert "PICKY (function slot 18): ValueError: a hot first sample" in texts[1]

# Refused: what cannot be called so, a taken name, a free slot's help text,
# and any registration while a replay evaluates (the callable's own too).
for args, error, match in [
        (("BAD", 42), TypeError, "callable"),
        (("BAD", lambda samples: 0.0), TypeError, "four arguments"),
        (("MAX", rms), ValueError, "slot 1"),
        (("BAD", rms, "undefined"), ValueError, "free slot"),
        (("", rms), ValueError, "empty")]:
    with pytest.raises(error, match=match):
        qal3.add_function(*args)
def registers(samples, params, start, inc):
    qal3.add_function("LATE", rms)
qal3.change_function(18, registers, "PICKY")
with pytest.warns(qal3.Warning, match="RuntimeError: triggers are being evaluated"):
    qal3.evaluate(qal3.Trigger(channel="C", function="PICKY", operation="TRUE"), x[:1])
assert qal3.function_index("LATE") == -1

# Replays in other threads call the Python function while this one asks
# their Replay for its repr(): it waits for the loop without the GIL.
import threading
r = qal3.Replay(triggers[0])
threads = [threading.Thread(target=r.spectra, args=(np.tile(x, (2000, 1)),)),
           threading.Thread(target=qal3.evaluate, args=(triggers[0], np.tile(x, (2000, 1))))]
for th in threads:
    th.start()
while any(th.is_alive() for th in threads):
    assert repr(r).startswith("Replay(")
for th in threads:
    th.join()

# A KeyboardInterrupt ends the replay and is raised from it.
def interrupted(samples, params, start, inc):
    raise KeyboardInterrupt
qal3.change_function(18, interrupted, "PICKY")
with pytest.raises(KeyboardInterrupt):
    qal3.evaluate(qal3.Trigger(channel="C", function="PICKY", operation="TRUE"), x)
"""


def test_python_functions_in_replays(tmp_path):
    """Python callables as trigger functions, in a process of their own: the
    registry is the process's, and the other tests count its free slots."""
    script = tmp_path / "site_functions.py"
    script.write_text(SITE_FUNCTIONS)
    done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=300,
                          env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert done.returncode == 0, done.stderr
