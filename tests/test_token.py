"""TokenChunker: windows of byte-pair-encoding tokens, checked against the reference tokeniser."""
import bisect
import threading

import pytest

import slivr
import tiktoken_reference as ref

WHITE_SPACE = ref.WHITE_SPACE


@pytest.fixture(scope="module")
def reference():
    cache = {}

    def get(name):
        if name not in cache:
            cache[name] = ref.encoding(name)
        return cache[name]

    return get


def model_chunks(enc, text, size, overlap):
    """The window rule in plain Python over the reference tokens: windows start and end only at
    token boundaries between characters; with every boundary allowed these are the windows
    [start, min(start + size, n)) for start = 0, step, 2 step, ... up to the first reaching n."""
    data = text.encode()
    pieces = [enc.decode_single_token_bytes(t) for t in enc.encode_ordinary(text)]
    n = len(pieces)
    offsets = [0]
    for p in pieces:
        offsets.append(offsets[-1] + len(p))
    allowed = [i for i in range(n + 1) if i in (0, n) or (data[offsets[i]] & 0xC0) != 0x80]

    def last_within(start, reach):
        below = allowed[bisect.bisect_right(allowed, start + reach) - 1]
        return below if below > start else allowed[bisect.bisect_right(allowed, start)]

    out, start = [], 0
    while True:
        end = last_within(start, size)
        content = data[offsets[start]:offsets[end]].decode().strip(WHITE_SPACE)
        if content:
            out.append((content, end - start))
        if end == n:
            return out
        start = last_within(start, size - overlap)


def observed(chunks):
    return [(c.content, c.metadata["token_count"]) for c in chunks]


# --- construction ------------------------------------------------------------------------------

def test_class_shape():
    assert slivr.TokenChunker.__text_signature__ == '(chunk_size=512, overlap=50, encoding="cl100k_base")'
    assert slivr.TokenChunker.__doc__ == ""
    assert slivr.TokenChunker.count_tokens.__text_signature__ == "($self, text)"
    with pytest.raises(TypeError):
        class Sub(slivr.TokenChunker):  # noqa: F841
            pass


@pytest.mark.parametrize("name, canonical", [
    ("cl100k_base", "cl100k_base"), ("CL100K-BASE", "cl100k_base"), ("cl100k", "cl100k_base"),
    ("GPT-4", "cl100k_base"), ("gpt_4", "cl100k_base"), ("gpt-3.5-turbo", "cl100k_base"),
    ("GPT_3.5-Turbo", "cl100k_base"), ("cl100\u212a_base", "cl100k_base"),
    ("o200k_base", "o200k_base"), ("O200K", "o200k_base"), ("gpt-4o", "o200k_base"), ("GPT_4O", "o200k_base"),
    ("p50k_base", "p50k_base"), ("P50K", "p50k_base"), ("r50k-base", "r50k_base"), ("r50k", "r50k_base"),
])
def test_encoding_names(name, canonical):
    [chunk] = slivr.TokenChunker(encoding=name).chunk("Hello there")
    assert chunk.metadata["encoding"] == canonical


@pytest.mark.parametrize("kwargs, error, message", [
    ({"encoding": "gpt2"}, ValueError, "Unsupported encoding: gpt2"),
    ({"encoding": "Foo-Bar"}, ValueError, "Unsupported encoding: foo_bar"),
    ({"encoding": "ΣΊΣΥΦΟΣ-X"}, ValueError, "Unsupported encoding: σίσυφος_x"),
    ({"encoding": " cl100k_base"}, ValueError, "Unsupported encoding:  cl100k_base"),
    # The name is checked before the sizes.
    ({"chunk_size": 0, "encoding": "nope"}, ValueError, "Unsupported encoding: nope"),
    ({"chunk_size": 0}, ValueError, "Invalid chunk size: 0 (must be > 0)"),
    ({"chunk_size": 0, "overlap": 0}, ValueError, "Invalid chunk size: 0 (must be > 0)"),
    ({"chunk_size": 10, "overlap": 10}, ValueError,
     "Invalid chunk overlap: 10 (must be strictly less than chunk_size 10)"),
    ({"overlap": 600}, ValueError, "Invalid chunk overlap: 600 (must be strictly less than chunk_size 512)"),
    ({"encoding": 5}, TypeError, "argument 'encoding': 'int' object cannot be converted to 'PyString'"),
    ({"chunk_size": 1.5}, TypeError, "argument 'chunk_size'"),
    ({"overlap": -1}, OverflowError, ""),
    ({"chunk_size": 2 ** 64}, OverflowError, ""),
    ({"size": 5}, TypeError, "unexpected keyword argument 'size'"),
])
def test_constructor_rejects(kwargs, error, message):
    with pytest.raises(error) as info:
        slivr.TokenChunker(**kwargs)
    assert message in str(info.value)
    if error is ValueError:
        assert str(info.value) == message


