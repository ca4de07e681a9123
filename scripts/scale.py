"""Scale run: a gigabyte of text through RecursiveChunker and SentenceChunker, watching peak memory.

    python scripts/scale.py [--megabytes 1000] [--mode text|batch] [--chunkers RecursiveChunker ...]

The input is prose repeated up to the requested size: the corpus folder's prose
(../shared/corpus/prose, or $SLIVR_CORPUS/prose) when it is there, else the example texts. It is
kept ASCII (the few other characters become "?"), so that the Python str holding it is as big as
its UTF-8 bytes and the figure measures the library rather than the interpreter's wider string
forms. --mode text chunks it as one str with `chunk`; --mode batch cuts it into 1 MB texts and
hands the list to `par_chunk_texts`.

Each chunker runs in a fresh child process; the child reports its resident memory once the input
exists and its peak resident memory (ru_maxrss) after chunking, which includes the input itself
and the Python result list. The run passes when every peak stays under 4 times the input size.
"""
from __future__ import annotations

import argparse
import json
import os
import resource
import subprocess
import sys
import time
from pathlib import Path

from memory import rss_mb

ROOT = Path(__file__).resolve().parent.parent
CORPUS = Path(os.environ.get("SLIVR_CORPUS", ROOT.parent / "shared" / "corpus"))
LIMIT = 4.0


def base_text() -> str:
    prose = CORPUS / "prose"
    files = sorted(prose.glob("*.txt")) if prose.is_dir() else sorted((ROOT / "examples" / "samples").iterdir())
    text = "\n\n".join(p.read_text(encoding="utf-8", errors="replace") for p in files)
    return text.encode("ascii", "replace").decode("ascii")


def child(name: str, megabytes: int, mode: str) -> None:
    import slivr

    base = base_text()
    size = megabytes * 1_000_000
    text = base * (size // len(base) + 1)
    text = text[:size]
    del base
    chunker = getattr(slivr, name)()
    rss_input = rss_mb()
    started = time.perf_counter()
    if mode == "text":
        chunks = chunker.chunk(text)
        count = len(chunks)
    else:
        step = 1_000_000
        texts = [text[i:i + step] for i in range(0, len(text), step)]
        del text
        text = None
        lists = chunker.par_chunk_texts(texts)
        count = sum(len(c) for c in lists)
        chunks = lists
    elapsed = time.perf_counter() - started
    rss_after = rss_mb()
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(json.dumps({"chunker": name, "input_mb": size / 2**20, "chunks": count, "seconds": elapsed,
                      "rss_with_input_mb": rss_input, "rss_after_mb": rss_after, "peak_mb": peak}))
    del chunks


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--megabytes", type=int, default=1000)
    parser.add_argument("--mode", choices=("text", "batch"), default="text")
    parser.add_argument("--chunkers", nargs="*", default=["RecursiveChunker", "SentenceChunker"])
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child, args.megabytes, args.mode)
        return 0

    ok = True
    print(f"{args.megabytes} MB of ASCII prose ({args.megabytes * 1e6 / 2**20:.0f} MiB), mode {args.mode}; "
          f"limit: peak RSS < {LIMIT:.0f} x input; figures in MiB")
    for name in args.chunkers:
        proc = subprocess.run([sys.executable, __file__, "--child", name, "--megabytes", str(args.megabytes),
                               "--mode", args.mode], capture_output=True, text=True)
        if proc.returncode != 0:
            print(f"{name}: failed (exit {proc.returncode})\n{proc.stderr[-2000:]}")
            ok = False
            continue
        r = json.loads(proc.stdout.strip().splitlines()[-1])
        ratio = r["peak_mb"] / r["input_mb"]
        passed = ratio < LIMIT
        ok &= passed
        print(f"{name:18} {r['chunks']:>9} chunks in {r['seconds']:6.1f} s ({r['input_mb'] / r['seconds']:6.1f} MiB/s); "
              f"RSS with input {r['rss_with_input_mb']:7.0f}, peak {r['peak_mb']:7.0f} "
              f"= {ratio:.2f} x input {'ok' if passed else 'OVER'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
