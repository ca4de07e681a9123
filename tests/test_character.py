"""CharacterChunker: windows of characters with overlap."""
import pytest

import slivr


def windows(chunks):
    return [(c.metadata["start_char"], c.metadata["end_char"], c.metadata["char_count"], c.metadata["chunk_index"])
            for c in chunks]


@pytest.mark.parametrize("text, size, overlap, expected", [
    ("abcdefghij", 4, 1, [(0, 4, 4, 0), (3, 7, 4, 1), (6, 10, 4, 2)]),
    ("abcdefghij", 4, 0, [(0, 4, 4, 0), (4, 8, 4, 1), (8, 10, 2, 2)]),
    ("abcdefghij", 20, 5, [(0, 10, 10, 0)]),
    ("abcdefghij", 10, 9, [(0, 10, 10, 0)]),
    ("abcde", 3, 2, [(0, 3, 3, 0), (1, 4, 3, 1), (2, 5, 3, 2)]),
    ("abcdefghij", 3, 0, [(0, 3, 3, 0), (3, 6, 3, 1), (6, 9, 3, 2), (9, 10, 1, 3)]),
])
def test_window_positions(text, size, overlap, expected):
    chunks = slivr.CharacterChunker(size, overlap).chunk(text)
    assert windows(chunks) == expected
    for c, (start, end, _, _) in zip(chunks, expected):
        assert c.content == text[start:end].strip()
        assert c.metadata["length"] == len(c.content.encode())
        assert set(c.metadata) == {"length", "char_count", "start_char", "end_char", "chunk_index"}


def test_blank_window_takes_no_index_and_positions_stay_true():
    chunks = slivr.CharacterChunker(4, 0).chunk("abcd    efgh")
    assert [c.content for c in chunks] == ["abcd", "efgh"]
    assert windows(chunks) == [(0, 4, 4, 0), (8, 12, 4, 1)]


def test_trimmed_window_keeps_untrimmed_positions():
    [chunk] = slivr.CharacterChunker(10, 0).chunk("  \u3000ab \n")
    assert chunk.content == "ab"
    assert (chunk.metadata["start_char"], chunk.metadata["char_count"], chunk.metadata["length"]) == (0, 7, 2)


@pytest.mark.parametrize("text, size, contents, lengths", [
    ("éééé", 4, ["éééé"], [8]),
    ("日本語のテキスト", 3, ["日本語", "のテキ", "スト"], [9, 9, 6]),
    ("a🚀b🚀c", 2, ["a🚀", "b🚀", "c"], [5, 5, 1]),
])
def test_multibyte_text_counts_characters_and_bytes(text, size, contents, lengths):
    chunks = slivr.CharacterChunker(size, 0).chunk(text)
    assert [c.content for c in chunks] == contents
    assert [c.metadata["length"] for c in chunks] == lengths
    assert chunks[0].metadata["char_count"] == len(contents[0])


def test_windows_cover_text_with_overlap_on_mixed_input():
    text = ("word é 日本 🚀 " * 300).strip()
    chunks = slivr.CharacterChunker(37, 11).chunk(text)
    step = 37 - 11
    for i, c in enumerate(chunks):
        assert c.metadata["start_char"] == i * step
        assert c.content == text[i * step:i * step + 37].strip()
    assert chunks[-1].metadata["end_char"] == len(text)


@pytest.mark.parametrize("text, size, overlap, message", [
    ("   \n\t", 0, 0, "Empty input text provided"),
    ("", 10, 20, "Empty input text provided"),
    ("\u3000\u00a0", 10, 2, "Empty input text provided"),
    ("text", 0, 0, "Invalid chunk size: 0 (must be > 0)"),
    ("text", 100, 150, "Invalid chunk overlap: 150 (must be strictly less than chunk_size 100)"),
    ("text", 5, 5, "Invalid chunk overlap: 5 (must be strictly less than chunk_size 5)"),
])
def test_chunk_errors(text, size, overlap, message):
    with pytest.raises(ValueError) as info:
        slivr.CharacterChunker(size, overlap).chunk(text)
    assert str(info.value) == message


@pytest.mark.parametrize("kwargs, exc, message", [
    ({"chunk_size": -1}, OverflowError, ""),
    ({"overlap": 2**64}, OverflowError, ""),
    ({"chunk_size": 1.5}, TypeError, "argument 'chunk_size'"),
    ({"overlap": "3"}, TypeError, "argument 'overlap'"),
    ({"size": 3}, TypeError, "unexpected keyword argument 'size'"),
])
def test_constructor_argument_errors(kwargs, exc, message):
    with pytest.raises(exc) as info:
        slivr.CharacterChunker(**kwargs)
    assert message in str(info.value)
    if exc is OverflowError:
        assert "argument" not in str(info.value)


def test_constructor_accepts_index_objects_and_huge_sizes():
    class Index:
        def __index__(self):
            return 3

    assert [c.content for c in slivr.CharacterChunker(Index(), 0).chunk("abcdef")] == ["abc", "def"]
    [chunk] = slivr.CharacterChunker(2**64 - 1, 2**64 - 2).chunk("abc")
    assert chunk.metadata["end_char"] == 3
