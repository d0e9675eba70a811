import os
import pathlib
import shutil
import signal
import stat
import sys

import pytest

SWEEP_DIR = pathlib.Path(__file__).resolve().parents[1]
REPO = SWEEP_DIR.parents[1]
GOLDEN = REPO / "tests" / "end_to_end" / "golden"
SCRIPT = SWEEP_DIR / "advdiff2d-sweep"
sys.path.insert(0, str(SWEEP_DIR))

# A suite started in the background of a non-interactive shell inherits SIGINT ignored, and so
# would every sweep it starts: the tests that interrupt a sweep as Ctrl-C does need the usual
# disposition in the sweeps they start (a handler here becomes the default again across exec).
signal.signal(signal.SIGINT, signal.default_int_handler)


@pytest.fixture(scope="session")
def build_dir():
    folder = pathlib.Path(os.environ.get("ADVDIFF_BUILD_DIR", REPO / "build"))
    for name in ("advdiff2d", "advdiff2d-reference"):
        if not os.access(folder / name, os.X_OK):
            pytest.fail(f"{folder / name} is missing: build the project or set ADVDIFF_BUILD_DIR")
    return folder


@pytest.fixture(scope="session")
def described(build_dir):
    """The program's description of its input files (advdiff2d --describe-inputs)."""
    from advdiff2d_sweep import description
    return description.describe(str(build_dir / "advdiff2d"))


def copy_case(source, target):
    """Copies a (read-only) case folder into a writable one."""
    shutil.copytree(source, target)
    for path in [target, *target.iterdir()]:
        path.chmod(path.stat().st_mode | stat.S_IWUSR)
    return target
