"""WordChunker, SentenceChunker (and its sentence splitter) and ParagraphChunker."""
import pytest
from hypothesis import given, settings, strategies as st

import slivr

WHITE_SPACE = "\t\n\v\f\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"

ABBREVIATIONS = [
    "mr.", "mrs.", "ms.", "dr.", "prof.", "sr.", "jr.", "vs.", "etc.", "e.g.", "i.e.", "inc.", "corp.", "co.",
    "ltd.", "u.s.", "u.k.", "u.s.a.", "p.m.", "a.m.", "jan.", "feb.", "mar.", "apr.", "jun.", "jul.", "aug.",
    "sep.", "sept.", "oct.", "nov.", "dec.", "dept.", "approx.", "est.", "fig.", "al.", "no.", "vol.", "pp.",
]


def sentences(text):
    """The sentence splitter, seen through chunks of one sentence each."""
    return [c.content for c in slivr.SentenceChunker(1, 0).chunk(text)]


def reference_sentences(text):
    """The splitting rules written out plainly, for the property test."""
    out, start, i = [], 0, 0

    def keep(piece):
        piece = piece.strip(WHITE_SPACE)
        if piece:
            out.append(piece)

    while i < len(text):
        c = text[i]
        end = None
        if c in ".!?":
            nxt = text[i + 1] if i + 1 < len(text) else None
            if nxt is None or nxt in " \t\n\r":
                end = i + 1
            elif nxt in "\"')]" and (i + 2 == len(text) or text[i + 2] in " \n\r"):
                end = i + 2
        if end is not None and c == ".":
            j = i + 1
            while j > start and text[j - 1] not in WHITE_SPACE:
                j -= 1
            last = text[j:i + 1]
            if (i > 0 and text[i - 1] == ".") or last.lower() in ABBREVIATIONS:
                end = None
        if end is None:
            i += 1
            continue
        keep(text[start:end])
        start = i = end
    keep(text[start:])
    return out


@pytest.mark.parametrize("text, expected", [
    # Terminators, and what may follow them.
    ("Dr. Smith arrived. He sat down.", ["Dr. Smith arrived.", "He sat down."]),
    ("One! Two? Three.", ["One!", "Two?", "Three."]),
    ("Tab.\tNext.", ["Tab.", "Next."]),
    ("Line.\nNext.\r\nLast", ["Line.", "Next.", "Last"]),
    ("Hi!Bye. Ok", ["Hi!Bye.", "Ok"]),
    ("Version 3.5 is out", ["Version 3.5 is out"]),
    ("Stop.\u00a0Go.", ["Stop.\u00a0Go."]),               # a no-break space is not a break here
    ("Stop.\u3000Go.", ["Stop.\u3000Go."]),
    ("Wait\u2026 what\u3002 Yes", ["Wait\u2026 what\u3002 Yes"]),  # only ASCII terminators count
    ("Really?! No.", ["Really?!", "No."]),
    ("no terminator at all", ["no terminator at all"]),
    ("line one\nline two", ["line one\nline two"]),
    # Closing marks: taken into the sentence when a blank, LF or CR or the end follows; a TAB does not count.
    ("He left (in a hurry!) and sat.", ["He left (in a hurry!)", "and sat."]),
    ("He left (in a hurry!)\tand sat.", ["He left (in a hurry!)\tand sat."]),
    ('She said "stop." Then left.', ['She said "stop."', "Then left."]),
    ("It's 'done.'\nNext", ["It's 'done.'", "Next"]),
    ("[Note.] Done.", ["[Note.]", "Done."]),
    ("(Really?)\r\nYes", ["(Really?)", "Yes"]),
    ("End.)", ["End.)"]),
    ("End.))", ["End.))"]),                                 # a second closing mark means no candidate
    ('Quote."\tNext', ['Quote."\tNext']),
    ('Quote."x Next', ['Quote."x Next']),
    # Ellipses and doubled periods never end a sentence; a later terminator does.
    ("Wait... what? Yes.", ["Wait... what?", "Yes."]),
    ("So.. be it. Fine", ["So.. be it.", "Fine"]),
    ("Trailing...", ["Trailing..."]),
    # Abbreviations: the last word, lower-cased, with whatever punctuation is glued to it.
    ("The answer is no. We left.", ["The answer is no. We left."]),
    ("The answer is NO. We left.", ["The answer is NO. We left."]),
    ("Made in the U.S.A. It works.", ["Made in the U.S.A. It works."]),
    ("(see Fig. 2) next", ["(see Fig. 2) next"]),
    ("(Fig. 2)", ["(Fig.", "2)"]),
    ("Apples, pears etc. are fruit. Yes", ["Apples, pears etc. are fruit.", "Yes"]),
    ("Sent to the U.\u212a. office. Done", ["Sent to the U.\u212a. office.", "Done"]),  # Kelvin sign -> k
    ("Meet Mr.Smith. Now", ["Meet Mr.Smith.", "Now"]),
    ("Approx.", ["Approx."]),
    ("Min. Max.", ["Min.", "Max."]),
    # White space only between sentences is dropped.
    ("  A.   \n\n  B.  ", ["A.", "B."]),
    ("", []),
    (" \u3000\n", []),
])
def test_sentence_rules(text, expected):
    if not expected:
        with pytest.raises(ValueError, match="Empty input text provided"):
            sentences(text)
        return
    assert sentences(text) == expected
    assert reference_sentences(text) == expected


