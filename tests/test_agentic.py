"""AgenticChunker: sentences grouped by heuristic split decisions (size, transition markers, divergence)."""
import inspect
import random

import pytest
from hypothesis import given, settings, strategies as st

import slivr

MARKERS = [("in conclusion", "Conclusion"), ("in summary", "Summary"), ("on the other hand", "Counter-argument"),
           ("in contrast", "Contrast"), ("furthermore", "Continuation"), ("secondly", "Subsequent Point"),
           ("finally", "Final Section"), ("moving on to", "Topic Shift"), ("meanwhile", "Parallel Topic")]
STOP_WORDS = {"the", "a", "an", "is", "are", "was", "were", "and", "or", "in", "on", "at", "to", "for", "with", "of",
              "by", "from", "as", "it", "this", "that"}


def sentences_of(text):
    return [c.content for c in slivr.SentenceChunker(1, 0).chunk(text)]


def content_words(text):
    """Content words in order of first appearance (ASCII and Latin letters are all the tests use)."""
    out = []
    for word in text.split():
        word = word.lower()
        start, end = 0, len(word)
        while start < end and not word[start].isalnum():
            start += 1
        while end > start and not word[end - 1].isalnum():
            end -= 1
        word = word[start:end]
        if len(word.encode()) >= 3 and word not in STOP_WORDS and word not in out:
            out.append(word)
    return out


def decide(current, nxt, min_chars, max_chars):
    """The decision rules, reading the whole group each time."""
    if not current:
        return None
    joined = " ".join(current)
    c = len(joined.encode())
    if c + len(nxt.encode()) >= max_chars:
        return "Size Boundary", "Exceeded max character size limit"
    if c < min_chars:
        return None
    lower = nxt.lower()
    for marker, label in MARKERS:
        if lower.startswith(marker) or ", " + marker in lower:
            return label, f"Detected discourse transition marker '{marker}'"
    a, b = set(content_words(joined)), content_words(nxt)
    if not a or not b or c < 2 * min_chars:
        return None
    if len(a & set(b)) / len(a | set(b)) < 0.05:
        return "Topic on " + b[0], "Low lexical overlap and topic divergence detected"
    return None


def reference_chunks(text, min_chars, max_chars):
    chunks, group, label = [], [], ("Initial Topic", "Document start")
    for s in sentences_of(text):
        decision = decide(group, s, min_chars, max_chars)
        if decision:
            if group:
                chunks.append((" ".join(group), len(group), *label))
                group = []
            label = decision
        group.append(s)
    chunks.append((" ".join(group), len(group), *label))
    return chunks


def summary(chunks):
    return [(c.content, c.metadata["sentence_count"], c.metadata["topic_label"], c.metadata["split_reason"])
            for c in chunks]


# Words of all lengths, some longer than 16 bytes, so that word hashing and sets see every size.
TOPICS = [
    "volcano lava eruption magma crater ash island rock pyroclastic-density-current".split(),
    "coffee beans roast espresso brew grinder cup aroma decaffeinated-arabica-blend".split(),
    "planet orbit telescope galaxy comet star moon interplanetary-magnetic-field".split(),
]
OPENERS = ["", "", "", "Finally, ", "Meanwhile ", "We paused, in contrast ", "In summary ", "Secondly, "]


def random_text(seed, sentences=60):
    rng = random.Random(seed)
    out, topic = [], rng.choice(TOPICS)
    for _ in range(sentences):
        if rng.random() < 0.2:
            topic = rng.choice(TOPICS)
        words = [rng.choice(topic + ["the", "and", "of", "is", "it"]) for _ in range(rng.randint(3, 16))]
        out.append(rng.choice(OPENERS) + " ".join(words) + ".")
    return " ".join(out)


REFERENCE_CASES = [
    (1, 150, 1200), (2, 150, 1200), (3, 40, 250), (4, 40, 250), (5, 0, 500), (6, 100, 50), (7, 60, 10**9),
    (8, 10**6, 10**9),
]


@pytest.mark.parametrize("seed, min_chars, max_chars", REFERENCE_CASES)
def test_matches_the_rules_applied_to_the_whole_group(seed, min_chars, max_chars):
    text = random_text(seed)
    chunks = slivr.AgenticChunker(min_chars, max_chars).chunk(text)
    assert summary(chunks) == reference_chunks(text, min_chars, max_chars)
    assert [c.metadata["chunk_index"] for c in chunks] == list(range(len(chunks)))
    assert all(c.metadata["length"] == len(c.content.encode()) for c in chunks)


def test_every_rule_fires_in_the_reference_cases():
    labels = {c.metadata["topic_label"].split(" on ")[0] for seed, low, high in REFERENCE_CASES
              for c in slivr.AgenticChunker(low, high).chunk(random_text(seed))}
    assert {"Initial Topic", "Size Boundary", "Final Section", "Parallel Topic", "Contrast", "Topic"} <= labels


def test_single_sentence():
    [chunk] = slivr.AgenticChunker().chunk("  Just one sentence here.  ")
    assert chunk.content == "Just one sentence here."
    assert chunk.metadata == {"length": 23, "sentence_count": 1, "topic_label": "Initial Topic",
                              "split_reason": "Document start", "chunk_index": 0}


