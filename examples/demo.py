"""The main job: chunk the bundled samples with every chunker and show what comes out."""
from __future__ import annotations

import time
from pathlib import Path

import slivr

SAMPLES = Path(__file__).resolve().parent / "samples"


def load(name: str) -> str:
    return (SAMPLES / name).read_text(encoding="utf-8")


# (label, chunker, sample file). Each chunker family adds its rows here.
CHUNKERS = [
    ("CharacterChunker(200, 40)", slivr.CharacterChunker(200, 40), "prose.txt"),
]


def main() -> None:
    print(f"slivr demo: {len(CHUNKERS)} chunkers on the bundled samples\n")
    header = f"{'chunker':<44} {'sample':<12} {'chunks':>6} {'min':>5} {'max':>5} {'mean':>7} {'ms':>8}"
    print(header)
    print("-" * len(header))
    shown = None
    for label, chunker, sample in CHUNKERS:
        text = load(sample)
        t0 = time.perf_counter()
        chunks = chunker.chunk(text)
        ms = (time.perf_counter() - t0) * 1000
        sizes = [len(c) for c in chunks] or [0]
        print(f"{label:<44} {sample:<12} {len(chunks):>6} {min(sizes):>5} {max(sizes):>5} "
              f"{sum(sizes) / len(sizes):>7.1f} {ms:>8.3f}")
        shown = shown or (label, chunks[0] if chunks else None)

    docs = [slivr.Document(load(name), {"source": name}) for name in ("prose.txt", "guide.md")]
    batch = slivr.CharacterChunker(300, 50).par_chunk_documents(docs)
    print(f"\npar_chunk_documents over {len(docs)} documents: {len(batch)} chunks, "
          f"doc_index values {sorted({d.metadata['doc_index'] for d in batch})}")

    if shown and shown[1] is not None:
        label, chunk = shown
        print(f"\nFirst chunk of {label}:\n  {chunk!r}")
        for key, value in sorted(chunk.metadata.items()):
            print(f"    {key}: {value!r}")


if __name__ == "__main__":
    main()
