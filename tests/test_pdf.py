"""PDFLoader, load_pdf and load_pdf_pages on PDFs written by the tests themselves."""
import importlib.util
import inspect
import os
import subprocess
import sys
from pathlib import Path

import pytest

import slivr

_spec = importlib.util.spec_from_file_location(
    "pdfgen", Path(__file__).resolve().parent.parent / "examples" / "pdfgen.py")
pdfgen = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(pdfgen)

PREFIX = "Document parse error: "
LOADER = slivr.PDFLoader()

THREE_PAGES = ["First page.\nIts second line.", "", "Third page, last one."]


@pytest.fixture
def three_pages(tmp_path):
    return pdfgen.write_pdf(tmp_path / "three.pdf", THREE_PAGES)


def page_view(docs):
    return [(d.content, d.metadata) for d in docs]


def test_surface():
    assert slivr.PDFLoader.__text_signature__ == "()"
    assert slivr.PDFLoader.__doc__ == ""
    for name, arg in [("load", "path"), ("load_from_file", "path"), ("load_from_bytes", "bytes"),
                      ("load_document", "path"), ("load_document_from_bytes", "bytes"),
                      ("load_pages", "path"), ("load_pages_from_file", "path"),
                      ("load_pages_from_bytes", "bytes")]:
        method = getattr(slivr.PDFLoader, name)
        assert method.__text_signature__ == f"($self, {arg})"
        assert str(inspect.signature(getattr(LOADER, name))) == f"({arg})"
    for name in ("chunk", "chunk_documents", "par_chunk_texts", "par_chunk_documents"):
        assert not hasattr(slivr.PDFLoader, name)
    assert slivr.load_pdf.__text_signature__ == "(path)"
    assert slivr.load_pdf_pages.__text_signature__ == "(path)"
    with pytest.raises(TypeError):
        type("Sub", (slivr.PDFLoader,), {})
    with pytest.raises(TypeError, match="takes 0 positional arguments"):
        slivr.PDFLoader(1)


def test_pages_carry_text_and_provenance(three_pages):
    path = str(three_pages)
    pages = LOADER.load_pages_from_file(path)
    meta = {"total_pages": 3, "source": path, "file_name": "three.pdf"}
    assert page_view(pages) == [("First page.\nIts second line.", {"page_number": 1, **meta}),
                                ("", {"page_number": 2, **meta}),
                                ("Third page, last one.", {"page_number": 3, **meta})]
    assert page_view(LOADER.load_pages(path)) == page_view(pages)
    assert page_view(slivr.load_pdf_pages(path)) == page_view(pages)
    from_bytes = LOADER.load_pages_from_bytes(three_pages.read_bytes())
    assert page_view(from_bytes) == [(c, {"page_number": i + 1, "total_pages": 3})
                                     for i, (c, _) in enumerate(page_view(pages))]


def test_whole_text_in_every_form(three_pages):
    path = str(three_pages)
    # The empty middle page adds one separator and no blank line.
    expected = "First page.\nIts second line.\nThird page, last one."
    data = three_pages.read_bytes()
    assert LOADER.load(path) == expected
    assert LOADER.load_from_file(path) == expected
    assert slivr.load_pdf(path) == expected
    assert LOADER.load_from_bytes(data) == expected
    doc = LOADER.load_document(path)
    assert (doc.content, doc.metadata) == (expected, {"source": path, "file_name": "three.pdf", "total_pages": 3})
    doc = LOADER.load_document_from_bytes(data)
    assert (doc.content, doc.metadata) == (expected, {"total_pages": 3})


@pytest.mark.parametrize("pages, expected", [
    (["", "two"], "two"),
    (["one", ""], "one\n"),
    (["", ""], ""),
    (["a", "", "", "b"], "a\nb"),
    (["one", "two\nlines", "three"], "one\ntwo\nlines\nthree"),
])
def test_joining_rule(pages, expected):
    assert LOADER.load_from_bytes(pdfgen.make_pdf(pages)) == expected


def test_page_that_cannot_be_read(tmp_path):
    # The page tree lists an object that does not exist in the middle of three pages.
    data = pdfgen.make_pdf(["A", "B", "C"])
    data = data.replace(b"/Kids [3 0 R 5 0 R 7 0 R]", b"/Kids [3 0 R 99 0 R 7 0 R]")
    assert LOADER.load_from_bytes(data) == "A\nC"
    assert page_view(LOADER.load_pages_from_bytes(data)) == [
        ("A", {"page_number": 1, "total_pages": 3}), ("", {"page_number": 2, "total_pages": 3}),
        ("C", {"page_number": 3, "total_pages": 3})]
    path = tmp_path / "broken.pdf"
    path.write_bytes(data)
    assert [d.metadata["page_number"] for d in slivr.load_pdf_pages(str(path))] == [1, 2, 3]


