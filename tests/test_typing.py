"""The type stubs travel with the module (make typecheck compares them with the module itself)."""
from pathlib import Path

import slivr

ROOT = Path(__file__).resolve().parent.parent


def test_stubs_and_marker_are_installed_beside_the_module():
    package = Path(slivr.__file__).resolve().parent
    assert (package / "__init__.pyi").read_text(encoding="utf-8") == (ROOT / "slivr.pyi").read_text(encoding="utf-8")
    assert (package / "py.typed").is_file()
