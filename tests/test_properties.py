"""Properties that hold for every input, checked on generated texts and arguments.

The generic ones run over every chunker in tests/catalog.py; the others state what the window
and slicing chunkers promise about where their chunks come from.
"""
import os

import pytest
from hypothesis import HealthCheck, assume, given, settings, strategies as st

import catalog
import slivr

ENTRIES = catalog.present()
IDS = [e.name for e in ENTRIES]
# SLIVR_PROPERTY_EXAMPLES raises the number of examples for a longer search than CI makes.
FAST = settings(max_examples=int(os.environ.get("SLIVR_PROPERTY_EXAMPLES", "40")), deadline=None,
                suppress_health_check=[HealthCheck.too_slow])

# Characters that matter to the chunkers: every kind of white space, sentence ends, markup,
# multi-byte letters, combining marks, CJK and emoji.
ALPHABET = (list("abcdefghij XYZ0123456789.,;:!?'\"()[]{}<>/#*`~-_=\\") + list(catalog.WHITE_SPACE)
            + list("éßİΣςжא日本語。、😀👍\u0301\u200b\ufeff"))
FRAGMENTS = ["word", "Dr.", "U.S.", "...", "?!", "\n\n", "\n", "# ", "## ", "```", "<div>", "</p>",
             '{"a": [1, 2]}', "null", "fn f() {}", "def g():", "however,", "because", "日本語の文。"]

texts = st.one_of(
    st.text(st.sampled_from(ALPHABET), max_size=400),
    st.lists(st.sampled_from(FRAGMENTS + [" ", ". "]), max_size=60).map("".join),
    st.text(max_size=200),
)
ascii_texts = st.text(st.sampled_from(list("abcdef XY.,!?\n\t-")), max_size=400)


def utf8_len(s: str) -> int:
    return len(s.encode())


def comparable(docs, unstable=()):
    return [(d.content, {k: v for k, v in d.metadata.items() if k not in unstable}) for d in docs]


def chunk_or_error(chunker, text):
    try:
        return chunker.chunk(text)
    except ValueError as e:
        catalog.check_error(e)
        return None


def assert_ordered_slices(text, docs):
    position = 0
    for d in docs:
        assert d.content == catalog.trim(d.content)
        start = text.find(d.content, position)
        assert start >= 0, f"{d.content!r} is not a slice of the input after position {position}"
        position = start


def assert_tiles(text, docs):
    """The chunks lie in text order and only white space lies outside them."""
    position = 0
    for d in docs:
        start = text.find(d.content, position)
        assert start >= 0 and catalog.is_blank(text[position:start]), (d.content, text[position:start])
        position = start + len(d.content)
    assert catalog.is_blank(text[position:])


def words_of(text):
    out, word = [], []
    for c in text:
        if c in catalog.WHITE_SPACE:
            if word:
                out.append("".join(word))
                word = []
        else:
            word.append(c)
    if word:
        out.append("".join(word))
    return out


def assert_window_starts(starts, ends, size, overlap, n):
    """The window rule: starts 0, step, 2 step, ...; the last window is the first to reach n."""
    step = size - overlap
    assert starts == [i * step for i in range(len(starts))]
    assert ends == [min(s + size, n) for s in starts]
    assert starts and starts[-1] + size >= n and (len(starts) == 1 or starts[-2] + size < n)


# ---------------------------------------------------------------------------------------------
# Every chunker


@pytest.mark.parametrize("entry", ENTRIES, ids=IDS)
def test_chunk_ends_in_documents_or_a_library_error(entry):
    @FAST
    @given(kwargs=entry.strategy(st), text=texts)
    def check(kwargs, text):
        try:
            chunker = entry.cls(**kwargs)
        except ValueError as e:  # the validating constructors
            catalog.check_error(e)
            return
        docs = chunk_or_error(chunker, text)
        if catalog.is_blank(text):
            with pytest.raises(ValueError, match="^Empty input text provided$"):
                chunker.chunk(text)
        if docs is None:
            return
        for d in docs:
            assert isinstance(d, slivr.Document)
            if "length" in d.metadata:
                expected = [utf8_len(d.content)]
                if entry.length_of_input_when_single and len(docs) == 1:
                    expected.append(utf8_len(text))
                assert d.metadata["length"] in expected
        if entry.slices == "ordered":
            assert_ordered_slices(text, docs)
        elif entry.slices == "any":
            assert all(d.content in text for d in docs)
        # Chunkers are pure: a second call gives the same chunks.
        assert comparable(chunker.chunk(text), entry.unstable_keys) == comparable(docs, entry.unstable_keys)

    check()