def test_positional_arguments_and_largest_sizes():
    chunker = slivr.TokenChunker(2 ** 64 - 1, 2 ** 64 - 2, "p50k")
    [chunk] = chunker.chunk("a few words of text")
    assert chunk.metadata == {"token_count": 5, "length": 19, "chunk_index": 0, "encoding": "p50k_base"}


# --- count_tokens ------------------------------------------------------------------------------

@pytest.mark.parametrize("name", ref.ENCODINGS)
@pytest.mark.parametrize("text", ["", "   ", "\n\n\n", "hello world", "<|endoftext|>", "don't STOP 'LL",
                                  "日本語のテキスト", "🦜🦜 e\u0301", "x" * 5000, "1234567890" * 30, "  trailing  \n "])
def test_count_tokens_matches_reference(reference, name, text):
    assert slivr.TokenChunker(encoding=name).count_tokens(text) == len(reference(name).encode_ordinary(text))


def test_count_tokens_arguments():
    chunker = slivr.TokenChunker()
    assert chunker.count_tokens(text="") == 0
    assert chunker.count_tokens("   ") == 1
    with pytest.raises(TypeError, match="argument 'text'"):
        chunker.count_tokens(b"bytes")
    with pytest.raises(TypeError):
        chunker.count_tokens()
    with pytest.raises(TypeError):
        chunker.count_tokens("a", "b")


# --- windows -----------------------------------------------------------------------------------

def test_twenty_tokens_in_windows_of_eight_overlapping_by_two(reference):
    text = "one" + " two" * 19
    assert slivr.TokenChunker().count_tokens(text) == 20
    chunks = slivr.TokenChunker(8, 2).chunk(text)
    assert [c.metadata["token_count"] for c in chunks] == [8, 8, 8]
    assert [c.metadata["chunk_index"] for c in chunks] == [0, 1, 2]
    ids = reference("cl100k_base").encode_ordinary(text)
    dec = reference("cl100k_base").decode
    assert [c.content for c in chunks] == [dec(ids[0:8]).strip(), dec(ids[6:14]).strip(), dec(ids[12:20]).strip()]
    for c in chunks:
        assert c.metadata["length"] == len(c.content.encode())
        assert c.metadata["encoding"] == "cl100k_base"
        assert set(c.metadata) == {"token_count", "length", "chunk_index", "encoding"}


def test_thousand_tokens_give_the_three_windows_of_the_step_rule():
    text = "x" + " y" * 999
    chunks = slivr.TokenChunker(512, 50).chunk(text)
    assert [c.metadata["token_count"] for c in chunks] == [512, 512, 76]  # [0,512) [462,974) [924,1000)
    assert chunks[2].content == ("y " * 76).strip()


def test_blank_window_takes_no_index(reference):
    text = "alpha beta" + "\n\n\n\n" * 1 + "   " * 6 + " gamma delta"
    chunks = slivr.TokenChunker(2, 0).chunk(text)
    assert [c.metadata["chunk_index"] for c in chunks] == list(range(len(chunks)))
    assert all(c.content.strip() == c.content and c.content for c in chunks)
    assert sum(c.metadata["token_count"] for c in chunks) < slivr.TokenChunker().count_tokens(text)
    assert observed(chunks) == model_chunks(reference("cl100k_base"), text, 2, 0)


@pytest.mark.parametrize("text", ["", "   ", "\n\t\u3000\u00a0"])
def test_blank_text_is_empty_input(text):
    with pytest.raises(ValueError, match="^Empty input text provided$"):
        slivr.TokenChunker().chunk(text)


def test_length_counts_bytes():
    [chunk] = slivr.TokenChunker().chunk("  naïve  ")
    assert chunk.content == "naïve"
    assert chunk.metadata["length"] == 6


# --- windows never split a character -----------------------------------------------------------

MULTIBYTE = [
    "日本語のテキストを小さな窓で区切ります。" * 5,
    "中文文本测试，包含标点符号。" * 8,
    "🦜🚀👨‍👩‍👧‍👦🏳️‍🌈👍🏽🇫🇷" * 6,
    "Ελληνικά και русский текст с emoji 🎉 и ẞ, ǅ, e\u0301\u0302 " * 4,
    "𝔘𝔫𝔦𝔠𝔬𝔡𝔢 𐍈𐌰𐌹𐍃 𓀀𓀁𓀂" * 5,
]


