"""PropositionChunker: sentences broken into propositions by fixed patterns, grouped into chunks."""
import inspect

import pytest

import slivr


def propositions(text):
    return [c.content for c in slivr.PropositionChunker().chunk(text)]


@pytest.mark.parametrize("sentence, expected", [
    # The worked examples.
    ("The library supports async, and provides caching.",
     ["The library supports async.", "The library provides caching."]),
    ("The framework, which was released in 2015, is fast.",
     ["The framework is fast.", "The framework was released in 2015."]),
    ("We met the author, who lives in Oslo.", ["We met the author.", "lives in Oslo."]),
    # A relative-clause verb lets the clause speak of the main clause's last word.
    ("Oslo has a port, where ships are built.", ["Oslo has a port.", "ships are built."]),
    ("I saw the house, that was built in 1900.", ["I saw the house.", "house was built in 1900."]),
    # A relative marker wins over coordination, and ", which " over an earlier ", who ".
    ("Ann, who sings; and Tom, which is odd.", ["Ann, who sings; and Tom.", "Tom is odd."]),
    # A relative clause of full stops only.
    ("It ended, which ...", ["It ended.", "."]),
    # Coordination: every marker in its turn; a clause starting with a listed verb gets the subject.
    ("The park is large; has a lake; welcomes dogs.",
     ["The park is large.", "The park has a lake.", "The park welcomes dogs."]),
    ("Prices rose, but wages were flat.", ["Prices rose.", "wages were flat."]),
    ("The cafe is small, however, serves great coffee.", ["The cafe is small.", "The cafe serves great coffee."]),
    ("Cats sleep a lot, whereas dogs play, while birds sing.",
     ["Cats sleep a lot.", "dogs play, while birds sing."]),
    # A lone word after a marker is dropped; one proposition left means the next marker is tried.
    ("Apples, and pears are ripe; plums", ["Apples.", "pears are ripe; plums."]),
    ("Apples; pears", ["Apples; pears"]),
    # Markers are literal and case-sensitive.
    ("Cats sleep,and dogs bark.", ["Cats sleep,and dogs bark."]),
    ("It works, Which is nice.", ["It works, Which is nice."]),
    ("It works, and", ["It works, and"]),
    # No pattern: the sentence as the splitter returned it, without an added full stop.
    ("No pattern in this one", ["No pattern in this one"]),
    ("Ends with a question?", ["Ends with a question?"]),
])
def test_extraction(sentence, expected):
    assert propositions(sentence) == expected


def test_propositions_of_all_sentences_are_numbered_in_one_list():
    text = "The tool is new, and is fast. Plain sentence. The city, which is old, has a port."
    chunks = slivr.PropositionChunker().chunk(text)
    assert [c.content for c in chunks] == ["The tool is new.", "The tool is fast.", "Plain sentence.",
                                          "The city has a port.", "The city is old."]
    for i, c in enumerate(chunks):
        assert c.metadata == {"length": len(c.content.encode()), "proposition_count": 1, "start_prop_idx": i,
                              "end_prop_idx": i + 1, "chunk_index": i}


@pytest.mark.parametrize("per_chunk, overlap, spans", [
    (3, 1, [(0, 3), (2, 5), (4, 7)]),
    (3, 0, [(0, 3), (3, 6), (6, 7)]),
    (7, 6, [(0, 7)]),
    (10, 2, [(0, 7)]),
    (2, 1, [(i, i + 2) for i in range(6)]),
])
def test_windows(per_chunk, overlap, spans):
    props = [f"Fact number {i} holds." for i in range(7)]
    chunks = slivr.PropositionChunker(per_chunk, overlap).chunk(" ".join(props))
    assert [c.content for c in chunks] == [" ".join(props[a:b]) for a, b in spans]
    assert [(c.metadata["start_prop_idx"], c.metadata["end_prop_idx"], c.metadata["proposition_count"])
            for c in chunks] == [(a, b, b - a) for a, b in spans]


@pytest.mark.parametrize("args, message", [
    ((0, 0), "Invalid chunk size: 0 (must be > 0)"),
    ((0, 5), "Invalid chunk size: 0 (must be > 0)"),   # the size is checked first
    ((2, 2), "Invalid chunk overlap: 2 (must be strictly less than chunk_size 2)"),
    ((1, 9), "Invalid chunk overlap: 9 (must be strictly less than chunk_size 1)"),
])
def test_invalid_sizes_are_rejected_at_construction(args, message):
    with pytest.raises(ValueError) as info:
        slivr.PropositionChunker(*args)
    assert str(info.value) == message


@pytest.mark.parametrize("text", ["", " \t", "\n\u3000\n"])
def test_blank_text_is_rejected(text):
    with pytest.raises(ValueError, match="^Empty input text provided$"):
        slivr.PropositionChunker().chunk(text)


def test_constructor_signature_and_conversions():
    assert slivr.PropositionChunker.__text_signature__ == "(propositions_per_chunk=1, overlap=0)"
    assert str(inspect.signature(slivr.PropositionChunker)) == "(propositions_per_chunk=1, overlap=0)"
    with pytest.raises(TypeError, match="propositions_per_chunk"):
        slivr.PropositionChunker(1.0)
    with pytest.raises(OverflowError):
        slivr.PropositionChunker(overlap=-1)


def test_batches_agree_with_single_calls():
    texts = ["The tool is new, and is fast. The city, which is old, has a port. " * n for n in range(1, 15)]
    texts.insert(3, "   ")
    chunker = slivr.PropositionChunker(3, 1)
    docs = [slivr.Document(t, {"n": i}) for i, t in enumerate(texts)]
    assert [(c.content, c.metadata) for c in chunker.par_chunk_documents(docs)] == \
        [(c.content, c.metadata) for c in chunker.chunk_documents(docs)]
    assert [[c.content for c in chunks] for chunks in chunker.par_chunk_texts(texts)] == \
        [[c.content for c in chunker.chunk(t)] if t.strip() else [] for t in texts]
