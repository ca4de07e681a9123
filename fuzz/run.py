"""Runs every fuzz target of fuzz/harness.py for a while and prints a summary.

    python fuzz/run.py [--seconds 60] [--seed N] [--only TARGET ...] [--corpus DIR] [--fresh]

Each target runs in its own process (libFuzzer ends the process on the first crash) with a
seed corpus written here: the example texts, a few texts chosen for their white space, scripts
and structure, and (for the PDF target) PDFs made by examples/pdfgen.py. New inputs that libFuzzer
keeps go to DIR/<target> (default build/fuzz/corpus), so later runs start from them; --fresh
uses a throw-away corpus instead, which makes a run with a fixed --seed repeat itself. Crash
inputs are written to build/fuzz/artifacts/<target>/; replay one with
    python fuzz/harness.py TARGET path/to/crash-file

Run it against the sanitizer build (see the Makefile's fuzz target); the exit status is 1 when
any target crashed. Under the preloaded GCC sanitizer runtime libFuzzer's coverage hooks are
served by that runtime instead (atheris warns about it), so the run gets no coverage feedback:
it mutates the seeds blindly, and the harnesses make up for it with inputs that carry their own
structure (the fragment and JSON generators, PDF splicing, arguments drawn afresh per input).
"""
from __future__ import annotations

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
HARNESS = ROOT / "fuzz" / "harness.py"
sys.path[:0] = [str(ROOT / "fuzz"), str(ROOT / "tests"), str(ROOT / "examples")]

SEED_TEXTS = [
    "Dr. Smith arrived. He sat down. The answer is no. We left... Really?! Yes.",
    "line one\nline two\n\nSecond paragraph here.\n\n\n\nThird (in a hurry!) and sat.",
    "# Title\n\nIntro text.\n\n## Part\n```python\ndef f():\n    return 1\n```\n### Deeper\ntext",
    "<html><body><div><p>One</p><p>Two</p></div><h1>Head</h1><br/></body></html>",
    '{"a": [1, 2.5, -3, true, null], "b": {"c": "d\\u00e9", "e": []}, "f": 1e400}',
    "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]",
    "日本語のテキストです。これは文です。\u3000全角スペース。",
    "naïve café Äpfel ß İstanbul ΣΑΣ ς 😀👩\u200d💻 e\u0301 \ufeff",
    "\u00a0\u2028\u0085\t\v\f\r\n \u3000 words\u2003between\u202fodd\u205fspaces ",
    "fn main() {\n    let x = 1;\n}\n\nimpl Foo {\n    fn bar(&self) {}\n}\n",
    "SELECT a, b FROM t WHERE x = 1;\nCREATE TABLE t (a INT);",
    "word " * 200,
    "a" * 3000,
    "é" * 1500,
    "However, the model works because the data is clean. Therefore we ship it. "
    "In contrast, the old system failed. Meanwhile, costs rose and users left.",
    " ",
    "",
]


def seed_texts() -> list[bytes]:
    texts = [t.encode("utf-8", "surrogatepass") for t in SEED_TEXTS]
    samples = ROOT / "examples" / "samples"
    if samples.is_dir():
        texts += [p.read_bytes() for p in sorted(samples.iterdir()) if p.is_file()]
    return texts


def headers() -> list[bytes]:
    """A few headers for each seed text (with the digest mixed in, each draws other arguments)."""
    return [bytes(24), bytes([0, 3, 1, 7, 2] + [5] * 19), bytes([4] + [9] * 23), bytes([0] + [200] * 23)]


def seeds_for(target: str) -> list[bytes]:
    if target == "pdf":
        import harness
        pdfs = harness.PDF_SEEDS
        return pdfs + [b"\x00" + bytes([i]) + bytes(range(30)) for i in range(len(pdfs))]
    if target in ("document", "args"):
        return [bytes((i + j) % 256 for j in range(64)) for i in range(0, 256, 32)]
    return [h + t for h in headers() for t in seed_texts()]


def write_seeds(target: str, directory: Path) -> None:
    directory.mkdir(parents=True, exist_ok=True)
    for i, seed in enumerate(seeds_for(target)):
        (directory / f"seed-{i:03d}").write_bytes(seed)


def run_target(target: str, seconds: int, seed: int | None, corpus: Path, artifacts: Path) -> dict:
    write_seeds(target, corpus)
    artifacts.mkdir(parents=True, exist_ok=True)
    max_len = 65536 if target == "pdf" else 16384
    command = [sys.executable, str(HARNESS), target, str(corpus),
               f"-max_total_time={seconds}", f"-max_len={max_len}", "-timeout=30", "-rss_limit_mb=6144",
               "-print_final_stats=1", f"-artifact_prefix={artifacts}/"]
    if seed is not None:
        command.append(f"-seed={seed}")
    started = time.monotonic()
    proc = subprocess.run(command, capture_output=True, text=True, errors="replace",
                          timeout=seconds * 4 + 300)
    elapsed = time.monotonic() - started
    log = proc.stdout + proc.stderr
    runs = re.findall(r"stat::number_of_executed_units:\s*(\d+)", log)
    if not runs:
        runs = re.findall(r"Done (\d+) runs", log)
    crashed = proc.returncode != 0
    return {"target": target, "runs": int(runs[-1]) if runs else 0, "seconds": elapsed,
            "crashed": crashed, "log": log, "returncode": proc.returncode}


def main() -> int:
    import harness

    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=int, default=int(os.environ.get("FUZZ_SECONDS", "60")))
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--only", nargs="*", default=None)
    parser.add_argument("--corpus", type=Path, default=ROOT / "build" / "fuzz" / "corpus")
    parser.add_argument("--artifacts", type=Path, default=ROOT / "build" / "fuzz" / "artifacts")
    parser.add_argument("--fresh", action="store_true", help="start from the seeds alone")
    args = parser.parse_args()

    names = list(harness.targets())
    if args.only:
        unknown = set(args.only) - set(names)
        if unknown:
            parser.error(f"unknown targets {sorted(unknown)}; known: {' '.join(names)}")
        names = [n for n in names if n in args.only]

    scratch = Path(tempfile.mkdtemp(prefix="slivr-fuzz-")) if args.fresh else None
    results = []
    try:
        for name in names:
            corpus = (scratch or args.corpus) / name
            result = run_target(name, args.seconds, args.seed, corpus, args.artifacts / name)
            results.append(result)
            status = "CRASH" if result["crashed"] else "ok"
            print(f"{name:28} {result['runs']:>9} runs  {result['seconds']:6.1f} s  {status}", flush=True)
            if result["crashed"]:
                print("\n".join(result["log"].splitlines()[-60:]), file=sys.stderr)
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)
    crashed = [r["target"] for r in results if r["crashed"]]
    total = sum(r["runs"] for r in results)
    print(f"{len(results)} targets, {total} executions, {len(crashed)} crashed"
          + (f": {' '.join(crashed)}" if crashed else ""))
    return 1 if crashed else 0


if __name__ == "__main__":
    sys.exit(main())
