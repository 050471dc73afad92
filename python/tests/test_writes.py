"""Documents written to a path as the tool's -o writes them, and reads and
writes that leave the GIL to other threads."""
import os
import stat
import threading
import time

import pytest

import qal3


@pytest.fixture
def triggers(examples):
    return qal3.read_triggers(examples / "triggers.xml")


@pytest.mark.parametrize("umask, mode", [(0o022, 0o644), (0o077, 0o600)])
def test_a_new_file_takes_the_umask_which_stays(tmp_path, triggers, umask, mode):
    old = os.umask(umask)
    try:
        qal3.write_triggers(triggers, tmp_path / "new.xml")
        assert os.umask(umask) == umask
    finally:
        os.umask(old)
    assert stat.S_IMODE((tmp_path / "new.xml").stat().st_mode) == mode


def test_set_id_bits_hard_links_and_fifos(tmp_path, triggers):
    target = tmp_path / "out.xml"
    target.write_text("old")
    target.chmod(0o6750)
    os.link(target, tmp_path / "other.xml")
    qal3.write_triggers(triggers, target)
    assert stat.S_IMODE(target.stat().st_mode) == 0o750
    assert (tmp_path / "other.xml").read_text() == "old"
    assert len(qal3.read_triggers(target)) == len(triggers)

    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    got = []
    reader = threading.Thread(target=lambda: got.append(fifo.read_text()))
    reader.start()
    qal3.write_triggers(triggers, fifo)
    reader.join()
    assert stat.S_ISFIFO(fifo.lstat().st_mode)
    assert qal3.parse_triggers(got[0]) == qal3.parse_triggers(target.read_text())


@pytest.mark.skipif(os.geteuid() == 0, reason="root may write any file")
def test_a_file_the_caller_may_not_write_is_refused(tmp_path, triggers):
    target = tmp_path / "out.xml"
    target.write_text("old")
    target.chmod(0o444)
    with pytest.raises(PermissionError):
        qal3.write_triggers(triggers, target)
    assert target.read_text() == "old"


def test_reads_leave_the_gil_to_other_threads(examples):
    # One big read in a thread while this one keeps running Python: with the
    # GIL held for the read, this thread would stall for all of it.
    event = (examples / "evlist_basic.xml").read_text()
    body = event[event.index("<EVENT>"):event.rindex("</BMR>")]
    document = event[:event.index("<EVENT>")] + body * 20000 + "</BMR>\n"
    span = []

    def read():
        start = time.perf_counter()
        qal3.parse_evlist(document)
        span.extend([start, time.perf_counter()])

    worker = threading.Thread(target=read)
    ticks = []
    worker.start()
    while worker.is_alive():
        ticks.append(time.perf_counter())
    start, end = span
    inside = [start] + [t for t in ticks if start < t < end] + [end]
    longest_stall = max(b - a for a, b in zip(inside, inside[1:]))
    assert longest_stall < (end - start) / 2, (longest_stall, end - start)
