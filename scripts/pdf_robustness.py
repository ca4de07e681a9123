"""Feeds damaged PDFs to the loader and checks that each one either loads or raises the parse error.

Variants of the corpus PDFs (truncations, flipped bytes, removed or misdirected cross-reference
data, cut-out and zeroed ranges) are loaded from bytes and from a file by a worker process. The
parent gives each variant a deadline, so a hang is caught and reported instead of stalling the
run, and a worker that dies (a crash) is reported and replaced. The worker's resident memory is
sampled after a warm-up and at the end, after the first variants have been loaded a second time.

Usage: python scripts/pdf_robustness.py [--count 1000] [--seed 1] [--timeout 5] [--corpus DIR]
Exit status 0 when every variant passed.
"""
from __future__ import annotations

import argparse
import collections
import json
import os
import random
import re
import select
import subprocess
import sys
import tempfile
import time
from pathlib import Path

PREFIX = "Document parse error: "
ROOT = Path(__file__).resolve().parent.parent
DEFAULT_CORPUS = Path(os.environ.get("SLIVR_CORPUS", ROOT.parent / "shared" / "corpus")) / "pdf"
WARM_UP = 50
REPEATED = 100


# ---------------------------------------------------------------------------------------------
# Damage


def truncate(data: bytes, rng: random.Random) -> tuple[str, bytes]:
    where = rng.choice(["anywhere", "head", "tail"])
    if where == "head":
        cut = rng.randrange(0, min(len(data), 4096))
    elif where == "tail":
        cut = len(data) - rng.randrange(1, min(len(data), 4096))
    else:
        cut = rng.randrange(0, len(data))
    return f"truncate-{where}", data[:cut]


def flip_bytes(data: bytes, rng: random.Random) -> tuple[str, bytes]:
    out = bytearray(data)
    n = rng.choice([1, 2, 8, 64, 512])
    for _ in range(n):
        i = rng.randrange(len(out))
        out[i] ^= rng.randrange(1, 256)
    return f"flip-{n}", bytes(out)


def remove_xref(data: bytes, rng: random.Random) -> tuple[str, bytes]:
    how = rng.choice(["xref-object", "startxref-offset", "startxref-line", "xref-keywords"])
    if how == "xref-object":
        # Cuts out the cross-reference stream object (or a classic table up to its trailer).
        match = None
        for m in re.finditer(rb"\d+ \d+ obj\s*<<(?:(?!endobj).){0,400}?/Type\s*/XRef", data, re.S):
            match = m
        if match is not None:
            end = data.find(b"endobj", match.end())
            end = len(data) if end < 0 else end + len(b"endobj")
            return how, data[:match.start()] + data[end:]
        start = data.rfind(b"\nxref")
        if start >= 0:
            end = data.find(b"trailer", start)
            return how, data[:start + 1] + (data[end:] if end >= 0 else b"")
        how = "startxref-offset"
    if how == "startxref-offset":
        # Points the reader at a wrong place.
        offset = rng.choice([0, 1, rng.randrange(len(data)), len(data) + 10, 99999999999])
        return how, re.sub(rb"startxref\s+\d+", b"startxref\n%d" % offset, data)
    if how == "startxref-line":
        return how, re.sub(rb"startxref\s+\d+\s*", b"", data)
    return how, data.replace(b"/XRef", b"/XXXX").replace(b"\nxref", b"\nxxxx")


def cut_range(data: bytes, rng: random.Random) -> tuple[str, bytes]:
    start = rng.randrange(len(data))
    length = rng.choice([1, 16, 256, 4096, 65536])
    if rng.random() < 0.5:
        return f"delete-{length}", data[:start] + data[start + length:]
    return f"zero-{length}", data[:start] + bytes(min(length, len(data) - start)) + data[start + length:]


def corrupt_streams(data: bytes, rng: random.Random) -> tuple[str, bytes]:
    # Damages the inside of compressed streams, so that decoders meet broken input.
    starts = [m.end() for m in re.finditer(rb"stream\r?\n", data)]
    if not starts:
        return flip_bytes(data, rng)
    out = bytearray(data)
    for start in rng.sample(starts, min(len(starts), rng.choice([1, 5, 50]))):
        for _ in range(rng.choice([1, 4, 32])):
            i = start + rng.randrange(0, 200)
            if i < len(out):
                out[i] = rng.randrange(256)
    return "stream-bytes", bytes(out)


DAMAGE = [truncate, flip_bytes, remove_xref, cut_range, corrupt_streams]


