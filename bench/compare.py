"""Runs slivr and its peers on the same inputs in one process and prints the figures side by side.

Usage: python bench/compare.py [section ...] [--memory]
Sections are the modules of bench/sections/ (all of them by default).
"""
from __future__ import annotations

import argparse
import importlib
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from harness import Bench  # noqa: E402


def main() -> None:
    sections_dir = Path(__file__).resolve().parent / "sections"
    available = sorted(p.stem for p in sections_dir.glob("*.py") if not p.stem.startswith("_"))
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("sections", nargs="*", choices=available + [[]], help="sections to run")
    parser.add_argument("--memory", action="store_true", help="also measure peak memory (slower)")
    args = parser.parse_args()
    bench = Bench(memory=args.memory)
    for name in args.sections or available:
        module = importlib.import_module(f"sections.{name}")
        print(f"\n== {module.TITLE} ==")
        module.run(bench)


if __name__ == "__main__":
    main()
