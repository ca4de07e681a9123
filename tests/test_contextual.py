"""ContextualChunker: recursive chunks prefixed with an extractive description of their provenance."""
import inspect

import pytest

import slivr

REPORT = "## Annual report\n\n" + "\n\n".join(
    f"Paragraph {i} says something about the year, the numbers and the people involved." for i in range(6))


def contexts(chunks):
    return [c.metadata["context"] for c in chunks]


def test_wraps_the_recursive_chunks():
    base = slivr.RecursiveChunker(200, 50).chunk(REPORT)
    chunks = slivr.ContextualChunker(200, 50).chunk(REPORT)
    assert len(chunks) == len(base) >= 3
    for i, (c, b) in enumerate(zip(chunks, base)):
        context = f"Doc: Annual report | Part {i + 1}/{len(base)}"
        assert c.content == f"[Context: {context}]\n\n{b.content}"
        # The base chunker's keys stay; "length" describes the final content.
        assert c.metadata == {"context": context, "chunk_index": i, "length": len(c.content.encode())}
        assert c.metadata["length"] > b.metadata["length"]


@pytest.mark.parametrize("text, title", [
    ("# Title\nbody text", "Title"),
    ("Title\nbody text", "Title"),
    ("\n \r\n###\n  ## Setup ##  \r\nbody", "Setup ##"),  # leading '#'s go, trailing ones stay
    ("#\n##\n # \nbody", "body"),
    ("# \n#\n##", "Document"),                             # no line with text
    ("\u3000Überblick\u2003\nrest", "Überblick"),
    ("only one line", "only one line"),
])
def test_title_is_the_first_line_with_text(text, title):
    chunks = slivr.ContextualChunker().chunk(text)
    assert contexts(chunks) == [f"Doc: {title} | Part 1/1"]


@pytest.mark.parametrize("limit, context", [
    (0, ""),
    (1, "D"),
    (12, "Doc: Résumé "),                         # characters, not bytes
    (21, "Doc: Résumé of 2024 |"),                # the position is cut off
    (200, "Doc: Résumé of 2024 | Part 1/1"),
])
def test_context_is_cut_to_whole_characters(limit, context):
    [chunk] = slivr.ContextualChunker(max_context_chars=limit).chunk("Résumé of 2024\nbody")
    assert chunk.metadata["context"] == context
    assert chunk.content == f"[Context: {context}]\n\nRésumé of 2024\nbody"
    assert chunk.metadata["length"] == len(chunk.content.encode())


@pytest.mark.parametrize("text", ["", "   ", "\n\n\t"])
def test_blank_text_fails_in_the_base_chunker(text):
    with pytest.raises(ValueError, match="^Empty input text provided$"):
        slivr.ContextualChunker().chunk(text)


@pytest.mark.parametrize("args, message", [
    ((0, 0), "Invalid chunk size: 0 (must be > 0)"),
    ((100, 100), "Invalid chunk overlap: 100 (must be strictly less than chunk_size 100)"),
    ((10, 200), "Invalid chunk overlap: 200 (must be strictly less than chunk_size 10)"),
])
def test_base_chunker_sizes_are_checked_when_chunking(args, message):
    chunker = slivr.ContextualChunker(*args)  # accepted here
    with pytest.raises(ValueError, match=f"^{message.replace('(', '[(]').replace(')', '[)]')}$"):
        chunker.chunk("some text")
    assert chunker.chunk_documents([slivr.Document(" ")]) == []


def test_source_metadata_is_not_seen_by_the_generator():
    doc = slivr.Document("Title\n\nbody", {"header_path": "Intro", "context": "mine", "file": "a.md"})
    [chunk] = slivr.ContextualChunker().chunk_documents([doc])
    # No section: "header_path" arrives only after chunking; the chunker's "context" wins.
    assert chunk.metadata["context"] == "Doc: Title | Part 1/1"
    assert chunk.metadata["header_path"] == "Intro" and chunk.metadata["file"] == "a.md"


def test_batches_agree_with_single_calls():
    texts = [REPORT, "# Other\n\n" + "word " * 300, " ", "short"]
    chunker = slivr.ContextualChunker(150, 30, 40)
    assert [[c.content for c in chunks] for chunks in chunker.par_chunk_texts(texts)] == \
        [[c.content for c in chunker.chunk(t)] if t.strip() else [] for t in texts]
    docs = [slivr.Document(t) for t in texts]
    assert [(c.content, c.metadata) for c in chunker.par_chunk_documents(docs)] == \
        [(c.content, c.metadata) for c in chunker.chunk_documents(docs)]


def test_constructor_signature_and_conversions():
    signature = "(chunk_size=1000, overlap=200, max_context_chars=200)"
    assert slivr.ContextualChunker.__text_signature__ == signature
    assert str(inspect.signature(slivr.ContextualChunker)) == signature
    with pytest.raises(TypeError, match="max_context_chars"):
        slivr.ContextualChunker(max_context_chars="200")
    with pytest.raises(OverflowError):
        slivr.ContextualChunker(overlap=-1)
