"""QueryAwareChunker: sentence relevance to a query, hotspot and context windows."""
import inspect

import pytest

import slivr


def windows(chunks):
    """(content, chunk_type) per chunk."""
    return [(c.content, c.metadata["chunk_type"]) for c in chunks]


def numbered(n, relevant=(), term="rust"):
    """n sentences "S<i> filler words." with the term in the relevant ones."""
    return [f"S{i} {term} matters here." if i in relevant else f"S{i} filler words here." for i in range(n)]


def test_metadata_of_a_chunk():
    text = "Rust is fast. Rust is safe and rust is fun. Nothing here."
    chunks = slivr.QueryAwareChunker("rust speed", 2, 1, 5, 0.1).chunk(text)
    assert chunks[0].content == "Rust is fast. Rust is safe and rust is fun."
    assert chunks[0].metadata == {
        "length": len(chunks[0].content.encode()), "chunk_index": 0, "query": "rust speed", "is_hotspot": True,
        "chunk_type": "hotspot", "relevance_score": 0.333, "matched_terms": ["rust"]}  # 1 of 3, 2 of 6 words
    assert [c.metadata["chunk_index"] for c in chunks] == list(range(len(chunks)))


@pytest.mark.parametrize("relevant, expected", [
    # Ten sentences without hotspot: context windows of 5 that share one sentence.
    ((), [(0, 5, "context"), (4, 9, "context"), (8, 10, "context")]),
    # Relevant sentences 4 and 5: overlapping hotspot pairs, then context again.
    ((4, 5), [(0, 5, "context"), (4, 6, "hotspot"), (5, 7, "hotspot"), (6, 10, "context")]),
    # A context window that starts before a relevant sentence contains it without being a hotspot.
    ((2,), [(0, 5, "context"), (4, 9, "context"), (8, 10, "context")]),
    ((0, 9), [(0, 2, "hotspot"), (1, 6, "context"), (5, 10, "context")]),
])
def test_window_walk_with_the_defaults(relevant, expected):
    sentences = numbered(10, relevant)
    chunks = slivr.QueryAwareChunker("rust").chunk(" ".join(sentences))
    assert windows(chunks) == [(" ".join(sentences[a:b]), kind) for a, b, kind in expected]
    assert all(c.metadata["is_hotspot"] == (c.metadata["chunk_type"] == "hotspot") for c in chunks)


@pytest.mark.parametrize("hs, ho, cs, threshold, expected", [
    (0, 5, 5, 0.0, [(i, i + 1) for i in range(6)]),          # hotspot size 0 acts as 1, no overlap
    (3, 3, 5, 0.0, [(0, 3), (1, 4), (2, 5), (3, 6)]),       # overlap reduced to size - 1
    (3, 9, 5, -1.0, [(0, 3), (1, 4), (2, 5), (3, 6)]),
    (2, 1, 0, 2.0, [(i, i + 1) for i in range(6)]),         # context size 0: one sentence, no overlap
    (2, 1, 1, 2.0, [(i, i + 1) for i in range(6)]),
    (2, 1, 2, 2.0, [(0, 2), (1, 3), (2, 4), (3, 5), (4, 6)]),
    (2, 0, 4, 0.0, [(0, 2), (2, 4), (4, 6)]),
])
def test_sizes_are_adjusted_so_windows_always_advance(hs, ho, cs, threshold, expected):
    sentences = numbered(6, relevant=(1, 3))
    chunks = slivr.QueryAwareChunker("rust", hs, ho, cs, threshold).chunk(" ".join(sentences))
    assert [c.content for c in chunks] == [" ".join(sentences[a:b]) for a, b in expected]


@pytest.mark.parametrize("threshold, kinds", [
    (0.0, {"hotspot"}), (-3.0, {"hotspot"}), (1.0000001, {"context"}), (float("inf"), {"context"}),
    (float("nan"), {"context"}),
])
def test_extreme_thresholds(threshold, kinds):
    text = " ".join(numbered(12, relevant=range(12)))  # every sentence scores 1/4 + 0.5
    chunks = slivr.QueryAwareChunker("rust", relevance_threshold=threshold).chunk(text)
    assert {c.metadata["chunk_type"] for c in chunks} == kinds


