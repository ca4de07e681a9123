"""The structure-aware chunkers against their peers on the same inputs, and their scaling.

Markdown: MarkdownChunker(1000, 150) against LangChain's usual two-step pipeline (header splitter,
then recursive splitter at 1000/150), LlamaIndex's MarkdownNodeParser (sections only, no size
limit) and semantic-text-splitter's MarkdownSplitter (capacity 1000, overlap 150).
Code: CodeChunker("python", 1500, 200) against LangChain's Python-language recursive splitter.
HTML: HtmlChunker(1200, 150) against LangChain's HTML-language recursive splitter.
Hierarchy: HierarchicalChunker(2000, 200, 400, 50) against LlamaIndex's HierarchicalNodeParser with
two sentence splitters at the same sizes, counting UTF-8 bytes (no model or tokenizer download).
The peers count characters where slivr counts bytes; the corpora are almost all ASCII.
"""
from __future__ import annotations

import slivr
from harness import corpus_texts, median_time, scaled_text

TITLE = "Structure-aware chunkers: Markdown, code, HTML, parent/child"
MB = 1_000_000
# The slivr rows take milliseconds on a shared machine: many runs keep their medians steady.
FAST = 25


def total_bytes(texts: list[str]) -> int:
    return sum(len(t.encode()) for t in texts)


def flat_count(result) -> int:
    return sum(len(r) for r in result)


def each(fn):
    """Runs a per-text chunking function over every text."""
    return lambda texts: [fn(t) for t in texts]


def linear_check(label: str, chunk, base: str, factors=(1, 4, 16)) -> None:
    """Times `chunk` on the base text repeated 1, 4 and 16 times and prints the time per MB."""
    rows = []
    for factor in factors:
        text = scaled_text([base], len(base) * factor)
        seconds, _ = median_time(lambda: chunk(text), repeats=9)
        rows.append((len(text.encode()), seconds))
    size0, t0 = rows[0]
    cells = ", ".join(f"{size / MB:.1f} MB {t / (size / MB) * 1000:.1f} ms/MB ({(t / size) / (t0 / size0):.2f}x)"
                      for size, t in rows)
    print(f"    scaling {label}: {cells}")


def markdown(bench) -> None:
    texts = corpus_texts("markdown", {".md"})
    if not texts:
        print("  (no markdown corpus)")
        return
    chunker = slivr.MarkdownChunker(1000, 150)
    bench.case(f"{len(texts)} Markdown files", total_bytes(texts))
    bench.row("slivr MarkdownChunker(1000, 150)", lambda: [chunker.chunk(t) for t in texts], repeats=FAST,
              count=flat_count)
    bench.row("slivr MarkdownChunker.par_chunk_texts", lambda: chunker.par_chunk_texts(texts), repeats=FAST,
              count=flat_count)

    try:
        from langchain_text_splitters import MarkdownHeaderTextSplitter, RecursiveCharacterTextSplitter
        headers = [("#" * level, f"h{level}") for level in range(1, 7)]
        header_splitter = MarkdownHeaderTextSplitter(headers, strip_headers=False)
        recursive = RecursiveCharacterTextSplitter(chunk_size=1000, chunk_overlap=150)
        bench.row("langchain header + recursive splitters",
                  lambda: [recursive.split_documents(header_splitter.split_text(t)) for t in texts],
                  repeats=9, count=flat_count, note="characters")
    except ImportError:
        print("    (langchain-text-splitters not installed)")

    try:
        from llama_index.core import Document as LlamaDocument
        from llama_index.core.node_parser import MarkdownNodeParser
        parser = MarkdownNodeParser()
        bench.row("llama-index MarkdownNodeParser",
                  lambda: parser.get_nodes_from_documents([LlamaDocument(text=t) for t in texts]),
                  note="sections only: long ones are not re-split")
    except ImportError:
        print("    (llama-index-core not installed)")

    try:
        from semantic_text_splitter import MarkdownSplitter
        splitter = MarkdownSplitter((1000, 1000), overlap=150)
        bench.row("semantic-text-splitter MarkdownSplitter", lambda: [splitter.chunks(t) for t in texts],
                  repeats=9, count=flat_count, note="Rust; characters; no heading metadata")
    except ImportError:
        print("    (semantic-text-splitter not installed)")

    linear_check("MarkdownChunker", chunker.chunk, "\n\n".join(texts))


