"""Shared pieces of the benchmark: corpus loading, timing, memory and the result table.

Every section module in bench/sections/ defines ``TITLE`` and ``run(bench)``; ``run`` calls
``bench.case(...)`` for each input and ``bench.row(...)`` for each library measured on it.
Timings are medians of several runs; ratios compare libraries measured in the same run.
"""
from __future__ import annotations

import gc
import os
import resource
import statistics
import time
from pathlib import Path
from typing import Callable, Iterable

ROOT = Path(__file__).resolve().parent.parent
CORPUS = Path(os.environ.get("SLIVR_CORPUS", ROOT.parent / "shared" / "corpus"))


def corpus_files(folder: str, suffixes: Iterable[str] | None = None) -> list[tuple[str, str]]:
    """(file name, text) for the files of one corpus folder, sorted by name, read as UTF-8."""
    path = CORPUS / folder
    if not path.is_dir():
        return []
    return [(f.name, f.read_text(encoding="utf-8", errors="replace")) for f in sorted(path.iterdir())
            if f.is_file() and (suffixes is None or f.suffix in suffixes)]


def corpus_texts(folder: str, suffixes: Iterable[str] | None = None) -> list[str]:
    """The texts of one corpus folder (sorted by name), read as UTF-8."""
    return [text for _, text in corpus_files(folder, suffixes)]


def scaled_text(texts: list[str], size: int) -> str:
    """`size` characters made by repeating the given texts."""
    joined = "\n\n".join(texts)
    reps = size // max(1, len(joined)) + 1
    return (joined * reps)[:size]


def median_time(fn: Callable[[], object], repeats: int = 5, budget: float = 20.0) -> tuple[float, object]:
    """Median wall time of `fn` over up to `repeats` runs (fewer when a run is slow)."""
    times = []
    result = None
    start_all = time.perf_counter()
    for _ in range(repeats):
        result = None
        gc.collect()
        t0 = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - t0)
        if time.perf_counter() - start_all > budget and len(times) >= 1:
            break
    return statistics.median(times), result


def peak_rss_delta_mb(fn: Callable[[], object]) -> float:
    """Extra peak resident memory (MB) while running `fn` once, measured in a forked child."""
    base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    pid = os.fork()
    if pid == 0:
        try:
            fn()
        finally:
            os._exit(0)
    _, _, usage = os.wait4(pid, 0)
    return max(0.0, (usage.ru_maxrss - base) / 1024.0)


class Bench:
    def __init__(self, memory: bool = False) -> None:
        self.memory = memory
        self._case: str | None = None
        self._base: float | None = None

    def case(self, name: str, size_bytes: int) -> None:
        self._case = name
        self._size = size_bytes
        self._base = None
        print(f"\n  {name}  ({size_bytes / 1e6:.1f} MB)")
        print(f"    {'library':<44} {'time s':>9} {'MB/s':>9} {'chunks/s':>11} {'x slivr':>8}" +
              (f" {'peak MB':>8}" if self.memory else ""))

    def row(self, library: str, fn: Callable[[], object], repeats: int = 5, count: Callable[[object], int] = len,
            note: str = "") -> float | None:
        """Times `fn`; the first row of a case is the reference the others are compared with."""
        try:
            seconds, result = median_time(fn, repeats)
        except Exception as exc:  # a peer failing on an input is reported, not fatal
            print(f"    {library:<44} failed: {type(exc).__name__}: {str(exc)[:60]}")
            return None
        chunks = count(result) if result is not None else 0
        if self._base is None:
            self._base = seconds
        ratio = seconds / self._base if self._base else float("nan")
        line = (f"    {library:<44} {seconds:>9.4f} {self._size / 1e6 / seconds:>9.1f} "
                f"{chunks / seconds:>11.0f} {ratio:>8.2f}")
        if self.memory:
            line += f" {peak_rss_delta_mb(fn):>8.1f}"
        print(line + (f"  {note}" if note else ""))
        return seconds