@pytest.mark.parametrize("query, sentence, score, matched", [
    ("rust lang", "Rust is x.", 0.333, ["rust"]),
    ("rust lang", "rust rust x", 0.667, ["rust"]),               # repeats count, listed once
    ("rust lang", "rust " + "x " * 1999, 0.001, ["rust"]),         # 0.5 after * 1000 rounds up
    ("rust", "Rust is x.", 0.833, ["rust"]),                       # 1/3 + 0.5: the query is in the sentence
    ("a rust", "A rust.", 1.0, ["rust"]),                          # one-letter words count as words only
    ("I", "I am here.", 0.0, []),                                  # no terms at all: no score, no bonus
    ("fast, safe", "It is FAST, SAFE code.", 0.9, ["fast", "safe"]),  # 2/5 + 0.5 for the phrase
    ("fast safe", "It is fast, safe code.", 0.4, ["fast", "safe"]),   # the phrase needs the comma
    ("safe fast", "fast safe", 1.0, ["fast", "safe"]),             # order of first appearance, capped at 1
    ("don't STOP", "\"Don't\" stop (STOP)!", 1.0, ["don't", "stop"]),
    ("café noir", "CAFÉ, café; Cafés.", 0.667, ["café"]),
    ("rust", "--- ... !!!", 0.0, []),                              # words that strip to nothing
    # Long words (hashed in several blocks) are found and listed once.
    ("internationalization-framework works", "Internationalization-framework: works, "
     "INTERNATIONALIZATION-FRAMEWORK (works) internationalization-frameworks", 0.8,
     ["internationalization-framework", "works"]),
])
def test_scores_and_matched_terms(query, sentence, score, matched):
    [chunk] = slivr.QueryAwareChunker(query, relevance_threshold=0.0).chunk(sentence)
    assert chunk.metadata["relevance_score"] == score
    assert chunk.metadata["matched_terms"] == matched
    assert chunk.metadata["query"] == query


def test_window_merges_scores_and_terms():
    text = "Nothing relevant. The cache helps. Rust and the cache. Plain text here. More plain text."
    chunks = slivr.QueryAwareChunker("rust cache", 2, 1, 3, 0.9).chunk(text)
    first = chunks[0]
    assert first.content == "Nothing relevant. The cache helps. Rust and the cache."
    assert first.metadata["chunk_type"] == "context"
    assert first.metadata["relevance_score"] == 0.5             # the best sentence: 2 of 4 words
    assert first.metadata["matched_terms"] == ["cache", "rust"]  # sentence order, then word order


@pytest.mark.parametrize("threshold, hotspot", [(0.25, True), (0.2500001, False)])
def test_single_sentence(threshold, hotspot):
    [chunk] = slivr.QueryAwareChunker("rust lang", relevance_threshold=threshold).chunk("  rust is not here  ")
    assert chunk.content == "rust is not here"
    assert chunk.metadata["is_hotspot"] is hotspot


@pytest.mark.parametrize("text", ["", "  ", "\u2028\n"])
def test_blank_text_is_rejected(text):
    with pytest.raises(ValueError, match="^Empty input text provided$"):
        slivr.QueryAwareChunker("q").chunk(text)


def test_constructor():
    signature = "(query, hotspot_sentences=2, hotspot_overlap=1, context_sentences=5, relevance_threshold=0.1)"
    assert slivr.QueryAwareChunker.__text_signature__ == signature
    assert str(inspect.signature(slivr.QueryAwareChunker)) == signature
    slivr.QueryAwareChunker(query="q", relevance_threshold=1)
    with pytest.raises(TypeError):
        slivr.QueryAwareChunker()
    with pytest.raises(TypeError, match="query"):
        slivr.QueryAwareChunker(b"q")
    with pytest.raises(TypeError, match="relevance_threshold"):
        slivr.QueryAwareChunker("q", relevance_threshold="0.5")
    with pytest.raises(OverflowError):
        slivr.QueryAwareChunker("q", context_sentences=-1)


def test_batches_agree_with_single_calls():
    texts = [" ".join(numbered(n, relevant=range(0, n, 3))) for n in range(1, 30)] + [" \n"]
    chunker = slivr.QueryAwareChunker("rust matters")
    docs = [slivr.Document(t, {"query": "source value"}) for t in texts]
    seq = chunker.chunk_documents(docs)
    assert [(c.content, c.metadata) for c in seq] == [(c.content, c.metadata) for c in chunker.par_chunk_documents(docs)]
    assert all(c.metadata["query"] == "rust matters" for c in seq)
    assert [[c.metadata for c in chunks] for chunks in chunker.par_chunk_texts(texts)] == \
        [[c.metadata for c in chunker.chunk(t)] if t.strip() else [] for t in texts]
