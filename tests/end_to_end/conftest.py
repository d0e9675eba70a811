"""What the Python end-to-end tests share: the build folder with the two programs."""

import os
import pathlib

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def build_dir():
    folder = pathlib.Path(os.environ.get("ADVDIFF_BUILD_DIR", REPO / "build")).resolve()
    for name in ("advdiff2d", "advdiff2d-reference"):
        if not os.access(folder / name, os.X_OK):
            pytest.fail(f"{folder / name} is missing: build the project or set ADVDIFF_BUILD_DIR")
    return folder