def test_no_pages():
    data = pdfgen.make_pdf([])
    assert LOADER.load_from_bytes(data) == ""
    assert LOADER.load_pages_from_bytes(data) == []
    doc = LOADER.load_document_from_bytes(data)
    assert (doc.content, doc.metadata) == ("", {"total_pages": 0})


def test_two_hundred_pages(tmp_path):
    texts = [f"Page {i} of the long file.\nSecond line of page {i}." for i in range(1, 201)]
    path = str(pdfgen.write_pdf(tmp_path / "long.pdf", texts))
    pages = slivr.load_pdf_pages(path)
    assert [d.content for d in pages] == texts
    assert [d.metadata["page_number"] for d in pages] == list(range(1, 201))
    assert {d.metadata["total_pages"] for d in pages} == {200}
    assert slivr.load_pdf(path) == "\n".join(texts)


@pytest.mark.parametrize("pages", [
    ["Café, naïve, Straße, façade — “quoted” €5 ½"],
    ["日本語のテキスト。\n第二行", "Ελληνικά και Кириллица", "emoji 🙂 and 𝑥 outside the BMP"],
])
def test_non_ascii_text(pages):
    data = pdfgen.make_pdf(pages)
    assert [d.content for d in LOADER.load_pages_from_bytes(data)] == pages
    assert LOADER.load_from_bytes(data) == "\n".join(pages)


def test_uncompressed_streams_read_the_same():
    pages = ["plain (parenthesised) \\ backslash", "two"]
    assert LOADER.load_from_bytes(pdfgen.make_pdf(pages, compress=False)) == "\n".join(pages)


@pytest.mark.parametrize("relative, file_name", [
    ("three.pdf", "three.pdf"),
    ("./three.pdf", "three.pdf"),
    ("sub/../three.pdf", "three.pdf"),
    ("sub//.//../three.pdf", "three.pdf"),
])
def test_source_is_the_path_as_given(tmp_path, monkeypatch, relative, file_name):
    pdfgen.write_pdf(tmp_path / "three.pdf", THREE_PAGES)
    (tmp_path / "sub").mkdir()
    monkeypatch.chdir(tmp_path)
    doc = LOADER.load_document(relative)
    assert doc.metadata == {"source": relative, "file_name": file_name, "total_pages": 3}
    assert {(d.metadata["source"], d.metadata["file_name"]) for d in LOADER.load_pages(relative)} == \
        {(relative, file_name)}


def _encrypted(filter_and_version):
    key = b"<" + b"11" * 32 + b">"
    file_id = b"<00112233445566778899aabbccddeeff>"
    return pdfgen.make_pdf(["secret"]).replace(
        b"trailer\n<< ", b"trailer\n<< /Encrypt << /Filter " + filter_and_version + b" /O " + key + b" /U " + key +
        b" /P -4 >> /ID [" + file_id + file_id + b"] ")


@pytest.mark.parametrize("data, reason", [
    (b"", "is not a PDF or is damaged"),
    (b"hello, world", "is not a PDF or is damaged"),
    (b"%PDF-1.7\n", "is not a PDF or is damaged"),
    (_encrypted(b"/Standard /V 1 /R 2"), "is encrypted and needs a password"),
    (_encrypted(b"/VendorLock /V 1 /R 2"), "uses an unsupported security handler"),
])
def test_bytes_the_reader_refuses(tmp_path, data, reason):
    for load in (LOADER.load_from_bytes, LOADER.load_document_from_bytes, LOADER.load_pages_from_bytes):
        with pytest.raises(ValueError) as err:
            load(data)
        assert str(err.value) == f"{PREFIX}the document {reason}"
    path = tmp_path / "refused.pdf"
    path.write_bytes(data)
    with pytest.raises(ValueError) as err:
        slivr.load_pdf(str(path))
    assert str(err.value) == f"{PREFIX}file '{path}' {reason}"