@pytest.mark.parametrize("abbreviation", ABBREVIATIONS)
def test_every_abbreviation_keeps_the_sentence_going(abbreviation):
    for form in (abbreviation, abbreviation.upper(), abbreviation.capitalize()):
        assert sentences(f"See {form} Then more.") == [f"See {form} Then more."]


@given(st.lists(st.sampled_from(
    list("ab .!?\"')]\t\n\r") + ["Dr.", "NO.", "e.g.", "Fig.", "...", "\u00a0", "\u3000", "é", "Σ.", "\u212a."]),
    max_size=60).map("".join))
@settings(max_examples=500, deadline=None)
def test_sentences_agree_with_the_plain_rules(text):
    expected = reference_sentences(text)
    if not expected:
        with pytest.raises(ValueError, match="Empty input text provided"):
            sentences(text)
    else:
        assert sentences(text) == expected


def window_meta(chunks, unit):
    return [(c.metadata[f"start_{unit}"], c.metadata[f"end_{unit}"], c.metadata[f"{unit}_count"],
             c.metadata["chunk_index"]) for c in chunks]


@pytest.mark.parametrize("count, per_chunk, overlap, windows", [
    (1, 3, 1, [(0, 1)]),
    (5, 3, 1, [(0, 3), (2, 5)]),
    (7, 3, 1, [(0, 3), (2, 5), (4, 7)]),
    (6, 3, 0, [(0, 3), (3, 6)]),
    (4, 2, 1, [(0, 2), (1, 3), (2, 4)]),
])
def test_sentence_windows(count, per_chunk, overlap, windows):
    sents = [f"Sentence number {i}." for i in range(count)]
    chunks = slivr.SentenceChunker(per_chunk, overlap).chunk("  ".join(sents))
    assert window_meta(chunks, "sentence") == [(a, b, b - a, i) for i, (a, b) in enumerate(windows)]
    assert [c.content for c in chunks] == [" ".join(sents[a:b]) for a, b in windows]
    assert all(c.metadata["length"] == len(c.content.encode()) for c in chunks)
    assert all(len(c.metadata) == 5 for c in chunks)


@pytest.mark.parametrize("max_characters, expected", [
    (10, "One two th"),
    (11, "One two thr"),
    (8, "One two"),          # the cut ends in a blank, which is trimmed
    (0, ""),
    (29, "One two three. Four five six."),
    (1000, "One two three. Four five six."),
])
def test_max_characters_cuts_content_not_the_window(max_characters, expected):
    [chunk] = slivr.SentenceChunker(2, 0, max_characters).chunk("One two three.\nFour five six.")
    assert chunk.content == expected
    assert chunk.metadata["length"] == len(expected.encode())
    assert chunk.metadata["sentence_count"] == 2


def test_max_characters_counts_characters_and_cut_sentences_are_not_carried():
    chunks = slivr.SentenceChunker(2, 0, max_characters=4).chunk("Äpfel sind rot. Öl ist gelb. Ende.")
    assert [(c.content, c.metadata["length"]) for c in chunks] == [("Äpfe", 5), ("Ende", 4)]
    assert window_meta(chunks, "sentence") == [(0, 2, 2, 0), (2, 3, 1, 1)]


def test_sentence_length_counts_bytes():
    [chunk] = slivr.SentenceChunker().chunk("Äpfel sind rot.")
    assert (chunk.content, chunk.metadata["length"]) == ("Äpfel sind rot.", 16)


@pytest.mark.parametrize("text, per_chunk, overlap, expected, windows", [
    ("A\n\n\n\nB\n\nC", 2, 0, ["A\n\nB", "C"], [(0, 2), (2, 3)]),
    ("A\r\n\r\nB", 2, 0, ["A\r\n\r\nB"], [(0, 1)]),
    ("A\n \nB", 1, 0, ["A\n \nB"], [(0, 1)]),                  # a line of blanks is no separator
    ("\n\n A \n\n\n B\n\n", 1, 0, ["A", "B"], [(0, 1), (1, 2)]),
    ("p1\n\np2\n\np3\n\np4", 3, 2, ["p1\n\np2\n\np3", "p2\n\np3\n\np4"], [(0, 3), (1, 4)]),
])
def test_paragraphs(text, per_chunk, overlap, expected, windows):
    chunks = slivr.ParagraphChunker(per_chunk, overlap).chunk(text)
    assert [c.content for c in chunks] == expected
    assert window_meta(chunks, "paragraph") == [(a, b, b - a, i) for i, (a, b) in enumerate(windows)]
    assert [c.metadata["length"] for c in chunks] == [len(e.encode()) for e in expected]


