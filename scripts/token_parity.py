"""Compares the token ids of slivr's byte-pair encoder with the reference tokeniser (tiktoken,
built offline from the same vocabulary files) for the four encodings, over every text file of the
shared corpus, a generated stress corpus, every short string over an alphabet of character
classes, and every Unicode code point in context.

Usage: python scripts/token_parity.py [--tool build/<dir>/slivr_token_ids] [--corpus DIR] [--texts N]
The tool is built with -DSLIVR_NATIVE_TESTS=ON. Exits with status 1 on any mismatch.
"""
from __future__ import annotations

import argparse
import struct
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))

import tiktoken_reference as ref  # noqa: E402


def find_tool() -> Path | None:
    found = sorted(ROOT.glob("build/*/slivr_token_ids"), key=lambda p: p.stat().st_mtime, reverse=True)
    return found[0] if found else None


def corpus_texts(folder: Path) -> list[tuple[str, str]]:
    out = []
    for path in sorted(folder.rglob("*")):
        if not path.is_file():
            continue
        data = path.read_bytes()
        try:
            out.append((str(path.relative_to(folder)), data.decode("utf-8")))
        except UnicodeDecodeError:
            continue  # not a text file (the PDFs)
    return out


def native_ids(tool: Path, name: str, texts: list[str]) -> list[list[int]]:
    payload = bytearray()
    for text in texts:
        data = text.encode("utf-8")
        payload += struct.pack("<I", len(data)) + data
    result = subprocess.run([str(tool), name, str(ref.VOCAB_DIR)], input=bytes(payload), capture_output=True,
                            check=True)
    out, pos, raw = [], 0, result.stdout
    for _ in texts:
        (count,) = struct.unpack_from("<I", raw, pos)
        pos += 4
        out.append(list(struct.unpack_from(f"<{count}I", raw, pos)))
        pos += 4 * count
    return out


def first_difference(a: list[int], b: list[int]) -> int:
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", type=Path, default=None)
    parser.add_argument("--corpus", type=Path, default=ROOT.parent / "shared" / "corpus")
    parser.add_argument("--texts", type=int, default=20000, help="generated stress texts")
    args = parser.parse_args()
    tool = args.tool or find_tool()
    if tool is None or not tool.exists():
        print("slivr_token_ids not found: build with -DSLIVR_NATIVE_TESTS=ON or pass --tool", file=sys.stderr)
        return 2

    sets = {
        "corpus files": corpus_texts(args.corpus),
        "stress texts": [(f"stress #{i}", t) for i, t in enumerate(ref.stress_texts(args.texts, seed=7))],
        "short strings": [(repr(t), t) for t in ref.short_strings()],
        "every code point": [(f"code points #{i}", t) for i, t in enumerate(ref.every_code_point_texts())],
    }
    print(f"tool: {tool}")
    for label, items in sets.items():
        print(f"{label}: {len(items)} texts, {sum(len(t.encode()) for _, t in items) / 1e6:.1f} MB")

    failures = 0
    for name in ref.ENCODINGS:
        reference = ref.encoding(name)
        for label, items in sets.items():
            texts = [t for _, t in items]
            t0 = time.perf_counter()
            ours = native_ids(tool, name, texts)
            t1 = time.perf_counter()
            theirs = [reference.encode_ordinary(t) for t in texts]
            t2 = time.perf_counter()
            bad = [i for i, (a, b) in enumerate(zip(ours, theirs)) if a != b]
            tokens = sum(len(b) for b in theirs)
            print(f"{name:<12} {label:<17} {len(texts):>6} texts {tokens:>10} tokens  mismatches {len(bad)}"
                  f"  (slivr {t1 - t0:.2f}s incl. process, tiktoken {t2 - t1:.2f}s)")
            for i in bad[:5]:
                a, b = ours[i], theirs[i]
                at = first_difference(a, b)
                context = reference.decode(b[max(0, at - 3):at + 3])
                print(f"    {items[i][0]}: first difference at token {at}: slivr {a[at:at + 5]} "
                      f"reference {b[at:at + 5]} near {context!r}")
            failures += len(bad)
    print(f"total mismatches: {failures}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