@pytest.mark.parametrize("name", ref.ENCODINGS)
@pytest.mark.parametrize("size, overlap", [(1, 0), (2, 1), (3, 0), (5, 2), (16, 15)])
@pytest.mark.parametrize("text", MULTIBYTE)
def test_multibyte_text_is_cut_between_characters(reference, name, text, size, overlap):
    chunks = slivr.TokenChunker(size, overlap, name).chunk(text)
    assert observed(chunks) == model_chunks(reference(name), text, size, overlap)


@pytest.mark.parametrize("name", ref.ENCODINGS)
def test_no_text_lost_between_windows(name):
    text = "".join(MULTIBYTE).replace(" ", "")
    chunks = slivr.TokenChunker(3, 0, name).chunk(text)
    assert "".join(c.content for c in chunks) == text
    assert sum(c.metadata["token_count"] for c in chunks) == slivr.TokenChunker(encoding=name).count_tokens(text)


def test_character_wider_than_a_window_gets_a_window_of_its_own(reference):
    # A rare CJK character that the encoding spells with three tokens.
    enc = reference("cl100k_base")
    char = next(c for c in "𠀋𪚥𡈽𤭢" if len(enc.encode_ordinary(c)) > 1)
    text = f"a{char}b"
    chunks = slivr.TokenChunker(1, 0).chunk(text)
    assert [c.content for c in chunks] == ["a", char, "b"]
    assert chunks[1].metadata["token_count"] == len(enc.encode_ordinary(char))


@pytest.mark.parametrize("name", ref.ENCODINGS)
def test_ascii_windows_are_exactly_the_step_rule(reference, name):
    text = "The quick brown fox, don't you know, jumps over 1234567 lazy dogs.\r\n\tAgain!  " * 20
    enc = reference(name)
    ids = enc.encode_ordinary(text)
    for size, overlap in [(7, 3), (10, 0), (64, 63)]:
        expected, start = [], 0
        while True:
            end = min(start + size, len(ids))
            content = enc.decode(ids[start:end]).strip(WHITE_SPACE)
            if content:
                expected.append((content, end - start))
            if start + size >= len(ids):
                break
            start += size - overlap
        assert observed(slivr.TokenChunker(size, overlap, name).chunk(text)) == expected


# --- differential test on a generated sample ---------------------------------------------------

@pytest.mark.parametrize("name", ref.ENCODINGS)
def test_generated_texts_match_reference(reference, name):
    enc = reference(name)
    chunker = slivr.TokenChunker(1, 0, name)
    counter = slivr.TokenChunker(encoding=name)
    texts = ref.stress_texts(150, seed=2024, max_fragments=30) + ref.short_strings(2)
    for text in texts:
        assert counter.count_tokens(text) == len(enc.encode_ordinary(text)), repr(text)
        if text.strip(WHITE_SPACE):
            # Windows of one token expose every token boundary that falls between characters.
            assert observed(chunker.chunk(text)) == model_chunks(enc, text, 1, 0), repr(text)


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base", "r50k_base"])
@pytest.mark.parametrize("size, overlap", [(2, 1), (7, 3), (64, 10), (100, 99), (500, 0)])
def test_windows_on_generated_text_follow_the_rule(reference, name, size, overlap):
    text = "".join(ref.stress_texts(12, seed=size * 31 + overlap, max_fragments=80))
    chunks = slivr.TokenChunker(size, overlap, name).chunk(text)
    assert observed(chunks) == model_chunks(reference(name), text, size, overlap)


# --- batches and threads -----------------------------------------------------------------------

def test_parallel_batches_agree_with_sequential_chunking():
    chunker = slivr.TokenChunker(20, 5, "o200k_base")
    texts = MULTIBYTE + ["plain ascii text " * 50, "   ", "x"] + ref.stress_texts(40, seed=5)
    texts = [t for t in texts]
    sequential = [chunker.chunk(t) if t.strip(WHITE_SPACE) else [] for t in texts]
    parallel = chunker.par_chunk_texts(texts)
    assert [observed(p) for p in parallel] == [observed(s) for s in sequential]
    docs = [slivr.Document(t, {"i": i}) for i, t in enumerate(texts)]
    assert [(d.content, d.metadata) for d in chunker.par_chunk_documents(docs)] == \
           [(d.content, d.metadata) for d in chunker.chunk_documents(docs)]


def test_chunkers_built_in_many_threads_share_one_vocabulary():
    results, errors = [], []

    def build(name):
        try:
            results.append(slivr.TokenChunker(64, 8, name).count_tokens("shared vocabulary"))
        except Exception as exc:  # pragma: no cover - reported below
            errors.append(exc)

    threads = [threading.Thread(target=build, args=(ref.ENCODINGS[i % 4],)) for i in range(16)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert len(results) == 16