@pytest.mark.parametrize("max_chars", [1, 50, 120, 400])
def test_chunks_stay_under_max_chars_unless_one_sentence_is_longer(max_chars):
    text = random_text(8) + " " + "x" * 500 + ". Tail sentence here."
    chunks = slivr.AgenticChunker(0, max_chars).chunk(text)
    for c in chunks:
        assert c.metadata["length"] < max_chars or c.metadata["sentence_count"] == 1
    # The overlong sentence is closed by a size split right after it.
    long_index = next(i for i, c in enumerate(chunks) if "x" * 500 in c.content)
    assert chunks[long_index + 1].metadata["topic_label"] == "Size Boundary"


def test_max_below_min_gives_only_size_splits():
    chunks = slivr.AgenticChunker(500, 200).chunk(random_text(9))
    assert {c.metadata["topic_label"] for c in chunks[1:]} == {"Size Boundary"}


@pytest.mark.parametrize("follower, label, marker", [
    ("Finally, the lava cooled.", "Final Section", "finally"),
    ("We stopped, meanwhile the rain began.", "Parallel Topic", "meanwhile"),
    ("Finally, in contrast to before, we stopped.", "Contrast", "in contrast"),
    ("FURTHERMORE lava flows.", "Continuation", "furthermore"),
    ("Finallyx lava flows.", "Final Section", "finally"),
])
def test_transition_markers(follower, label, marker):
    opening = "Volcano lava and magma rise from the crater of the island."  # 59 bytes
    chunks = slivr.AgenticChunker(50, 1200).chunk(f"{opening} {follower}")
    assert summary(chunks)[1] == (follower, 1, label, f"Detected discourse transition marker '{marker}'")


@pytest.mark.parametrize("follower", ["We stopped meanwhile.", "The lava finally cooled."])
def test_markers_need_the_start_or_a_comma_and_blank(follower):
    opening = "Volcano lava and magma rise from the crater of the island."
    assert len(slivr.AgenticChunker(50, 1200).chunk(f"{opening} {follower}")) == 1


def test_divergence_label_is_the_first_content_word_of_the_next_sentence():
    text = "Volcano lava and magma rise from the crater of the island. The price of espresso beans rose sharply."
    chunks = slivr.AgenticChunker(20, 1200).chunk(text)
    assert summary(chunks)[1][2:] == ("Topic on price", "Low lexical overlap and topic divergence detected")
    # Below twice min_chars the divergence rule does not apply.
    assert len(slivr.AgenticChunker(30, 1200).chunk(text)) == 1


def test_short_words_never_cause_a_divergence_split():
    text = "It is up to us. " * 40 + "We go on as we do. " * 40
    assert len(slivr.AgenticChunker(10, 10**9).chunk(text)) == 1


@pytest.mark.parametrize("text", ["", "  ", "\t\n"])
def test_blank_text_is_rejected(text):
    with pytest.raises(ValueError, match="^Empty input text provided$"):
        slivr.AgenticChunker().chunk(text)


def test_constructor_signature_and_conversions():
    assert slivr.AgenticChunker.__text_signature__ == "(min_chars=150, max_chars=1200)"
    assert str(inspect.signature(slivr.AgenticChunker)) == "(min_chars=150, max_chars=1200)"
    slivr.AgenticChunker(max_chars=2**64 - 1, min_chars=2**64 - 1).chunk(random_text(1))
    with pytest.raises(TypeError, match="min_chars"):
        slivr.AgenticChunker("150")
    with pytest.raises(OverflowError):
        slivr.AgenticChunker(max_chars=2**64)


def test_batches_agree_with_single_calls():
    texts = [random_text(s, sentences=25) for s in range(30)] + [" "]
    chunker = slivr.AgenticChunker(60, 500)
    docs = [slivr.Document(t, {"topic_label": "source"}) for t in texts]
    assert [(c.content, c.metadata) for c in chunker.par_chunk_documents(docs)] == \
        [(c.content, c.metadata) for c in chunker.chunk_documents(docs)]
    assert [[c.metadata for c in chunks] for chunks in chunker.par_chunk_texts(texts)] == \
        [[c.metadata for c in chunker.chunk(t)] if t.strip() else [] for t in texts]


PIECES = ["lava", "coffee", "Finally, ", ", meanwhile ", "In summary ", "the", "of", ". ", "! ", "? ", "\n", " ",
          "été", "ΟΔΟΣ", "日本語", "\u00a0", "Dr. ", "a-very-long-compound-word-here"]


@settings(max_examples=200, deadline=None)
@given(st.lists(st.sampled_from(PIECES), max_size=80), st.integers(0, 300), st.integers(0, 600))
def test_every_sentence_lands_in_exactly_one_chunk(pieces, min_chars, max_chars):
    text = "".join(pieces)
    if not text.strip():
        return
    chunks = slivr.AgenticChunker(min_chars, max_chars).chunk(text)
    assert " ".join(c.content for c in chunks) == " ".join(sentences_of(text))
    assert sum(c.metadata["sentence_count"] for c in chunks) == len(sentences_of(text))