def code(bench) -> None:
    texts = corpus_texts("code", {".py"})
    if not texts:
        print("  (no code corpus)")
        return
    chunker = slivr.CodeChunker("python", 1500, 200)
    bench.case(f"{len(texts)} Python files", total_bytes(texts))
    bench.row('slivr CodeChunker("python", 1500, 200)', lambda: [chunker.chunk(t) for t in texts], repeats=FAST,
              count=flat_count)
    try:
        from langchain_text_splitters import Language, RecursiveCharacterTextSplitter
        splitter = RecursiveCharacterTextSplitter.from_language(Language.PYTHON, chunk_size=1500, chunk_overlap=200)
        bench.row("langchain from_language(PYTHON)", lambda: [splitter.split_text(t) for t in texts],
                  repeats=15, count=flat_count, note="characters")
    except ImportError:
        print("    (langchain-text-splitters not installed)")
    linear_check("CodeChunker", chunker.chunk, "\n\n".join(texts))


def html(bench) -> None:
    texts = corpus_texts("html", {".html"})
    if not texts:
        print("  (no html corpus)")
        return
    chunker = slivr.HtmlChunker(1200, 150)
    bench.case(f"{len(texts)} HTML pages", total_bytes(texts))
    bench.row("slivr HtmlChunker(1200, 150)", lambda: [chunker.chunk(t) for t in texts], repeats=FAST,
              count=flat_count)
    try:
        from langchain_text_splitters import Language, RecursiveCharacterTextSplitter
        splitter = RecursiveCharacterTextSplitter.from_language(Language.HTML, chunk_size=1200, chunk_overlap=150)
        bench.row("langchain from_language(HTML)", lambda: [splitter.split_text(t) for t in texts],
                  count=flat_count, repeats=9, note="characters")
    except ImportError:
        print("    (langchain-text-splitters not installed)")
    linear_check("HtmlChunker", chunker.chunk, "\n".join(texts[:20]))


def hierarchy(bench) -> None:
    texts = corpus_texts("prose")
    if not texts:
        print("  (no prose corpus)")
        return
    chunker = slivr.HierarchicalChunker(2000, 200, 400, 50)
    bench.case(f"{len(texts)} prose files", total_bytes(texts))
    bench.row("slivr HierarchicalChunker.chunk", lambda: [chunker.chunk(t) for t in texts], repeats=FAST,
              count=flat_count)
    bench.row("slivr HierarchicalChunker.chunk_tree", lambda: [chunker.chunk_tree(t) for t in texts], repeats=FAST,
              count=lambda r: sum(len(p["children"]) + 1 for root in r for p in root["children"]))
    try:
        from llama_index.core import Document as LlamaDocument
        from llama_index.core.node_parser import HierarchicalNodeParser, SentenceSplitter
        splitters = {"parent": SentenceSplitter(chunk_size=2000, chunk_overlap=200, tokenizer=str.encode),
                     "child": SentenceSplitter(chunk_size=400, chunk_overlap=50, tokenizer=str.encode)}
        parser = HierarchicalNodeParser.from_defaults(node_parser_ids=["parent", "child"], node_parser_map=splitters)
        bench.row("llama-index HierarchicalNodeParser",
                  lambda: parser.get_nodes_from_documents([LlamaDocument(text=t) for t in texts]), repeats=3,
                  note="sentence splitters counting UTF-8 bytes")
    except ImportError:
        print("    (llama-index-core not installed)")
    linear_check("HierarchicalChunker", chunker.chunk, "\n\n".join(texts[:40]))


def run(bench) -> None:
    markdown(bench)
    code(bench)
    html(bench)
    hierarchy(bench)
