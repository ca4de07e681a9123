"""JsonChunker against LangChain's RecursiveJsonSplitter, and its scaling on large arrays."""
from __future__ import annotations

import json

import slivr
from harness import corpus_files

TITLE = "JsonChunker(1500)"


def run(bench) -> None:
    chunker = slivr.JsonChunker(1500)
    try:
        from langchain_text_splitters import RecursiveJsonSplitter
    except ImportError:
        RecursiveJsonSplitter = None

    for name, text in corpus_files("json", {".json"}):
        bench.case(name, len(text.encode()))
        bench.row("slivr JsonChunker(1500)", lambda: chunker.chunk(text))
        if RecursiveJsonSplitter is not None:
            splitter = RecursiveJsonSplitter(max_chunk_size=1500)
            # The peer works on parsed data; parsing is part of its job as it is of ours.
            try:
                data = json.loads(text)
            except ValueError:
                print("    (not a single JSON value: slivr chunks it as text; the peer cannot take it)")
                continue
            # The peer works on parsed data; parsing is part of its job as it is of ours.
            bench.row("langchain RecursiveJsonSplitter(max_chunk_size=1500)",
                      lambda: splitter.split_text(json.loads(text)), repeats=3,
                      note="sizes in characters of compact JSON")

    print("\n  scaling: top-level array of small objects")
    times = []
    for n in (10_000, 100_000, 1_000_000):
        text = json.dumps([{"id": i, "name": f"item {i}", "tags": ["a", "b"], "score": i / 7} for i in range(n)])
        bench.case(f"{n} objects", len(text))
        times.append((n, bench.row("slivr JsonChunker(1500)", lambda: chunker.chunk(text), repeats=3)))
    base_n, base_t = times[0]
    for n, t in times[1:]:
        print(f"    time per element at {n}: {t / n * 1e9:.0f} ns vs {base_t / base_n * 1e9:.0f} ns at {base_n}"
              f" ({(t / n) / (base_t / base_n):.2f}x)")