def test_files_that_cannot_be_opened(tmp_path):
    missing = str(tmp_path / "missing.pdf")
    cases = [
        (missing, f"cannot open '{missing}': No such file or directory"),
        (str(tmp_path), f"cannot read '{tmp_path}': Is a directory"),
        (f"{tmp_path}/x\0.pdf", "cannot open a path that contains a NUL character"),
        ("", "cannot open '': No such file or directory"),
    ]
    if hasattr(os, "mkfifo"):
        fifo = tmp_path / "pipe.pdf"
        os.mkfifo(fifo)
        cases.append((str(fifo), f"cannot read '{fifo}': not a regular file"))  # and no hang
    if os.geteuid() != 0:
        locked = pdfgen.write_pdf(tmp_path / "locked.pdf", ["x"])
        locked.chmod(0)
        cases.append((str(locked), f"cannot open '{locked}': Permission denied"))
    for path, reason in cases:
        for load in (LOADER.load, LOADER.load_document, LOADER.load_pages, slivr.load_pdf, slivr.load_pdf_pages):
            with pytest.raises(ValueError) as err:
                load(path)
            assert str(err.value) == PREFIX + reason


@pytest.mark.parametrize("method, value, message", [
    ("load", b"x.pdf", "argument 'path': 'bytes' object cannot be converted to 'PyString'"),
    ("load_pages", Path("x.pdf"), "argument 'path': 'PosixPath' object cannot be converted to 'PyString'"),
    ("load_document", None, "argument 'path': 'NoneType' object cannot be converted to 'PyString'"),
    ("load_from_bytes", "x", "argument 'bytes': 'str' object cannot be converted to 'PyBytes'"),
    ("load_document_from_bytes", bytearray(b"x"),
     "argument 'bytes': 'bytearray' object cannot be converted to 'PyBytes'"),
    ("load_pages_from_bytes", memoryview(b"x"),
     "argument 'bytes': 'memoryview' object cannot be converted to 'PyBytes'"),
])
def test_argument_types(method, value, message):
    with pytest.raises(TypeError) as err:
        getattr(LOADER, method)(value)
    assert str(err.value) == message


def test_arguments_by_keyword_and_binding_errors(three_pages):
    data = three_pages.read_bytes()
    assert LOADER.load(path=str(three_pages)) == LOADER.load_from_bytes(bytes=data)
    assert len(slivr.load_pdf_pages(path=str(three_pages))) == 3

    class Raw(bytes):
        pass

    assert LOADER.load_from_bytes(Raw(data)) == LOADER.load_from_bytes(data)
    with pytest.raises(TypeError, match="missing required argument 'path'"):
        slivr.load_pdf()
    with pytest.raises(TypeError, match="unexpected keyword argument 'file'"):
        LOADER.load_pages(file="x.pdf")
    with pytest.raises(TypeError, match="takes 1 positional argument but 2 were given"):
        LOADER.load_from_bytes(data, data)


def test_repeated_loads_keep_argument_references(three_pages):
    path, data = str(three_pages), three_pages.read_bytes()
    before = sys.getrefcount(path), sys.getrefcount(data)
    for _ in range(200):
        LOADER.load_pages(path)
        LOADER.load_document_from_bytes(data)
        with pytest.raises(ValueError):
            LOADER.load_from_bytes(data[:100])
    assert (sys.getrefcount(path), sys.getrefcount(data)) == before


def test_pages_hand_off_to_a_chunker(tmp_path):
    texts = ["Alpha " * 30, "", "Gamma " * 10]
    path = str(pdfgen.write_pdf(tmp_path / "handoff.pdf", texts))
    chunks = slivr.CharacterChunker(60, 10).chunk_documents(slivr.load_pdf_pages(path))
    assert {c.metadata["page_number"] for c in chunks} == {1, 3}  # the empty page gives no chunks
    for c in chunks:
        m = c.metadata
        assert (m["total_pages"], m["source"], m["file_name"]) == (3, path, "handoff.pdf")
        assert m["doc_index"] == m["page_number"] - 1
        assert c.content in texts[m["page_number"] - 1]


def test_missing_reader_library_is_reported():
    # A fresh interpreter where the package that ships the reader cannot be found.
    code = ("import sys; sys.modules['pypdfium2_raw'] = None\n"
            "import slivr\n"
            "try:\n    slivr.PDFLoader().load_from_bytes(b'%PDF')\n"
            "except ValueError as e:\n    print(e)\n")
    env = dict(os.environ, PYTHONPATH=str(Path(slivr.__file__).resolve().parent.parent))
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    assert out.stdout.strip() == PREFIX + "the PDF reader library was not found: install the pypdfium2 package"