def make_variants(sources: list[Path], count: int, seed: int) -> list[tuple[str, bytes]]:
    rng = random.Random(seed)
    originals = [(p.name, p.read_bytes()) for p in sources]
    variants = []
    for i in range(count):
        name, data = originals[i % len(originals)]
        damage = DAMAGE[(i // len(originals)) % len(DAMAGE)]
        kind, damaged = damage(data, rng)
        variants.append((f"{name}:{kind}", damaged))
    return variants


# ---------------------------------------------------------------------------------------------
# Worker: loads one variant per request line, answers with one JSON line.


def rss_kb() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def check_pages(pages) -> str | None:
    numbers = [d.metadata.get("page_number") for d in pages]
    if numbers != list(range(1, len(pages) + 1)):
        return f"page numbers {numbers[:5]}..."
    if any(d.metadata.get("total_pages") != len(pages) for d in pages):
        return "total_pages differs from the number of pages"
    return None


def load_one(slivr, path: str) -> dict:
    data = Path(path).read_bytes()
    outcome = {}
    for form, call in (("bytes", lambda: slivr.PDFLoader().load_pages_from_bytes(data)),
                       ("file", lambda: slivr.load_pdf_pages(path)),
                       ("text", lambda: slivr.PDFLoader().load_from_bytes(data))):
        try:
            result = call()
        except ValueError as exc:
            message = str(exc)
            outcome[form] = ("parse-error", message) if message.startswith(PREFIX) else ("wrong-message", message)
            continue
        except BaseException as exc:  # anything but the parse error is a failure
            outcome[form] = ("wrong-exception", f"{type(exc).__name__}: {exc}")
            continue
        if form == "text":
            outcome[form] = ("loaded", len(result)) if isinstance(result, str) else ("bad-result", type(result).__name__)
        else:
            problem = check_pages(result)
            outcome[form] = ("bad-result", problem) if problem else ("loaded", len(result))
    return outcome


def worker() -> None:
    import slivr

    for line in sys.stdin:
        path = line.strip()
        if not path:
            break
        outcome = load_one(slivr, path)
        print(json.dumps({"outcome": outcome, "rss_kb": rss_kb()}), flush=True)


# ---------------------------------------------------------------------------------------------
# Parent


class Worker:
    def __init__(self) -> None:
        self.proc = subprocess.Popen([sys.executable, __file__, "--worker"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, bufsize=1)

    def ask(self, path: str, timeout: float) -> tuple[str, object]:
        """('ok', reply), ('hang', None) or ('crash', exit status)."""
        try:
            self.proc.stdin.write(path + "\n")
            self.proc.stdin.flush()
        except BrokenPipeError:
            return "crash", self.proc.wait()
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
        if not ready:
            self.proc.kill()
            self.proc.wait()
            return "hang", None
        line = self.proc.stdout.readline()
        if not line:
            return "crash", self.proc.wait()
        return "ok", json.loads(line)

    def close(self) -> None:
        if self.proc.poll() is None:
            self.proc.stdin.close()
            self.proc.wait(timeout=30)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=5.0, help="seconds allowed per variant")
    parser.add_argument("--corpus", type=Path, default=DEFAULT_CORPUS)
    args = parser.parse_args()

    sources = sorted(args.corpus.glob("*.pdf"))
    if not sources:
        print(f"no PDFs in {args.corpus}")
        return 2
    variants = make_variants(sources, args.count, args.seed)
    print(f"{len(variants)} damaged variants of {', '.join(p.name for p in sources)}; "
          f"{args.timeout:g} s allowed per variant (bytes, file and whole-text loads)")

    failures: list[str] = []
    outcomes: collections.Counter = collections.Counter()
    kinds: dict[str, collections.Counter] = collections.defaultdict(collections.Counter)
    messages: collections.Counter = collections.Counter()
    slowest = (0.0, "")
    rss: dict[str, int] = {}
    restarts = 0
    started = time.perf_counter()
    worker_proc = Worker()
    with tempfile.TemporaryDirectory() as folder:
        plan = list(range(len(variants))) + list(range(min(REPEATED, len(variants))))
        for step, index in enumerate(plan):
            label, data = variants[index]
            path = os.path.join(folder, f"variant{index}.pdf")
            if step < len(variants):
                with open(path, "wb") as f:
                    f.write(data)
            t0 = time.perf_counter()
            status, reply = worker_proc.ask(path, args.timeout)
            elapsed = time.perf_counter() - t0
            slowest = max(slowest, (elapsed, label))
            if status != "ok":
                failures.append(f"#{index} {label}: {status} ({reply})")
                restarts += 1
                worker_proc = Worker()
                continue
            if step == 0:
                rss["after the first variant"] = reply["rss_kb"]
            if step == WARM_UP - 1:
                rss["after warm-up"] = reply["rss_kb"]
            if step == len(variants) - 1:
                rss["after all variants"] = reply["rss_kb"]
            if step == len(plan) - 1:
                rss["end"] = reply["rss_kb"]
            if step >= len(variants):
                continue  # the repeated pass only measures memory
            for form, (result, detail) in reply["outcome"].items():
                outcomes[(form, result)] += 1
                kinds[label.split(":")[1].split("-")[0]][result] += 1
                if result == "parse-error":
                    messages[re.sub(r"'[^']*'", "'…'", detail)] += 1
                elif result != "loaded":
                    failures.append(f"#{index} {label} [{form}]: {result}: {detail}")
    worker_proc.close()

    print(f"\nran in {time.perf_counter() - started:.1f} s; slowest variant {slowest[0]:.2f} s ({slowest[1]})")
    print("\noutcomes per form:")
    for (form, result), n in sorted(outcomes.items()):
        print(f"  {form:<6} {result:<16} {n:>5}")
    print("\noutcomes per kind of damage (all forms):")
    for kind, counter in sorted(kinds.items()):
        print(f"  {kind:<12} " + ", ".join(f"{r} {n}" for r, n in sorted(counter.items())))
    print("\nparse error messages:")
    for message, n in messages.most_common():
        print(f"  {n:>5}  {message}")
    print("\nworker resident memory: " + ", ".join(f"{k} {v / 1024:.1f} MB" for k, v in rss.items()))
    growth = rss.get("end", 0) - rss.get("after all variants", 0)
    print(f"growth while the first {REPEATED} variants were loaded again: {growth / 1024:+.1f} MB")
    print(f"crashes and hangs: {sum('crash' in f or 'hang' in f for f in failures)} (worker restarts: {restarts})")
    if growth > 8 * 1024:
        failures.append(f"memory grew by {growth / 1024:.1f} MB on the repeated pass")
    if failures:
        print(f"\nFAILED: {len(failures)} problems")
        for f in failures[:50]:
            print("  " + f)
        return 1
    print(f"\nPASSED: all {len(variants)} variants loaded or raised '{PREFIX}...'")
    return 0


if __name__ == "__main__":
    if "--worker" in sys.argv:
        worker()
    else:
        sys.exit(main())