documents = st.lists(st.builds(slivr.Document, texts, st.dictionaries(
    st.sampled_from(["source", "page", "length", "doc_index", "tags"]),
    st.one_of(st.none(), st.integers(-5, 5), st.text(max_size=5), st.lists(st.booleans(), max_size=3)),
    max_size=3)), max_size=8)


@pytest.mark.parametrize("entry", ENTRIES, ids=IDS)
def test_parallel_batches_equal_sequential_ones(entry):
    chunker = entry.build()

    @FAST
    @given(docs=documents)
    def check(docs):
        try:
            sequential = chunker.chunk_documents(docs)
        except ValueError as e:
            catalog.check_error(e)
            with pytest.raises(ValueError):
                chunker.par_chunk_documents(docs)
            return
        parallel = chunker.par_chunk_documents(docs)
        assert comparable(parallel, entry.unstable_keys) == comparable(sequential, entry.unstable_keys)
        # Provenance: positions of non-blank sources, chunk indexes counted per source.
        seen = {}
        for d in sequential:
            m = d.metadata
            source = docs[m["doc_index"]]
            assert not catalog.is_blank(source.content)
            assert m["chunk_index"] == seen.get(m["doc_index"], 0)
            seen[m["doc_index"]] = m["chunk_index"] + 1
            for key, value in source.metadata.items():
                if key not in ("doc_index", "chunk_index"):
                    assert key in m and (m[key] == value or key == "length")
        texts_ = [doc.content for doc in docs]
        lists = chunker.par_chunk_texts(texts_)
        assert len(lists) == len(texts_)
        for text, chunks in zip(texts_, lists):
            expected = [] if catalog.is_blank(text) else chunker.chunk(text)
            assert comparable(chunks, entry.unstable_keys) == comparable(expected, entry.unstable_keys)

    check()


# ---------------------------------------------------------------------------------------------
# Window chunkers


@FAST
@given(text=texts, size=st.integers(1, 30), overlap=st.integers(0, 29))
def test_character_windows_cover_every_character(text, size, overlap):
    assume(overlap < size and not catalog.is_blank(text))
    docs = slivr.CharacterChunker(size, overlap).chunk(text)
    n = len(text)
    # Blank windows are dropped, so the window rule shows only between the windows emitted.
    step = size - overlap
    covered = [False] * n
    for i, d in enumerate(docs):
        m = d.metadata
        start, end = m["start_char"], m["end_char"]
        assert start % step == 0 and end == min(start + size, n) and m["char_count"] == end - start
        assert d.content == catalog.trim(text[start:end]) and d.content
        assert m["length"] == utf8_len(d.content) and m["chunk_index"] == i
        covered[start:end] = [True] * (end - start)
    assert docs[-1].metadata["end_char"] == n or catalog.is_blank(text[docs[-1].metadata["end_char"]:])
    assert all(covered[i] for i, c in enumerate(text) if c not in catalog.WHITE_SPACE)


@FAST
@given(text=texts, size=st.integers(1, 12), overlap=st.integers(0, 11))
def test_word_windows_cover_every_word(text, size, overlap):
    assume(overlap < size and not catalog.is_blank(text))
    words = words_of(text)
    docs = slivr.WordChunker(size, overlap).chunk(text)
    starts = [d.metadata["start_word"] for d in docs]
    ends = [d.metadata["end_word"] for d in docs]
    assert_window_starts(starts, ends, size, overlap, len(words))
    for d, start, end in zip(docs, starts, ends):
        assert d.content == " ".join(words[start:end])
        assert d.metadata["word_count"] == end - start and d.metadata["length"] == utf8_len(d.content)


