"""The main job: chunk the bundled samples with every chunker and show what comes out."""
from __future__ import annotations

import tempfile
import time
from pathlib import Path
from typing import Any

import pdfgen
import slivr

SAMPLES = Path(__file__).resolve().parent / "samples"


def load(name: str) -> str:
    return (SAMPLES / name).read_text(encoding="utf-8")


# (label, chunker, sample file). Each chunker family adds its rows here.
CHUNKERS: list[tuple[str, Any, str]] = [
    ("RecursiveChunker(300, 60)", slivr.RecursiveChunker(300, 60), "prose.txt"),
    ("TokenChunker(128, 16, \"cl100k_base\")", slivr.TokenChunker(128, 16, "cl100k_base"), "prose.txt"),
    ("SentenceChunker(3, 1)", slivr.SentenceChunker(3, 1), "prose.txt"),
    ("ParagraphChunker(2, 0)", slivr.ParagraphChunker(2, 0), "prose.txt"),
    ("SemanticChunker(50.0, 100, 400)", slivr.SemanticChunker(50.0, 100, 400), "prose.txt"),
    ("PropositionChunker(2, 0)", slivr.PropositionChunker(2, 0), "prose.txt"),
    ("ContextualChunker(300, 60, 80)", slivr.ContextualChunker(300, 60, 80), "guide.md"),
    ("QueryAwareChunker(\"paragraphs sentences\")", slivr.QueryAwareChunker("paragraphs sentences"), "prose.txt"),
    ("AgenticChunker(100, 400)", slivr.AgenticChunker(100, 400), "prose.txt"),
    ("CharacterChunker(200, 40)", slivr.CharacterChunker(200, 40), "prose.txt"),
    ("WordChunker(50, 10)", slivr.WordChunker(50, 10), "prose.txt"),
    ("HierarchicalChunker(400, 50, 120, 20)", slivr.HierarchicalChunker(400, 50, 120, 20), "prose.txt"),
    ("MarkdownChunker(200, 30)", slivr.MarkdownChunker(200, 30), "guide.md"),
    ("CodeChunker(\"python\", 500, 50)", slivr.CodeChunker("python", 500, 50), "shapes.py"),
    ("JsonChunker(300)", slivr.JsonChunker(300), "catalog.json"),
    ("HtmlChunker(600, 60)", slivr.HtmlChunker(600, 60), "page.html"),
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
        label, chunk = shown[0], shown[1]
        print(f"\nFirst chunk of {label}:\n  {chunk!r}")
        for key, value in sorted(chunk.metadata.items()):
            print(f"    {key}: {value!r}")

    pdf_demo()


def pdf_demo() -> None:
    """Writes a small PDF (one page per paragraph of the prose sample, then an empty page), loads
    it page by page and chunks the pages, so every chunk knows the page it came from."""
    paragraphs = load("prose.txt").split("\n\n")
    with tempfile.TemporaryDirectory() as folder:
        path = str(pdfgen.write_pdf(Path(folder) / "prose.pdf", paragraphs + [""]))
        t0 = time.perf_counter()
        pages = slivr.load_pdf_pages(path)
        ms = (time.perf_counter() - t0) * 1000
        chunks = slivr.CharacterChunker(200, 40).chunk_documents(pages)
    print(f"\nPDF: load_pdf_pages read {len(pages)} pages in {ms:.3f} ms "
          f"({sum(len(p) for p in pages)} bytes of text); CharacterChunker(200, 40).chunk_documents "
          f"made {len(chunks)} chunks")
    for page in pages:
        count = sum(c.metadata["page_number"] == page.metadata["page_number"] for c in chunks)
        print(f"  page {page.metadata['page_number']}/{page.metadata['total_pages']}: "
              f"{len(page):>4} bytes, {count} chunks  {page.content[:40]!r}")
    last = chunks[-1]
    print(f"Last chunk: {last!r}")
    for key, value in sorted(last.metadata.items()):
        print(f"    {key}: {value!r}")


if __name__ == "__main__":
    main()
