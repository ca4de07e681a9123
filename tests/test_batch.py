"""The batch operations shared by every chunker: documents, parallel texts and documents."""
import os
import sys
import threading

import pytest

import slivr

CHUNKER = slivr.CharacterChunker(8, 2)


def contents(chunks):
    return [(c.content, c.metadata) for c in chunks]


def test_blank_documents_are_skipped_but_counted():
    docs = [slivr.Document(""), slivr.Document("first text here"), slivr.Document(" \n\t "),
            slivr.Document("second one")]
    chunks = CHUNKER.chunk_documents(docs)
    assert {c.metadata["doc_index"] for c in chunks} == {1, 3}
    for doc_index in (1, 3):
        indexes = [c.metadata["chunk_index"] for c in chunks if c.metadata["doc_index"] == doc_index]
        assert indexes == list(range(len(indexes)))


def test_source_metadata_is_merged_but_never_overrides_the_chunker():
    doc = slivr.Document("some text to cut up", {"file": "a.txt", "length": -1, "doc_index": 99,
                                                 "chunk_index": 42, "nested": {"b": [1]}})
    chunks = CHUNKER.chunk_documents([doc])
    assert len(chunks) > 1
    for i, c in enumerate(chunks):
        m = c.metadata
        assert m["file"] == "a.txt" and m["nested"] == {"b": [1]}
        assert m["length"] == len(c.content.encode())
        assert (m["doc_index"], m["chunk_index"]) == (0, i)


def test_parallel_documents_equal_sequential():
    docs = [slivr.Document(f"document {i} " + "text é 日本 " * (i % 17), {"i": i}) for i in range(300)]
    docs[5] = slivr.Document("   ")
    assert contents(CHUNKER.par_chunk_documents(docs)) == contents(CHUNKER.chunk_documents(docs))


def test_parallel_texts_keep_input_order():
    texts = [f"text number {i} " * (1 + i % 5) for i in range(500)]
    texts[1] = "  \n "
    result = CHUNKER.par_chunk_texts(texts)
    assert len(result) == len(texts)
    assert result[1] == []
    for text, chunks in zip(texts, result):
        assert contents(chunks) == contents(CHUNKER.chunk(text)) if text.strip() else chunks == []
    assert all("doc_index" not in c.metadata for chunks in result for c in chunks)


@pytest.mark.parametrize("method", ["chunk_documents", "par_chunk_documents", "par_chunk_texts"])
def test_empty_input_gives_empty_result(method):
    assert getattr(CHUNKER, method)([]) == []


@pytest.mark.parametrize("method, wrap", [
    ("chunk_documents", slivr.Document),
    ("par_chunk_documents", slivr.Document),
    ("par_chunk_texts", str),
])
def test_failure_in_one_item_fails_the_whole_call(method, wrap):
    bad = slivr.CharacterChunker(10, 10)
    items = [wrap("fine text")] * 50
    with pytest.raises(ValueError, match=r"^Invalid chunk overlap: 10 \(must be strictly less than chunk_size 10\)$"):
        getattr(bad, method)(items)
    # Only blank items: the chunker is never asked, so its bad sizes go unnoticed.
    blanks = [wrap(" "), wrap("")]
    result = getattr(bad, method)(blanks)
    assert result == ([[], []] if method == "par_chunk_texts" else [])


@pytest.mark.parametrize("method, arg, message", [
    ("chunk_documents", "abc", "argument 'docs': Can't extract `str` to `Vec`"),
    ("par_chunk_documents", "abc", "argument 'docs': Can't extract `str` to `Vec`"),
    ("par_chunk_texts", "abc", "argument 'texts': Can't extract `str` to `Vec`"),
    ("par_chunk_texts", ["a", 1], "argument 'texts': 'int' object cannot be converted to 'PyString'"),
    ("chunk_documents", ["a"], "argument 'docs': 'str' object cannot be converted to 'Document'"),
    ("par_chunk_documents", 5, "argument 'docs': 'int' object cannot be converted to 'PySequence'"),
    ("chunk", 5, "argument 'text': 'int' object cannot be converted to 'PyString'"),
    ("chunk", None, "argument 'text': 'NoneType' object cannot be converted to 'PyString'"),
])
def test_argument_type_errors(method, arg, message):
    with pytest.raises(TypeError) as info:
        getattr(CHUNKER, method)(arg)
    assert str(info.value) == message


def test_tuples_are_sequences_and_keywords_work():
    assert len(CHUNKER.par_chunk_texts(texts=("abc", "def"))) == 2
    assert len(CHUNKER.chunk_documents(docs=(slivr.Document("abc"),))) == 1
    assert CHUNKER.chunk(text="abc")[0].content == "abc"


def test_lone_surrogate_is_an_encode_error_everywhere():
    with pytest.raises(UnicodeEncodeError):
        CHUNKER.chunk("ok \ud800")
    with pytest.raises(UnicodeEncodeError):
        CHUNKER.par_chunk_texts(["fine", "bad \udfff"])


def test_parallel_calls_from_many_threads_match_sequential():
    texts = [f"thread text {i} " * 20 for i in range(200)]
    expected = [contents(c) for c in CHUNKER.par_chunk_texts(texts)]
    errors = []

    def worker():
        try:
            for _ in range(10):
                assert [contents(c) for c in CHUNKER.par_chunk_texts(texts)] == expected
        except Exception as exc:  # surfaced below
            errors.append(exc)

    threads = [threading.Thread(target=worker) for _ in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


@pytest.mark.skipif(sys.platform != "linux", reason="fork")
def test_forked_child_can_use_the_pool_after_the_parent():
    texts = [f"fork test {i} " * 10 for i in range(64)]
    expected = sum(len(c) for c in CHUNKER.par_chunk_texts(texts))
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            got = sum(len(c) for c in CHUNKER.par_chunk_texts(texts))
            got2 = len(CHUNKER.par_chunk_documents([slivr.Document(t) for t in texts]))
            code = 0 if got == expected == got2 else 2
        finally:
            os._exit(code)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0


def test_fork_start_method_multiprocessing():
    import multiprocessing as mp
    CHUNKER.par_chunk_texts(["warm the pool up"] * 8)
    with mp.get_context("fork").Pool(2) as pool:
        counts = pool.map(_count_chunks, [["alpha beta gamma"] * 20, ["delta epsilon"] * 30])
    assert counts == [20 * len(CHUNKER.chunk("alpha beta gamma")), 30 * len(CHUNKER.chunk("delta epsilon"))]


def _count_chunks(texts):
    return sum(len(c) for c in CHUNKER.par_chunk_texts(texts))
