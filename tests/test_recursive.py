"""RecursiveChunker: separator-ranked splitting, greedy byte-budget merging, whole-piece overlap."""
import pytest
from hypothesis import given, settings, strategies as st

import slivr

# The Unicode White_Space characters, which trimming removes (str.strip() knows a different set).
WHITE_SPACE = "\t\n\v\f\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"


def nbytes(s):
    return len(s.encode())


def char_split(size, text):
    return [text[i:i + size] for i in range(0, len(text), size)]


def reference_pieces(size, text, separators):
    """The splitting rules, written as plainly as possible (recursive, on str)."""
    out = []

    def place(part, rest):
        if nbytes(part) <= size:
            out.append(part)
        elif rest:
            split(part, rest)
        else:
            out.extend(char_split(size, part))

    def split(text, separators):
        if nbytes(text) <= size:
            out.append(text)
            return
        for i, sep in enumerate(separators):
            if sep == "":
                for piece in char_split(size, text):
                    place(piece, separators[i + 1:])
                return
            if sep in text:
                cuts, pos = [], text.find(sep)
                while pos != -1:
                    cuts.append(pos)
                    pos = text.find(sep, pos + len(sep))
                bounds = [0] + cuts + [len(text)]
                for a, b in zip(bounds, bounds[1:]):
                    if b > a:
                        place(text[a:b], separators[i + 1:])
                return
        out.extend(char_split(size, text))

    split(text, separators)
    return out


def reference_chunks(text, size, overlap, separators):
    pieces = reference_pieces(size, text, separators)
    chunks, first, total = [], 0, 0

    def emit(a, b):
        content = "".join(pieces[a:b]).strip(WHITE_SPACE)
        if content:
            chunks.append(content)

    for k, piece in enumerate(pieces):
        if total + nbytes(piece) > size and k > first:
            emit(first, k)
            if total > overlap:
                while total > overlap and first < k:
                    total -= nbytes(pieces[first])
                    first += 1
            else:
                total -= nbytes(pieces[first])
                first += 1
        total += nbytes(piece)
    if first < len(pieces):
        emit(first, len(pieces))
    return chunks


def contents(chunks):
    return [c.content for c in chunks]


DEFAULT = ["\n\n", "\n", " ", ""]


@pytest.mark.parametrize("text, size, overlap, separators, expected", [
    # Pieces "abcd", " efgh", " ijkl": the third does not fit beside the first two.
    ("abcd efgh ijkl", 10, 0, None, ["abcd efgh", "ijkl"]),
    # The second word's piece (5 bytes) is carried as overlap.
    ("abcd efgh ijkl", 10, 5, None, ["abcd efgh", "efgh ijkl"]),
    # The whole first window (9 bytes) fits in the overlap: only its first piece is dropped.
    ("abcd efgh ijkl", 10, 9, None, ["abcd efgh", "efgh ijkl"]),
    # No separator occurs: characters; each window is one piece larger than the overlap.
    ("abcdefghij", 4, 2, None, ["abcd", "efgh", "ij"]),
    # Short enough: one chunk, trimmed.
    ("  short text \n", 100, 10, None, ["short text"]),
    # Two paragraphs: the second piece starts with the break, which trimming removes.
    ("first paragraph\n\nsecond paragraph", 20, 0, None, ["first paragraph", "second paragraph"]),
    # Six two-byte characters: a character cut of 4 characters is 8 bytes, over the budget.
    ("ääääää", 4, 0, None, ["ääää", "ää"]),
    # An empty separator list cuts by characters at once, even where blanks could have helped.
    ("ab cd ef", 3, 0, [], ["ab", "cd", "ef"]),
    ("ab cd efgh", 4, 0, [], ["ab c", "d ef", "gh"]),
    # Separators in the given order: the comma outranks the blank.
    ("a b,c d", 4, 0, [",", " "], ["a b", ",c d"]),
    # A window made only of white space emits nothing and takes no index.
    ("aaaa\n\n    \n\n    \n\nbbbb", 6, 0, ["\n\n", ""], ["aaaa", "bbbb"]),
])
def test_pieces_and_merging(text, size, overlap, separators, expected):
    chunks = slivr.RecursiveChunker(size, overlap, separators).chunk(text)
    assert contents(chunks) == expected
    assert [c.metadata for c in chunks] == [{"length": nbytes(c.content), "chunk_index": i}
                                            for i, c in enumerate(chunks)]


def test_multibyte_chunk_may_exceed_the_byte_budget():
    [first, second] = slivr.RecursiveChunker(4, 0).chunk("ääääää")
    assert (first.metadata["length"], second.metadata["length"]) == (8, 4)


def test_default_settings_on_prose():
    paragraph = " ".join(f"word{i}" for i in range(60))  # ~470 bytes
    text = "\n\n".join([paragraph] * 12)
    chunks = slivr.RecursiveChunker().chunk(text)
    assert all(c.metadata["length"] <= 1000 for c in chunks)
    assert contents(chunks) == reference_chunks(text, 1000, 200, DEFAULT)
    # Paragraphs are never cut while they fit; consecutive chunks share the carried paragraph.
    assert contents(chunks)[0] == paragraph + "\n\n" + paragraph
    assert contents(chunks)[1].startswith(paragraph)


