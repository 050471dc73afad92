import os
import pathlib

import pytest

HERE = pathlib.Path(__file__).resolve().parent
EXAMPLES = pathlib.Path(os.environ.get("QAL3_EXAMPLES", HERE.parent.parent / "examples"))


@pytest.fixture
def examples():
    return EXAMPLES


@pytest.fixture
def reference():
    exe = os.environ.get("QAL3_REPLAY_REFERENCE")
    if not exe:
        pytest.skip("QAL3_REPLAY_REFERENCE is not set (run the tests through ctest)")
    return exe