@FAST
@given(text=texts, size=st.integers(1, 5), overlap=st.integers(0, 4))
def test_paragraph_windows_cover_every_paragraph(text, size, overlap):
    assume(overlap < size and not catalog.is_blank(text))
    paragraphs = [p for p in (catalog.trim(part) for part in text.split("\n\n")) if p]
    docs = slivr.ParagraphChunker(size, overlap).chunk(text)
    starts = [d.metadata["start_paragraph"] for d in docs]
    ends = [d.metadata["end_paragraph"] for d in docs]
    assert_window_starts(starts, ends, size, overlap, len(paragraphs))
    for d, start, end in zip(docs, starts, ends):
        assert d.content == "\n\n".join(paragraphs[start:end])


@FAST
@given(text=texts, size=st.integers(1, 5), overlap=st.integers(0, 4),
       max_characters=st.none() | st.integers(0, 80))
def test_sentence_windows_follow_the_window_rule(text, size, overlap, max_characters):
    assume(overlap < size and not catalog.is_blank(text))
    docs = slivr.SentenceChunker(size, overlap, max_characters).chunk(text)
    starts = [d.metadata["start_sentence"] for d in docs]
    ends = [d.metadata["end_sentence"] for d in docs]
    assert_window_starts(starts, ends, size, overlap, ends[-1])
    for d in docs:
        assert d.metadata["sentence_count"] == d.metadata["end_sentence"] - d.metadata["start_sentence"]
        assert d.metadata["length"] == utf8_len(d.content)
        if max_characters is not None:
            assert len(d.content) <= max_characters
    # Sentences end only before white space, so windows without overlap or cap keep every word.
    if max_characters is None and overlap == 0:
        assert [w for d in docs for w in words_of(d.content)] == words_of(text)


# ---------------------------------------------------------------------------------------------
# Slicing chunkers


@FAST
@given(text=texts, size=st.integers(1, 60), overlap=st.integers(0, 59))
def test_recursive_chunks_without_overlap_tile_the_text(text, size, overlap):
    assume(overlap < size and not catalog.is_blank(text))
    docs = slivr.RecursiveChunker(size, overlap).chunk(text)
    assert_ordered_slices(text, docs)
    if overlap == 0:
        assert_tiles(text, docs)


@FAST
@given(text=ascii_texts, size=st.integers(1, 60), overlap=st.integers(0, 59))
def test_recursive_chunks_stay_within_size_plus_overlap(text, size, overlap):
    # Pieces of ASCII text are never longer than the size; only carried pieces can add to it.
    assume(overlap < size and not catalog.is_blank(text))
    for d in slivr.RecursiveChunker(size, overlap).chunk(text):
        assert 0 < len(d.content) <= size + overlap


@FAST
@given(text=texts, size=st.integers(1, 60))
def test_structure_chunkers_without_overlap_tile_the_text(text, size):
    assume(not catalog.is_blank(text))
    for name, kwargs in [("CodeChunker", {"language": "python"}), ("HtmlChunker", {}), ("MarkdownChunker", {})]:
        if hasattr(slivr, name):
            docs = getattr(slivr, name)(chunk_size=size, overlap=0, **kwargs).chunk(text)
            assert_tiles(text, docs)


# ---------------------------------------------------------------------------------------------
# Token windows

TOKEN_CHUNKERS = {}


def token_chunker(size, overlap, encoding):
    key = (size, overlap, encoding)
    if key not in TOKEN_CHUNKERS:
        TOKEN_CHUNKERS[key] = slivr.TokenChunker(size, overlap, encoding)
    return TOKEN_CHUNKERS[key]


@pytest.mark.skipif(not hasattr(slivr, "TokenChunker"), reason="no TokenChunker")
@FAST
@given(text=texts, size=st.integers(1, 8), overlap=st.integers(0, 7),
       encoding=st.sampled_from(["cl100k_base", "o200k_base", "p50k_base", "r50k_base"]))
def test_token_windows_decode_to_whole_characters_and_cover_the_text(text, size, overlap, encoding):
    assume(overlap < size and not catalog.is_blank(text))
    chunker = token_chunker(size, overlap, encoding)
    docs = chunker.chunk(text)
    # Every window is a slice of the text (never a split character) ...
    assert_ordered_slices(text, docs)
    assert all(d.metadata["length"] == utf8_len(d.content) and 0 < d.metadata["token_count"] for d in docs)
    # ... and windows without overlap put the text back together.
    tiling = token_chunker(size, 0, encoding).chunk(text)
    assert_tiles(text, tiling)
    assert sum(d.metadata["token_count"] for d in tiling) <= chunker.count_tokens(text)