@given(
    text=st.lists(st.sampled_from(list("ab c\n\t.,") + ["\n\n", "é", "日", "🚀", "\u3000", "  "]),
                  max_size=120).map("".join),
    size=st.integers(1, 40),
    overlap_fraction=st.floats(0, 0.99),
    separators=st.one_of(st.none(), st.lists(st.sampled_from(["\n\n", "\n", " ", "", ",", "b", "ab", ". "]),
                                             max_size=5)),
)
@settings(max_examples=400, deadline=None)
def test_agrees_with_the_plain_rules(text, size, overlap_fraction, separators):
    overlap = int(size * overlap_fraction)
    chunker = slivr.RecursiveChunker(size, overlap, separators)
    if not text.strip(WHITE_SPACE):
        with pytest.raises(ValueError, match="Empty input text provided"):
            chunker.chunk(text)
        return
    expected = reference_chunks(text, size, overlap, DEFAULT if separators is None else separators)
    assert contents(chunker.chunk(text)) == expected


def test_no_text_is_lost():
    words = [f"w{i}" + "x" * (i % 13) for i in range(3000)]
    text = "".join(w + ("\n\n" if i % 17 == 0 else "\n" if i % 5 == 0 else " ") for i, w in enumerate(words))
    chunks = slivr.RecursiveChunker(300, 60).chunk(text)
    seen = [w for c in chunks for w in c.content.split()]
    # Every word appears, in order, with repeats only from overlap.
    it = iter(seen)
    assert all(any(w == s for s in it) for w in words)
    assert all(c.content in text for c in chunks)


def test_long_text_without_separators_is_linear_and_exact():
    text = "x" * 2_000_000
    chunks = slivr.RecursiveChunker(1000, 0).chunk(text)
    assert len(chunks) == 2000 and all(c.content == "x" * 1000 for c in chunks)


@pytest.mark.parametrize("text, size, overlap, message", [
    ("  \n\t", 0, 0, "Empty input text provided"),
    ("", 10, 20, "Empty input text provided"),
    ("\u3000\u00a0", 10, 0, "Empty input text provided"),
    ("text", 0, 0, "Invalid chunk size: 0 (must be > 0)"),
    ("text", 100, 100, "Invalid chunk overlap: 100 (must be strictly less than chunk_size 100)"),
    ("text", 100, 200, "Invalid chunk overlap: 200 (must be strictly less than chunk_size 100)"),
])
def test_errors_in_order(text, size, overlap, message):
    chunker = slivr.RecursiveChunker(size, overlap)  # nothing is checked here
    with pytest.raises(ValueError) as info:
        chunker.chunk(text)
    assert str(info.value) == message


def test_constructor_arguments():
    assert slivr.RecursiveChunker.__text_signature__ == "(chunk_size=1000, overlap=200, separators=None)"
    assert slivr.RecursiveChunker.__doc__ == ""
    text = "one two three four five six seven"
    assert contents(slivr.RecursiveChunker(separators=None).chunk(text)) == [text]
    assert contents(slivr.RecursiveChunker(9, 0, separators=("e",)).chunk(text)) == \
        reference_chunks(text, 9, 0, ["e"])
    assert contents(slivr.RecursiveChunker(overlap=0, chunk_size=9, separators=[]).chunk(text)) == \
        reference_chunks(text, 9, 0, [])


@pytest.mark.parametrize("kwargs, error, message", [
    ({"separators": "\n\n"}, TypeError, "argument 'separators': Can't extract `str` to `Vec`"),
    ({"separators": ["a", 1]}, TypeError, "argument 'separators'"),
    ({"separators": 5}, TypeError, "argument 'separators'"),
    ({"chunk_size": -1}, OverflowError, "negative"),
    ({"overlap": 2 ** 64}, OverflowError, "too big"),
    ({"chunk_size": 1.5}, TypeError, "argument 'chunk_size'"),
    ({"size": 3}, TypeError, "unexpected keyword argument 'size'"),
])
def test_constructor_rejects(kwargs, error, message):
    with pytest.raises(error, match=message.replace("(", r"\(").replace(")", r"\)")):
        slivr.RecursiveChunker(**kwargs)


def test_batch_methods_match_chunk():
    texts = ["alpha beta gamma delta " * 20, "   ", "x" * 50]
    chunker = slivr.RecursiveChunker(40, 10)
    par = chunker.par_chunk_texts(texts)
    assert [contents(p) for p in par] == [contents(chunker.chunk(texts[0])), [], contents(chunker.chunk(texts[2]))]
    docs = [slivr.Document(t, {"source": i}) for i, t in enumerate(texts)]
    flat = chunker.chunk_documents(docs)
    assert [d.metadata for d in flat] == [d.metadata for d in chunker.par_chunk_documents(docs)]
    assert {d.metadata["doc_index"] for d in flat} == {0, 2}
