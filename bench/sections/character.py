"""CharacterChunker against plain slicing, and the parallel batch methods against the sequential one."""
from __future__ import annotations

import slivr
from harness import corpus_texts, scaled_text

TITLE = "CharacterChunker(1000, 200) and the batch methods"
MB = 1_000_000


def run(bench) -> None:
    prose = corpus_texts("prose") or ["The quick brown fox jumps over the lazy dog. " * 1000]
    # ASCII text, so that characters equal bytes and str slicing is the honest floor.
    text = scaled_text(prose, 100 * MB).encode("ascii", "replace").decode("ascii")
    chunker = slivr.CharacterChunker(1000, 200)
    bench.case("chunk() on 100 MB of prose", len(text))
    bench.row("slivr CharacterChunker.chunk", lambda: chunker.chunk(text), repeats=5)
    bench.row("python slicing [text[i:i+1000] for i in range(0, n, 800)]",
              lambda: [text[i:i + 1000] for i in range(0, len(text), 800)], repeats=5,
              note="only slices: the floor for any chunker returning Python objects")

    multilingual = corpus_texts("multilingual")
    if multilingual:
        wide = scaled_text(multilingual, 20 * MB)
        bench.case("chunk() on 20 M characters of Chinese/Japanese/Russian", len(wide.encode()))
        bench.row("slivr CharacterChunker.chunk", lambda: chunker.chunk(wide), repeats=5)
        bench.row("python slicing", lambda: [wide[i:i + 1000] for i in range(0, len(wide), 800)], repeats=5)

    docs_text = [text[i:i + 100_000] for i in range(0, 100 * MB, 100_000)]
    docs = [slivr.Document(t, {"source": f"doc{i}"}) for i, t in enumerate(docs_text)]
    bench.case(f"{len(docs)} documents of 100 kB", sum(len(t) for t in docs_text))
    base = bench.row("slivr chunk_documents (one thread)", lambda: chunker.chunk_documents(docs))
    par = bench.row("slivr par_chunk_documents", lambda: chunker.par_chunk_documents(docs))
    bench.row("slivr par_chunk_texts", lambda: chunker.par_chunk_texts(docs_text),
              count=lambda r: sum(len(x) for x in r))
    if base and par:
        print(f"    speed-up of par_chunk_documents over chunk_documents: {base / par:.2f}x")
