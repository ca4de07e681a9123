"""SemanticChunker: lexical vectors, neighbour distances, the percentile cut-off and the sentence walk.

The reference below recomputes everything in Python with every 32-bit float operation rounded
through struct, so that the chunker's arithmetic is checked bit for bit.
"""
import inspect
import math
import random
import re
import struct

import pytest
from hypothesis import given, settings, strategies as st

import slivr

WHITE_SPACE = "\t\n\v\f\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"
WORD_BREAK = re.compile(f"[{re.escape(WHITE_SPACE)}]+")
DIMENSION = 256


def f32(x):
    """`x` rounded to the nearest 32-bit float (each operation on two 32-bit floats, done in 64 bits
    and rounded once, gives the exact 32-bit result)."""
    return struct.unpack("f", struct.pack("f", x))[0]


def sentences_of(text):
    return [c.content for c in slivr.SentenceChunker(1, 0).chunk(text)]


def embed(sentence):
    v = [0.0] * DIMENSION
    for word in WORD_BREAK.split(sentence):
        if word:
            h = 5381
            for b in word.lower().encode():
                h = (h * 33 + b) % 2**64
            v[h % DIMENSION] = f32(v[h % DIMENSION] + 1.0)
    total = 0.0
    for x in v:
        total = f32(total + f32(x * x))
    if total > 0:
        norm = f32(math.sqrt(total))
        v = [f32(x / norm) for x in v]
    return v


def distance(a, b):
    dot = 0.0
    for x, y in zip(a, b):
        dot = f32(dot + f32(x * y))
    d = f32(1.0 - dot)
    return d if d >= 0 else 0.0


def percentile_cutoff(distances, p):
    if not distances:
        return 0.5
    n = len(distances)
    r = f32(f32(f32(n) - 1.0) * f32(f32(p) / 100.0))
    index = 0 if not r > 0 else min(math.floor(r + 0.5), n - 1)
    return sorted(distances)[index]


def reference_chunks(text, percentile=90.0, min_size=100, max_size=2000):
    """(content, sentence_count) of each chunk, and the cut-off."""
    sentences = sentences_of(text)
    vectors = [embed(s) for s in sentences]
    distances = [distance(vectors[i], vectors[i + 1]) for i in range(len(vectors) - 1)]
    cutoff = percentile_cutoff(distances, percentile)
    chunks, group, size = [], [], 0
    for j, s in enumerate(sentences):
        group.append(s)
        size += len(s.encode()) + 1
        if j == len(sentences) - 1 or (size >= min_size and distances[j] > cutoff) or size >= max_size:
            chunks.append((" ".join(group), len(group)))
            group, size = [], 0
    return chunks, cutoff


VOCABULARY = {
    "weather": "rain snow wind cloud storm sunny cold warm Rain. Snow, forecast humid".split(),
    "cooking": "bake oven flour sugar butter recipe Oven. salt pepper dough knead".split(),
    "finance": "stock bond market price yield invest Market, dividend fund risk".split(),
    "shared": "the a of and is was very today".split(),
}


def topical_text(seed, sentences=30):
    """Sentences drawn in runs from one topic at a time, so that topic changes give far neighbours."""
    rng = random.Random(seed)
    topics = ["weather", "cooking", "finance"]
    out, topic = [], rng.choice(topics)
    for _ in range(sentences):
        if rng.random() < 0.25:
            topic = rng.choice(topics)
        words = [rng.choice(VOCABULARY[topic] + VOCABULARY["shared"]) for _ in range(rng.randint(2, 14))]
        out.append(" ".join(words).capitalize() + rng.choice([".", "!", "?"]))
    return rng.choice([" ", "\n", "  "]).join(out)


@pytest.mark.parametrize("seed, percentile, min_size, max_size", [
    (1, 90.0, 100, 2000),
    (2, 90.0, 0, 2000),
    (3, 50.0, 40, 300),
    (4, 75.5, 0, 150),
    (5, 10.0, 60, 10_000),
    (6, 0.0, 0, 2000),
    (7, 100.0, 0, 2000),
    (8, 33.3, 20, 90),
])
def test_matches_an_independent_float32_recomputation(seed, percentile, min_size, max_size):
    text = topical_text(seed)
    expected, cutoff = reference_chunks(text, percentile, min_size, max_size)
    chunks = slivr.SemanticChunker(percentile, min_size, max_size).chunk(text)
    assert [(c.content, c.metadata["sentence_count"]) for c in chunks] == expected
    for i, c in enumerate(chunks):
        assert c.metadata == {"length": len(c.content.encode()), "sentence_count": c.metadata["sentence_count"],
                              "chunk_index": i, "cutoff_threshold": cutoff}


def test_similarity_cuts_fall_at_topic_changes():
    text = ("Rain and snow and wind today. Cold rain and wind and snow. "
            "Bake the dough in the oven. Flour sugar butter dough oven.")
    chunks = slivr.SemanticChunker(0.0, 0, 2000).chunk(text)
    # Percentile 0 takes the smallest distance as cut-off, so every more distant pair is cut.
    assert [c.content for c in chunks] == ["Rain and snow and wind today. Cold rain and wind and snow.",
                                          "Bake the dough in the oven.", "Flour sugar butter dough oven."]


@pytest.mark.parametrize("text", ["", " ", "\n\t \u3000"])
def test_blank_text_is_rejected(text):
    with pytest.raises(ValueError, match="^Empty input text provided$"):
        slivr.SemanticChunker().chunk(text)


