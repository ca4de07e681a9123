"""RecursiveChunker and SentenceChunker against the peer splitters, scaling and peak memory.

Every input is one text made by joining the files of a corpus folder. Prose, Markdown and code are
reduced to ASCII, so that characters equal bytes and a size of 1000 means the same to every library
(slivr counts bytes, the peers characters). On the multilingual text slivr's 1000 bytes hold about
a third as many characters as a peer's 1000 characters, so slivr makes about three times as many
chunks there. Peers that would fetch a tokenizer count characters or words instead (see each note).
"""
from __future__ import annotations

import statistics
import subprocess
import sys
import tempfile
import time
from typing import Callable

import slivr
from harness import corpus_texts, scaled_text

TITLE = "RecursiveChunker(1000, 200) and SentenceChunker against peer splitters"
MB = 1_000_000
FOLDERS = [("prose", True), ("markdown", True), ("code", True), ("multilingual", False)]


def folder_text(folder: str, ascii_only: bool) -> str:
    text = "\n\n".join(corpus_texts(folder))
    return text.encode("ascii", "replace").decode("ascii") if ascii_only else text


def optional_peer(build: Callable[[], Callable[[str], object]]) -> Callable[[str], object] | None:
    """A peer's split function, or None when the library is not installed."""
    try:
        return build()
    except ImportError:
        return None


def recursive_peers() -> list[tuple[str, Callable[[str], object] | None, str]]:
    def langchain():
        from langchain_text_splitters import RecursiveCharacterTextSplitter
        return RecursiveCharacterTextSplitter(chunk_size=1000, chunk_overlap=200).split_text

    def chonkie():
        from chonkie import RecursiveChunker
        return RecursiveChunker(tokenizer="character", chunk_size=1000).chunk

    def text_splitter():
        from semantic_text_splitter import TextSplitter
        return TextSplitter(1000, overlap=200).chunks

    def semchunk():
        import semchunk as sc
        chunker = sc.chunkerify(len, 1000)
        return lambda text: chunker(text, overlap=200)

    return [
        ("langchain RecursiveCharacterTextSplitter", optional_peer(langchain), "chunk_size=1000, chunk_overlap=200"),
        ("chonkie RecursiveChunker", optional_peer(chonkie), "character tokenizer, 1000; has no overlap"),
        ("semantic-text-splitter TextSplitter", optional_peer(text_splitter), "1000 characters, overlap 200"),
        ("semchunk", optional_peer(semchunk), "token counter len (characters), 1000, overlap 200"),
    ]


def sentence_peers() -> list[tuple[str, Callable[[str], object] | None, str]]:
    def chonkie():
        from chonkie import SentenceChunker
        return SentenceChunker(tokenizer="character", chunk_size=1000, chunk_overlap=200).chunk

    def llama_index():
        from llama_index.core.node_parser import SentenceSplitter
        return SentenceSplitter(chunk_size=200, chunk_overlap=40, tokenizer=str.split).split_text

    return [
        ("chonkie SentenceChunker", optional_peer(chonkie), "character tokenizer, 1000, overlap 200"),
        ("llama-index SentenceSplitter", optional_peer(llama_index),
         "words instead of tiktoken tokens: 200, overlap 40"),
    ]


def compare(bench, title: str, text: str, ours: tuple[str, Callable[[str], object]], peers) -> None:
    bench.case(title, len(text.encode()))
    label, fn = ours
    bench.row(label, lambda: fn(text), repeats=31)
    for name, peer, note in peers:
        if peer is None:
            print(f"    {name:<44} not installed")
            continue
        bench.row(name, lambda: peer(text), note=note)


def best_of_interleaved(fns: list[Callable[[], object]], rounds: int = 15) -> list[float]:
    """The fastest of `rounds` runs of each function, the functions taking turns.

    A run of a millisecond loses a whole scheduler slice when another process takes the processor,
    which the median of a few runs does not hide on a busy machine; the fastest run does, and
    taking turns exposes every function to the same conditions."""
    best = [float("inf")] * len(fns)
    for _ in range(rounds):
        for i, fn in enumerate(fns):
            t0 = time.perf_counter()
            result = fn()
            best[i] = min(best[i], time.perf_counter() - t0)
            del result
    return best


# Times one chunker on the first `size` MB of a file in a fresh process: the first call after a
# small warm-up (cold: the output lands in memory the process has never touched), then the median
# of three more calls (warm: the allocator may hand back the memory of the previous result).
CHILD = """
import statistics, sys, time
import slivr
path, size, kind = sys.argv[1], int(sys.argv[2]), sys.argv[3]
with open(path, encoding="ascii") as f:
    text = f.read(size * 1_000_000)
chunk = {
    "recursive": slivr.RecursiveChunker(1000, 200).chunk,
    "sentence": slivr.SentenceChunker(3, 1).chunk,
    "slicing": lambda t: [t[i:i + 1000] for i in range(0, len(t), 800)],
}[kind]
chunk(text[:65536])
t0 = time.perf_counter(); result = chunk(text); cold = time.perf_counter() - t0
del result
warm = []
for _ in range(3):
    t0 = time.perf_counter(); result = chunk(text); warm.append(time.perf_counter() - t0)
    del result
print(cold, statistics.median(warm))
"""


