"""RecursiveChunker and SentenceChunker against the peer splitters, scaling and peak memory.

Every input is one text made by joining the files of a corpus folder. Prose, Markdown and code are
reduced to ASCII, so that characters equal bytes and a size of 1000 means the same to every library
(slivr counts bytes, the peers characters). On the multilingual text slivr's 1000 bytes hold about
a third as many characters as a peer's 1000 characters, so slivr makes about three times as many
chunks there. Peers that would fetch a tokenizer count characters or words instead (see each note).
"""
from __future__ import annotations

import gc
import statistics
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
    bench.row(label, lambda: fn(text), repeats=9)
    for name, peer, note in peers:
        if peer is None:
            print(f"    {name:<44} not installed")
            continue
        bench.row(name, lambda: peer(text), note=note)


def seconds_per_mb(fn: Callable[[], object], size: int, repeats: int) -> float:
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - t0)
        del result
    return statistics.median(times) / (size / MB)


def status_kb(key: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    raise KeyError(key)


def peak_extra_mb(fn: Callable[[], object]) -> float:
    """Peak resident memory above the current level while `fn` runs and its result is alive.

    Resets the kernel's high-water mark first, so that earlier peaks (building the input) do not
    hide this one."""
    gc.collect()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    base = status_kb("VmRSS")
    result = fn()
    peak = status_kb("VmHWM")
    del result
    return (peak - base) / 1024


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
        compare(bench, f"{folder}: sentence chunking", text,
                ("slivr SentenceChunker(3, 1)", sentences.chunk), sent_peers)

    prose = corpus_texts("prose") or ["The quick brown fox jumps over the lazy dog. " * 1000]
    big = scaled_text(prose, 100 * MB).encode("ascii", "replace").decode("ascii")
    print("\n  scaling on prose: median seconds per MB (time must grow linearly, within 10%)")
    for name, chunker in [("RecursiveChunker(1000, 200)", recursive), ("SentenceChunker(3, 1)", sentences)]:
        rates = {}
        for size, repeats in [(1, 31), (10, 9), (100, 5)]:
            part = big[:size * MB]
            rates[size] = seconds_per_mb(lambda: chunker.chunk(part), size * MB, repeats)
        spread = max(rates.values()) / min(rates.values()) - 1
        cells = "  ".join(f"{size:>3} MB: {rate * 1000:7.3f} ms/MB" for size, rate in rates.items())
        print(f"    {name:<30} {cells}   spread {spread * 100:4.1f}%")

    print("\n  peak memory while chunking 100 MB of prose (extra resident memory over the input)")
    for name, chunker in [("RecursiveChunker(1000, 200)", recursive), ("SentenceChunker(3, 1)", sentences)]:
        extra = peak_extra_mb(lambda: chunker.chunk(big))
        print(f"    {name:<30} {extra:8.1f} MB = {extra / (len(big) / MB):.2f}x the input")