@pytest.mark.parametrize("text, content", [
    ("  One sentence only.  \n", "One sentence only."),
    ("\u3000no terminator at all\u3000", "no terminator at all"),
    ("Äpfel.", "Äpfel."),
])
def test_fewer_than_two_sentences_give_the_trimmed_text(text, content):
    [chunk] = slivr.SemanticChunker().chunk(text)
    assert chunk.content == content
    # "length" is the byte length of the content returned, not of the untrimmed input.
    assert chunk.metadata == {"length": len(content.encode()), "chunk_index": 0}


@pytest.mark.parametrize("count", [2, 3, 6, 7])
def test_default_percentile_never_cuts_short_texts_by_similarity(count):
    # With n <= 6 distances the cut-off is the largest one, which no distance exceeds.
    text = " ".join(f"{VOCABULARY[t][i]} {VOCABULARY[t][i + 1]}." for i, t in
                    zip(range(count), ["weather", "cooking", "finance"] * 3))
    chunks = slivr.SemanticChunker(min_size=0).chunk(text)
    assert [c.metadata["sentence_count"] for c in chunks] == [count]


@pytest.mark.parametrize("max_size", [0, 1])
def test_tiny_max_size_makes_every_sentence_a_chunk(max_size):
    text = topical_text(11, sentences=12)
    chunks = slivr.SemanticChunker(max_size=max_size).chunk(text)
    assert [c.content for c in chunks] == sentences_of(text)
    assert {c.metadata["cutoff_threshold"] for c in chunks} == {reference_chunks(text)[1]}


def test_min_size_above_the_text_leaves_only_size_and_end_cuts():
    text = topical_text(12, sentences=40)
    chunks = slivr.SemanticChunker(0.0, min_size=10**9, max_size=200).chunk(text)
    sizes = [c.metadata["length"] + 1 for c in chunks]
    assert all(size >= 200 for size in sizes[:-1])
    # A chunk closes at the sentence that reaches max_size, so it is at most one sentence over it.
    longest = max(len(s.encode()) + 1 for s in sentences_of(text))
    assert all(size < 200 + longest for size in sizes)


def test_identical_and_disjoint_sentences():
    # Case folds; punctuation stays in the word ("fox," differs from "fox").
    same = "Red fox runs. RED FOX RUNS. red fox runs."
    assert reference_chunks(same, 0.0, 0)[1] < 1e-6
    assert [c.content for c in slivr.SemanticChunker(0.0, 0).chunk(same)] == [same]
    chunks = slivr.SemanticChunker(0.0, 0).chunk("Red fox runs. Red fox, runs. Red fox runs.")
    assert len(chunks) == 1 and chunks[0].metadata["cutoff_threshold"] > 0


def test_cutoff_is_the_32_bit_value_widened():
    text = topical_text(13)
    chunks = slivr.SemanticChunker(percentile=63.7).chunk(text)
    values = {c.metadata["cutoff_threshold"] for c in chunks}
    assert len(values) == 1
    [value] = values
    assert f32(value) == value and value == reference_chunks(text, 63.7)[1]


def test_huge_percentiles_take_the_largest_distance():
    text = topical_text(14)
    largest = max(reference_chunks(text, 100.0)[1], 0.0)
    for p in (100.0, 1e10, 1e300, float("inf")):
        assert slivr.SemanticChunker(p, 0).chunk(text)[0].metadata["cutoff_threshold"] == largest
    smallest = reference_chunks(text, 0.0)[1]
    for p in (-5.0, float("-inf"), float("nan")):
        assert slivr.SemanticChunker(p, 0).chunk(text)[0].metadata["cutoff_threshold"] == smallest


def test_constructor_signature_and_conversions():
    assert slivr.SemanticChunker.__text_signature__ == "(percentile=90.0, min_size=100, max_size=2000)"
    assert str(inspect.signature(slivr.SemanticChunker)) == "(percentile=90.0, min_size=100, max_size=2000)"
    slivr.SemanticChunker(95, max_size=10, min_size=True)
    with pytest.raises(TypeError, match="percentile"):
        slivr.SemanticChunker("90")
    with pytest.raises(TypeError, match="min_size"):
        slivr.SemanticChunker(90.0, 1.5)
    with pytest.raises(OverflowError):
        slivr.SemanticChunker(max_size=-1)
    with pytest.raises(TypeError):
        slivr.SemanticChunker(90.0, 1, 2, 3)


def test_documents_and_parallel_batches_agree():
    texts = [topical_text(s, sentences=15) for s in range(20)] + ["  "]
    chunker = slivr.SemanticChunker(50.0, 50, 400)
    docs = [slivr.Document(t, {"source": i}) for i, t in enumerate(texts)]
    seq = [(c.content, c.metadata) for c in chunker.chunk_documents(docs)]
    assert seq == [(c.content, c.metadata) for c in chunker.par_chunk_documents(docs)]
    assert [[c.content for c in chunks] for chunks in chunker.par_chunk_texts(texts)] == \
        [[c.content for c in chunker.chunk(t)] if t.strip() else [] for t in texts]


@settings(max_examples=100, deadline=None)
@given(st.lists(st.sampled_from(["rain", "Snow", "snow,", "oven", "été", "ΟΔΟΣ", "日本", ". ", "! ", " ", "\n"]),
                max_size=60),
       st.floats(-50, 150), st.integers(0, 200), st.integers(0, 300))
def test_chunks_are_the_sentences_in_order_and_match_the_reference(pieces, percentile, min_size, max_size):
    text = "".join(pieces)
    if not text.strip():
        return
    chunks = slivr.SemanticChunker(percentile, min_size, max_size).chunk(text)
    sentences = sentences_of(text)
    assert " ".join(c.content for c in chunks) == " ".join(sentences)
    if len(sentences) >= 2:
        assert [(c.content, c.metadata["sentence_count"]) for c in chunks] == \
            reference_chunks(text, percentile, min_size, max_size)[0]
