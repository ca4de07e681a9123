import os
from pathlib import Path

import slivr


def pytest_report_header(config):
    return f"slivr module: {slivr.__file__}"


def pytest_configure(config):
    # The sanitizer run must exercise the sanitizer build, not an installed copy.
    expected = os.environ.get("SLIVR_EXPECT_PATH")
    if expected and not Path(slivr.__file__).resolve().is_relative_to(Path(expected).resolve()):
        raise RuntimeError(f"slivr imported from {slivr.__file__}, expected below {expected}")