def scaling(path: str, kind: str, sizes=(1, 10, 100), rounds: int = 5) -> dict[int, tuple[float, float]]:
    """Median (cold, warm) milliseconds per MB for each size; sizes interleave within a round."""
    runs: dict[int, list[tuple[float, float]]] = {size: [] for size in sizes}
    for _ in range(rounds):
        for size in sizes:
            out = subprocess.run([sys.executable, "-c", CHILD, path, str(size), kind], check=True,
                                 capture_output=True, text=True).stdout.split()
            runs[size].append((float(out[0]) * 1000 / size, float(out[1]) * 1000 / size))
    return {size: (statistics.median(c for c, _ in r), statistics.median(w for _, w in r)) for size, r in runs.items()}


# Peak resident memory of one call on the whole file, above the process's level just before it
# (the input included in that level). The kernel's high-water mark is reset first, so that reading
# the input does not hide the peak of the call.
MEMORY_CHILD = """
import sys
import slivr

def status_kb(key):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(key + ":"))

path, kind = sys.argv[1], sys.argv[2]
with open(path, encoding="ascii") as f:
    text = f.read()
chunker = slivr.RecursiveChunker(1000, 200) if kind == "recursive" else slivr.SentenceChunker(3, 1)
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
base = status_kb("VmRSS")
result = chunker.chunk(text)
print((status_kb("VmHWM") - base) / 1024, len(text) / 1e6)
"""


def run(bench) -> None:
    recursive = slivr.RecursiveChunker(1000, 200)
    sentences = slivr.SentenceChunker(3, 1)
    rec_peers = recursive_peers()
    sent_peers = sentence_peers()
    for folder, ascii_only in FOLDERS:
        text = folder_text(folder, ascii_only)
        if not text:
            print(f"\n  {folder}: corpus folder missing, skipped")
            continue
        compare(bench, f"{folder}: recursive splitting, 1000 / 200", text,
                ("slivr RecursiveChunker(1000, 200)", recursive.chunk), rec_peers)
        langchain = rec_peers[0][1]
        if langchain is not None:
            ours, theirs = best_of_interleaved([lambda: recursive.chunk(text), lambda: langchain(text)])
            print(f"    best of 15 interleaved runs: slivr {ours * 1000:.2f} ms, langchain {theirs * 1000:.1f} ms"
                  f" = {theirs / ours:.1f}x")
        compare(bench, f"{folder}: sentence chunking", text,
                ("slivr SentenceChunker(3, 1)", sentences.chunk), sent_peers)

    scaling_and_memory()


def scaling_and_memory() -> None:
    prose = corpus_texts("prose") or ["The quick brown fox jumps over the lazy dog. " * 1000]
    big = scaled_text(prose, 100 * MB).encode("ascii", "replace").decode("ascii")
    print("\n  scaling on prose: milliseconds per MB, medians of 5 fresh processes per size")
    print("  (time must grow linearly: per-MB figures within 10% of each other)")
    with tempfile.NamedTemporaryFile("w", encoding="ascii", suffix=".txt") as f:
        f.write(big)
        f.flush()
        del big
        # The slicing row writes as much output as the recursive chunker with plain Python slices:
        # what the memory system alone does to the per-MB time as the data outgrows the caches.
        for kind, name in [("recursive", "RecursiveChunker(1000, 200)"), ("sentence", "SentenceChunker(3, 1)"),
                           ("slicing", "python t[i:i+1000], step 800")]:
            rates = scaling(f.name, kind)
            for i, label in enumerate(["first call", "later calls"]):
                cells = "  ".join(f"{size:>3} MB: {r[i]:6.3f}" for size, r in rates.items())
                values = [r[i] for r in rates.values()]
                spread = max(values) / min(values) - 1
                print(f"    {name:<28} {label:<12} {cells}   spread {spread * 100:5.1f}%")

        print("\n  peak memory of one call on 100 MB of prose, above the process before the call")
        for kind, name in [("recursive", "RecursiveChunker(1000, 200)"), ("sentence", "SentenceChunker(3, 1)")]:
            out = subprocess.run([sys.executable, "-c", MEMORY_CHILD, f.name, kind], check=True,
                                 capture_output=True, text=True).stdout.split()
            extra, input_mb = float(out[0]), float(out[1])
            print(f"    {name:<28} {extra:8.1f} MB = {extra / input_mb:.2f}x the input")