@pytest.mark.parametrize("text, size, overlap, expected, windows", [
    ("one  two\nthree\tfour", 2, 0, ["one two", "three four"], [(0, 2), (2, 4)]),
    ("a b c", 10, 3, ["a b c"], [(0, 3)]),
    (" ".join(map(str, range(10))), 4, 1, ["0 1 2 3", "3 4 5 6", "6 7 8 9"], [(0, 4), (3, 7), (6, 10)]),
    ("naïve café", 5, 0, ["naïve café"], [(0, 2)]),
    ("x\u3000y\u00a0z\u2028w", 2, 0, ["x y", "z w"], [(0, 2), (2, 4)]),  # Unicode white space
    ("a\u200bb c", 5, 0, ["a\u200bb c"], [(0, 2)]),                       # zero-width space joins
    ("Hello, world! (yes)", 2, 1, ["Hello, world!", "world! (yes)"], [(0, 2), (1, 3)]),
])
def test_words(text, size, overlap, expected, windows):
    chunks = slivr.WordChunker(size, overlap).chunk(text)
    assert [c.content for c in chunks] == expected
    assert window_meta(chunks, "word") == [(a, b, b - a, i) for i, (a, b) in enumerate(windows)]
    assert [c.metadata["length"] for c in chunks] == [len(e.encode()) for e in expected]


CHUNKERS = [
    ("WordChunker", slivr.WordChunker, "(chunk_size=200, overlap=20)"),
    ("SentenceChunker", slivr.SentenceChunker, "(sentences_per_chunk=3, overlap=1, max_characters=None)"),
    ("ParagraphChunker", slivr.ParagraphChunker, "(paragraphs_per_chunk=2, overlap=0)"),
]


@pytest.mark.parametrize("name, cls, signature", CHUNKERS)
def test_errors_come_at_chunk_time_in_order(name, cls, signature):
    assert cls.__text_signature__ == signature and cls.__doc__ == ""
    assert cls.__name__ == name
    with pytest.raises(ValueError, match="^Empty input text provided$"):
        cls(0, 0).chunk(" \n\u3000")
    with pytest.raises(ValueError, match=r"^Invalid chunk size: 0 \(must be > 0\)$"):
        cls(0, 0).chunk("Some text.")
    with pytest.raises(ValueError, match=r"^Invalid chunk overlap: 3 \(must be strictly less than chunk_size 3\)$"):
        cls(3, 3).chunk("Some text.")
    with pytest.raises(ValueError, match=r"^Invalid chunk overlap: 9 \(must be strictly less than chunk_size 2\)$"):
        cls(2, 9).par_chunk_texts(["fine", "Some text."])
    assert cls(0, 0).chunk_documents([slivr.Document("  ")]) == []


@pytest.mark.parametrize("args, error", [
    ((-1,), OverflowError),
    (("3",), TypeError),
    ((3, 1.0), TypeError),
    ((1, 2, 3, 4), TypeError),
])
def test_constructor_conversion_errors(args, error):
    for _, cls, _ in CHUNKERS:
        with pytest.raises(error):
            cls(*args)


@pytest.mark.parametrize("value, error", [(-5, OverflowError), ("10", TypeError), (2.5, TypeError)])
def test_max_characters_conversion(value, error):
    with pytest.raises(error):
        slivr.SentenceChunker(max_characters=value)
    assert slivr.SentenceChunker(max_characters=None).chunk("A. B.")[0].content == "A. B."


def test_batch_methods_agree():
    texts = ["First. Second. Third. Fourth.", "", "Only one"]
    for cls in (slivr.WordChunker, slivr.SentenceChunker, slivr.ParagraphChunker):
        chunker = cls(2, 1)
        par = chunker.par_chunk_texts(texts)
        assert [[c.content for c in p] for p in par] == \
            [[c.content for c in chunker.chunk(t)] if t.strip() else [] for t in texts]
        docs = [slivr.Document(t, {"name": str(i)}) for i, t in enumerate(texts)]
        seq = chunker.chunk_documents(docs)
        assert [d.metadata for d in seq] == [d.metadata for d in chunker.par_chunk_documents(docs)]
        assert [d.metadata["doc_index"] for d in seq][-1] == 2
