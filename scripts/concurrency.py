"""Long concurrency run: Python threads hammer the parallel methods of shared chunkers.

    python scripts/concurrency.py [--seconds 60] [--threads 8] [--seed 1]

Every chunker of tests/catalog.py is built once and shared by all threads. Each thread picks a
chunker and a method at random (`par_chunk_texts`, `par_chunk_documents`, now and then a call on
a chunker whose sizes are invalid, which fails part-way through its list) and compares every
result with the one computed sequentially up front. Meanwhile the main thread forks a child every
few seconds; the child runs the parallel methods of every chunker and checks them too. A watchdog
dumps all stacks and fails the run if no call finishes for 60 seconds (a deadlock).

Prints the calls made per method, the mismatches (must be 0), the failing calls that raised the
expected error, the forks that passed, and the slowest call. Exit status 0 when all is well.
"""
from __future__ import annotations

import argparse
import faulthandler
import os
import random
import signal
import sys
import threading
import time
from collections import Counter
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

import catalog  # noqa: E402
import slivr  # noqa: E402

STALL_SECONDS = 60


def comparable(docs, unstable=()):
    return [(d.content, {k: v for k, v in d.metadata.items() if k not in unstable}) for d in docs]


class Case:
    """One shared chunker with its inputs and the results of sequential calls."""

    def __init__(self, entry, texts):
        self.entry = entry
        self.chunker = entry.build()
        self.texts = texts
        self.docs = [slivr.Document(t, {"n": i, "source": entry.name}) for i, t in enumerate(texts)]
        unstable = entry.unstable_keys
        self.lists = [comparable([] if catalog.is_blank(t) else self.chunker.chunk(t), unstable) for t in texts]
        self.flat = comparable(self.chunker.chunk_documents(self.docs), unstable)

    def check(self, method: str) -> bool:
        unstable = self.entry.unstable_keys
        if method == "par_chunk_texts":
            return [comparable(c, unstable) for c in self.chunker.par_chunk_texts(self.texts)] == self.lists
        return comparable(self.chunker.par_chunk_documents(self.docs), unstable) == self.flat


def failing_call(rng: random.Random, texts) -> bool:
    """A call whose items fail only past the blank ones at the front: it stops part-way."""
    bad = slivr.CharacterChunker(5, 5)
    items = [" "] * rng.randrange(0, 200) + texts
    try:
        if rng.random() < 0.5:
            bad.par_chunk_texts(items)
        else:
            bad.par_chunk_documents([slivr.Document(t) for t in items])
    except ValueError as e:
        return str(e) == "Invalid chunk overlap: 5 (must be strictly less than chunk_size 5)"
    return False


def child_check(cases) -> int:
    try:
        ok = all(case.check(m) for case in cases for m in ("par_chunk_texts", "par_chunk_documents"))
        return 0 if ok else 2
    except BaseException:
        return 3


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--threads", type=int, default=8)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    texts = catalog.sample_texts()
    # Longer lists than the samples alone, so that every call spreads over all workers.
    texts = texts * 4
    cases = [Case(e, texts) for e in catalog.present()]
    print(f"{len(cases)} chunkers, {len(texts)} texts per call, {args.threads} threads, {args.seconds:.0f} s",
          flush=True)

    calls = Counter()
    mismatches = Counter()
    lock = threading.Lock()
    progress = [time.monotonic()]
    slowest = [0.0, ""]
    stop = threading.Event()
    errors = []

    def worker(index: int) -> None:
        rng = random.Random(args.seed * 1000 + index)
        try:
            while not stop.is_set():
                started = time.monotonic()
                if rng.random() < 0.1:
                    label, ok = "failing call", failing_call(rng, texts)
                else:
                    case = rng.choice(cases)
                    method = rng.choice(("par_chunk_texts", "par_chunk_documents"))
                    label, ok = f"{case.entry.name}.{method}", case.check(method)
                elapsed = time.monotonic() - started
                with lock:
                    calls[label.split(".")[-1]] += 1
                    if not ok:
                        mismatches[label] += 1
                    progress[0] = time.monotonic()
                    if elapsed > slowest[0]:
                        slowest[:] = [elapsed, label]
        except BaseException as e:
            errors.append(e)
            stop.set()

    threads = [threading.Thread(target=worker, args=(i,), daemon=True) for i in range(args.threads)]
    for t in threads:
        t.start()

    forks = Counter()
    deadline = time.monotonic() + args.seconds
    next_fork = time.monotonic() + 2
    stalled = False
    while time.monotonic() < deadline and not stop.is_set():
        time.sleep(0.2)
        if time.monotonic() - progress[0] > STALL_SECONDS:
            stalled = True
            break
        if time.monotonic() >= next_fork and sys.platform == "linux":
            next_fork = time.monotonic() + 5
            pid = os.fork()
            if pid == 0:
                os._exit(child_check(cases))
            child_deadline = time.monotonic() + STALL_SECONDS
            while True:
                done, status = os.waitpid(pid, os.WNOHANG)
                if done:
                    forks["passed" if os.waitstatus_to_exitcode(status) == 0 else "failed"] += 1
                    break
                if time.monotonic() > child_deadline:
                    os.kill(pid, signal.SIGKILL)
                    os.waitpid(pid, 0)
                    forks["hung"] += 1
                    break
                time.sleep(0.05)
    stop.set()
    if stalled:
        print(f"no call finished for {STALL_SECONDS} s: deadlock; stacks follow", flush=True)
        faulthandler.dump_traceback(all_threads=True)
        os._exit(1)
    for t in threads:
        t.join(STALL_SECONDS)
    if any(t.is_alive() for t in threads):
        print("a thread did not finish its last call: deadlock", flush=True)
        faulthandler.dump_traceback(all_threads=True)
        os._exit(1)

    total = sum(calls.values())
    print(f"calls: {total} ({', '.join(f'{k} {v}' for k, v in sorted(calls.items()))})")
    print(f"mismatches: {sum(mismatches.values())}" + (f" {dict(mismatches)}" if mismatches else ""))
    print(f"forked children: {dict(forks) or 'none'}")
    print(f"slowest call: {slowest[0]:.3f} s ({slowest[1]})")
    for e in errors:
        print(f"thread error: {type(e).__name__}: {e}")
    ok = not errors and not mismatches and forks["failed"] == 0 and forks["hung"] == 0
    print("OK" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
