"""atheris fuzz targets for every public entry of slivr.

    python fuzz/harness.py TARGET [libFuzzer flags and corpus directories]

TARGET is one of `targets()`: "chunk-<Class>" for each chunker the module exposes (its `chunk`
and text methods on fuzzed text with fuzzed constructor arguments), "batch" (the three batch
methods, parallel against sequential), "document" (Document from fuzzed metadata), "json"
(JsonChunker on JSON-like text), "tokens" (count_tokens on fuzzed Unicode, against the reference
tokeniser when it is installed), "pdf" (the loader on fuzzed bytes) and "args" (every constructor
and method given arguments of odd types). fuzz/run.py runs them all.

A target fails (and libFuzzer keeps the input as a crash artifact) on a native crash or sanitizer
report, on any exception other than the clear errors a caller may expect, and on a result that
breaks an invariant that holds for every input.

Most targets read their input as a small header followed by a body that becomes the text, so the
seed texts stay readable and mutations of the body keep their meaning. The constructor arguments
and the way the body is read as text come from the header mixed with a digest of the whole input
(see `header_of`), through atheris' FuzzedDataProvider.
"""
from __future__ import annotations

import hashlib
import os
import pickle
import sys
import tempfile
from pathlib import Path

import atheris

ROOT = Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "examples")]

with atheris.instrument_imports():
    import catalog

import slivr

HEADER = 24

# Pieces that the structured text mode strings together: every byte of the body picks one.
FRAGMENTS = (
    "word", " ", "  ", "\n", "\n\n", "\r\n", "\t", ".", ". ", "!", "?", "...", "?!", "Dr.", "U.S.A.",
    "no.", "(", ")", "\"", "'", "]", "[", "# ", "## ", "###### ", "```", "~~~", "`", "<div>",
    "</div>", "<p>", "<h1>", "<br/>", "<!--", "-->", "{", "}", "[", "]", ":", ",", "\"k\"", "null",
    "true", "1e400", "-0", "18446744073709551616", "\\u00e9", "\\ud800", "\\", "fn ", "def ",
    "class ", "function ", "SELECT ", "\u00a0", "\u0085", "\u2028", "\u3000", "\u200b", "é", "ß",
    "İ", "Σ", "ς", "日本語", "\u3002", "😀", "👩\u200d💻", "\u0301", "\ufeff", "\x00", "\x1f",
    "\ud800", "\udfff", "however,", "because", "therefore", "and", "the", "text", "chunk", "2024",
    "3.14", "A", "z", "<|endoftext|>", "'s", "'ll", "     ", "\n\n\n\n", "-" * 40, "é" * 30,
)


def header_of(data: bytes) -> bytes:
    """The bytes the arguments are drawn from: the input's header mixed with a digest of the whole
    input. Under the sanitizer runtime libFuzzer gets no coverage feedback, so it keeps mutating
    the seeds a few bytes at a time and would seldom touch the header itself; this way every
    mutation, wherever it falls, also draws fresh constructor arguments."""
    digest = hashlib.blake2b(data, digest_size=HEADER).digest()
    return bytes(a ^ b for a, b in zip(data[:HEADER].ljust(HEADER, b"\0"), digest))


def text_of(mode: int, body: bytes) -> str:
    """The body as text, read one of five ways (some admit lone surrogates)."""
    mode %= 5
    if mode == 0:
        return body.decode("utf-8", "replace")
    if mode == 1:
        return body.decode("utf-8", "surrogateescape")
    if mode == 2:
        return body.decode("latin-1")
    if mode == 3:
        return body[: len(body) // 2 * 2].decode("utf-16-le", "surrogatepass")
    return "".join(FRAGMENTS[b % len(FRAGMENTS)] for b in body)


def has_surrogate(text: str) -> bool:
    return any("\ud800" <= c <= "\udfff" for c in text)


class Expected(Exception):
    """Raised inside a target for an outcome that is fine (ends the input quietly)."""


def expect_clear_error(error: BaseException, text_has_surrogate: bool = False) -> None:
    """The exceptions a well-formed call may end in: the library's ValueError, or a text the
    interpreter cannot encode as UTF-8."""
    if isinstance(error, UnicodeEncodeError) and text_has_surrogate:
        return
    if isinstance(error, ValueError) and not isinstance(error, UnicodeError):
        catalog.check_error(error)
        return
    raise error


def check_documents(docs, entry=None, text=None) -> None:
    assert isinstance(docs, list), type(docs)
    position = 0
    for d in docs:
        assert type(d) is slivr.Document, type(d)
        content = d.content
        meta = d.metadata
        assert isinstance(meta, dict)
        assert len(d) == len(content.encode()), (len(d), content)
        if "length" in meta:
            ok = meta["length"] == len(content.encode())
            if not ok and entry is not None and entry.length_of_input_when_single and text is not None:
                ok = len(docs) == 1 and meta["length"] == len(text.encode())
            assert ok, ("length", meta["length"], content)
        if entry is not None and text is not None and entry.slices:
            assert content == catalog.trim(content), ("untrimmed", content)
            start = text.find(content, position if entry.slices == "ordered" else 0)
            assert start >= 0, ("not a slice in order", content)
            if entry.slices == "ordered":
                position = start
        repr(d)
        d.to_dict()


def build(entry, kwargs):
    try:
        return entry.cls(**kwargs)
    except UnicodeEncodeError as e:  # a str argument (or separator) with a lone surrogate
        if any(has_surrogate(v if isinstance(v, str) else "".join(v)) for v in kwargs.values()
               if isinstance(v, (str, list))):
            raise Expected() from e
        raise
    except ValueError as e:
        expect_clear_error(e)
        raise Expected() from e


def call_text_method(chunker, method: str, text: str):
    try:
        return getattr(chunker, method)(text)
    except (ValueError, UnicodeEncodeError) as e:
        expect_clear_error(e, has_surrogate(text))
        return None


# ---------------------------------------------------------------------------------------------
# Targets


def chunk_target(entry):
    def one_input(data: bytes) -> None:
        fdp = atheris.FuzzedDataProvider(header_of(data))
        mode = fdp.ConsumeIntInRange(0, 255)
        kwargs = entry.fuzz_kwargs(fdp)
        text = text_of(mode, data[HEADER:])
        try:
            chunker = build(entry, kwargs)
        except Expected:
            return
        docs = call_text_method(chunker, "chunk", text)
        if docs is not None:
            check_documents(docs, entry, text)
        if len(data) % 8 == 0:  # now and then: a pickled copy chunks the same way
            clone = pickle.loads(pickle.dumps(chunker))
            again = call_text_method(clone, "chunk", text)
            assert (again is None) == (docs is None)
            if docs is not None:
                assert comparable(again, entry.unstable_keys) == comparable(docs, entry.unstable_keys)
        for method in entry.text_methods:
            result = call_text_method(chunker, method, text)
            if method == "count_tokens" and result is not None:
                assert isinstance(result, int) and result >= 0
                assert (result == 0) == (text == ""), (result, text)
            elif method == "chunk_hierarchical" and result is not None:
                for pair in result:
                    check_documents([pair["parent"]] + pair["children"], entry, text)
            elif method == "chunk_tree" and result is not None:
                stack = [result]
                while stack:
                    node = stack.pop()
                    check_documents([node["document"]], entry if node["depth"] else None, text)
                    stack.extend(node["children"])
    return one_input


def comparable(docs, unstable=()):
    return [(d.content, {k: v for k, v in d.metadata.items() if k not in unstable}) for d in docs]


def outcome(call, surrogate):
    try:
        return call(), None
    except (ValueError, UnicodeEncodeError) as e:
        expect_clear_error(e, surrogate)
        return None, type(e)


def batch_target(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(header_of(data))
    entries = catalog.present()
    entry = entries[fdp.ConsumeIntInRange(0, len(entries) - 1)]
    mode = fdp.ConsumeIntInRange(0, 255)
    kwargs = entry.fuzz_kwargs(fdp)
    # One input makes several texts: the body is cut at every 0xFF byte.
    texts = [text_of(mode, part) for part in data[HEADER:].split(b"\xff")]
    surrogate = any(has_surrogate(t) for t in texts)
    try:
        chunker = build(entry, kwargs)
    except Expected:
        return
    docs = [slivr.Document(t, {"i": i, "doc_index": -1, "source": "fuzz"}) for i, t in enumerate(texts)
            if not has_surrogate(t)]
    seq, seq_error = outcome(lambda: chunker.chunk_documents(docs), False)
    par, par_error = outcome(lambda: chunker.par_chunk_documents(docs), False)
    assert (seq_error is None) == (par_error is None), (seq_error, par_error)
    if seq is not None:
        check_documents(seq)
        assert comparable(par, entry.unstable_keys) == comparable(seq, entry.unstable_keys)
        for d in seq:
            m = d.metadata
            assert m["source"] == "fuzz" and m["doc_index"] >= 0, m
    lists, lists_error = outcome(lambda: chunker.par_chunk_texts(texts), surrogate)
    if not surrogate:
        assert (lists_error is None) == (seq_error is None), (lists_error, seq_error)
    if lists is not None:
        assert len(lists) == len(texts)
        for t, chunks in zip(texts, lists):
            check_documents(chunks, entry, t)
            if catalog.is_blank(t):
                assert chunks == []


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text for this one")


class Weird:
    def __str__(self):
        return "weird \ud800"


class Mutator:
    """A value whose str() changes the dict or list that holds it: moves, adds or drops items."""

    def __init__(self, container, how: int):
        self.container = container
        self.how = how

    def __str__(self):
        c = self.container
        if isinstance(c, dict):
            if self.how == 0 and c:
                key = next(iter(c))
                c[key] = c.pop(key)
            elif self.how == 1:
                c.update({f"new{i}": i for i in range(20)})
            else:
                c.clear()
        else:
            if self.how == 0:
                c.extend(range(20))
            else:
                c.clear()
        return "mutated"


def fuzz_value(fdp, depth: int):
    kind = fdp.ConsumeIntInRange(0, 15)
    if kind == 0:
        return None
    if kind == 1:
        return fdp.ConsumeBool()
    if kind == 2:
        return fdp.PickValueInList([0, 1, -1, 2**63 - 1, 2**63, -2**63, -2**63 - 1, 2**64, 10**40])
    if kind == 3:
        return fdp.ConsumeInt(8)
    if kind == 4:
        return fdp.ConsumeFloat()
    if kind in (5, 6):
        return fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 16))
    if kind in (7, 8) and depth < 6:
        return [fuzz_value(fdp, depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 4))]
    if kind in (9, 10) and depth < 6:
        out = {}
        for _ in range(fdp.ConsumeIntInRange(0, 4)):
            key = fdp.ConsumeUnicode(4) if fdp.ConsumeIntInRange(0, 7) else fdp.ConsumeInt(1)
            out[key] = fuzz_value(fdp, depth + 1)
        return out
    if kind == 11:
        return fdp.PickValueInList([(1, 2), {1, 2}, b"\xff", 1 + 2j, Unprintable(), Weird(), range(3)])
    if kind == 12:
        nested = inner = []
        for _ in range(fdp.ConsumeIntInRange(0, 3000)):
            inner.append([])
            inner = inner[0]
        return nested
    if kind == 13:
        loop = []
        loop.append(loop)
        return loop
    if kind == 14 and depth < 6:
        holder = {} if fdp.ConsumeBool() else []
        for i in range(fdp.ConsumeIntInRange(1, 4)):
            value = Mutator(holder, fdp.ConsumeIntInRange(0, 2)) if fdp.ConsumeBool() else fuzz_value(fdp, depth + 1)
            if isinstance(holder, dict):
                holder[f"k{i}"] = value
            else:
                holder.append(value)
        return holder
    return fdp.ConsumeUnicode(2)


def plain(value) -> bool:
    """A value that survives the round trip through metadata unchanged."""
    if value is None or type(value) in (bool, str):
        return type(value) is not str or not has_surrogate(value)
    if type(value) is int:
        return -2**63 <= value < 2**63
    if type(value) is float:
        return value == value and abs(value) != float("inf")
    if type(value) is list:
        return all(plain(v) for v in value)
    if type(value) is dict:
        return all(type(k) is str and not has_surrogate(k) and plain(v) for k, v in value.items())
    return False


def document_target(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(data)
    content = fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 200))
    metadata = fuzz_value(fdp, 0) if fdp.ConsumeIntInRange(0, 7) == 0 else {
        fdp.ConsumeUnicode(6): fuzz_value(fdp, 1) for _ in range(fdp.ConsumeIntInRange(0, 6))}
    if isinstance(metadata, dict) and fdp.ConsumeIntInRange(0, 3) == 0:
        metadata["mutator"] = Mutator(metadata, fdp.ConsumeIntInRange(0, 2))
    try:
        expect_same = plain(metadata)  # before the call: a Mutator changes the dict it is in
    except RecursionError:  # too deep for the check itself
        expect_same = False
    try:
        doc = slivr.Document(content, metadata)
    except (TypeError, OverflowError, UnicodeEncodeError, RecursionError):
        return
    assert doc.content == content
    got = doc.metadata
    try:
        copy = pickle.loads(pickle.dumps(doc))
        assert copy.content == content and copy.metadata == got
    except RecursionError:  # metadata nested nearly as deep as allowed is too deep for pickle
        pass
    assert doc.to_dict() == {"content": content, "metadata": got}
    assert len(doc) == len(content.encode())
    assert repr(doc).startswith("Document(content='")
    if metadata is None:
        assert got == {}
    elif expect_same:
        assert got == metadata, (got, metadata)
    chunks, error = outcome(lambda: slivr.CharacterChunker(16, 4).chunk_documents([doc]), False)
    for c in chunks or ():
        m = c.metadata
        for k, v in got.items():
            if k not in ("doc_index", "chunk_index", "length", "char_count", "start_char", "end_char"):
                assert m[k] == v, (k, m[k], v)


def json_like(fdp, depth: int) -> str:
    kind = fdp.ConsumeIntInRange(0, 12)
    if kind <= 2 and depth < 400:
        items = [json_like(fdp, depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 4))]
        return "[" + ",".join(items) + "]"
    if kind <= 5 and depth < 400:
        items = [f"{json_like(fdp, 999)}:{json_like(fdp, depth + 1)}" if fdp.ConsumeIntInRange(0, 9) == 0
                 else f"\"{fdp.ConsumeUnicodeNoSurrogates(4)}\":{json_like(fdp, depth + 1)}"
                 for _ in range(fdp.ConsumeIntInRange(0, 4))]
        return "{" + ",".join(items) + "}"
    if kind == 6:
        return "\"" + fdp.PickValueInList(["", "a", "\\n", "\\u00e9", "\\ud800", "\\udc00\\ud800",
                                          "\\ud83d\\ude00", "\\", "\\x", "\\u12", "é", "\x01",
                                          "\\\"", "\\/", "\u2028"]) + fdp.ConsumeUnicode(4) + "\""
    if kind == 7:
        return fdp.PickValueInList(["0", "-0", "1e400", "-1e400", "1.5e-400", "18446744073709551615",
                                    "18446744073709551616", "-9223372036854775808",
                                    "-9223372036854775809", "1.7976931348623157e308", "5e-324", "0.1",
                                    "01", "1.", ".5", "+1", "NaN", "Infinity", "1e", "-"])
    if kind == 8:
        return fdp.PickValueInList(["null", "true", "false", "nul", "True", ""])
    if kind == 9:
        return fdp.PickValueInList([" ", "\n", ",", ":", "]", "}", "[", "{", "\ufeff", "//", "/*"])
    if kind == 10:
        return str(fdp.ConsumeInt(9))
    if kind == 11:
        return repr(fdp.ConsumeFloat())
    return "\"" + fdp.ConsumeUnicodeNoSurrogates(fdp.ConsumeIntInRange(0, 40)).replace("\\", "/").replace("\"", "'") + "\""


JSON_ENTRY = catalog.entry("JsonChunker")


def json_target(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(header_of(data))
    max_size = JSON_ENTRY.params[0].fuzz_value(fdp)
    generated = fdp.ConsumeIntInRange(0, 1)
    if generated:
        text = json_like(atheris.FuzzedDataProvider(data[HEADER:]), 0)
        if fdp.ConsumeIntInRange(0, 3) == 0:  # cut short or trail off into garbage
            text = text[: fdp.ConsumeIntInRange(0, len(text))]
    else:
        text = text_of(fdp.ConsumeIntInRange(0, 255), data[HEADER:])
    chunker = slivr.JsonChunker(max_size)
    docs = call_text_method(chunker, "chunk", text)
    if docs is not None:
        check_documents(docs, JSON_ENTRY, text)


ENCODINGS = ("cl100k_base", "o200k_base", "p50k_base", "r50k_base")
_token_chunkers: dict = {}
_reference: dict = {}


def reference_encoding(name):
    """The reference tokeniser, when tiktoken is installed (it reads the shipped vocabularies)."""
    if name not in _reference:
        try:
            import tiktoken_reference
            _reference[name] = tiktoken_reference.encoding(name)
        except Exception:  # not installed: the target still checks everything else
            _reference[name] = None
    return _reference[name]


def tokens_target(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(header_of(data))
    name = ENCODINGS[fdp.ConsumeIntInRange(0, 3)]
    size = fdp.ConsumeIntInRange(1, 12)
    mode = fdp.ConsumeIntInRange(0, 255)
    text = text_of(mode, data[HEADER:])
    key = (name, size)
    if key not in _token_chunkers:
        _token_chunkers[key] = slivr.TokenChunker(size, 0, name)
    chunker = _token_chunkers[key]
    count = call_text_method(chunker, "count_tokens", text)
    if count is None:
        return
    reference = reference_encoding(name)
    if reference is not None:
        assert count == len(reference.encode_ordinary(text)), (name, text)
    docs = call_text_method(chunker, "chunk", text)
    if docs is None:
        return
    # Windows without overlap tile the text: only white space lies between the chunks.
    position = 0
    for d in docs:
        start = text.find(d.content, position)
        assert start >= 0 and catalog.is_blank(text[position:start]), (d.content, text)
        position = start + len(d.content)
    assert catalog.is_blank(text[position:])
    assert sum(d.metadata["token_count"] for d in docs) <= count


def pdf_seeds() -> list[bytes]:
    import pdfgen
    return [
        pdfgen.make_pdf(["Hello from page one.\nA second line.", "", "Page three: café, 日本語, 🙂"]),
        pdfgen.make_pdf(["plain text only"], compress=False),
        pdfgen.make_pdf(["one", "two\n", "three"]),
        pdfgen.make_pdf([]),
        pdfgen.make_pdf(["Ünïcödé " * 20 + "\n" + "(paren) \\ back" * 5]),
    ]


PDF_SEEDS = pdf_seeds() if catalog.has_pdf() else []


def pdf_target(data: bytes) -> None:
    if not catalog.has_pdf():
        return
    loader = slivr.PDFLoader()
    # A leading 0x00 splices the rest of the input into a valid PDF as byte edits, so that most
    # inputs get past the header and the cross-reference table; otherwise the input is the PDF.
    if data[:1] == b"\x00" and len(data) > 3:
        pdf = bytearray(PDF_SEEDS[data[1] % len(PDF_SEEDS)])
        for i in range(2, len(data) - 2, 3):
            pdf[int.from_bytes(data[i:i + 2], "little") % len(pdf)] = data[i + 2]
        pdf = bytes(pdf)
    else:
        pdf = data
    for method in catalog.PDF_BYTES_METHODS:
        try:
            result = getattr(loader, method)(pdf)
        except ValueError as e:
            catalog.check_error(e)
            assert str(e).startswith("Document parse error: ")
            continue
        if method == "load_from_bytes":
            assert isinstance(result, str)
        elif method == "load_document_from_bytes":
            check_documents([result])
            assert set(result.metadata) == {"total_pages"}
        else:
            check_documents(result)
            assert [d.metadata["page_number"] for d in result] == list(range(1, len(result) + 1))
    if len(data) % 7 == 0:  # now and then through a file, too
        with tempfile.TemporaryDirectory(prefix="slivr-fuzz-pdf-") as directory:
            path = os.path.join(directory, "input.pdf")
            with open(path, "wb") as f:
                f.write(pdf)
            for call in [getattr(loader, m) for m in catalog.PDF_PATH_METHODS] + catalog.pdf_functions():
                try:
                    call(path)
                except ValueError as e:
                    assert str(e).startswith("Document parse error: "), e


class Boom(Exception):
    pass


class BadIndex:
    def __index__(self):
        raise Boom()


class WrongIndex:
    def __index__(self):
        return "seven"


class BadFloat:
    def __float__(self):
        raise Boom()


class BigIndex:
    def __index__(self):
        return 2**70


class StrSub(str):
    pass


class IntSub(int):
    pass


class LyingSequence:
    """Claims a length its __getitem__ does not honour."""

    def __len__(self):
        return 5

    def __getitem__(self, i):
        if i >= 2:
            raise Boom()
        return "text"


class EndlessSequence:
    def __len__(self):
        return 3

    def __getitem__(self, i):
        if i > 10:
            raise IndexError
        return "more text"


def odd_values():
    return [None, True, -1, 2**64, 2**64 - 1, 1.5, float("nan"), "7", b"7", [], [1], ["a", 1], ("a", "b"),
            BadIndex(), WrongIndex(), BadFloat(), BigIndex(), IntSub(5), StrSub("python"), "a\ud800",
            LyingSequence(), EndlessSequence(), {"a": 1}, object(), slivr.Document("doc"), "text", 3,
            (i for i in range(2)), ["\ud800"], [slivr.Document("d"), "x"]]


ODD = odd_values()
ALLOWED = (TypeError, OverflowError, ValueError, Boom, UnicodeEncodeError, IndexError)


def args_target(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(data)
    entries = catalog.present()
    entry = entries[fdp.ConsumeIntInRange(0, len(entries) - 1)]
    kwargs = {}
    for p in entry.params:
        choice = fdp.ConsumeIntInRange(0, 3)
        if choice == 0:
            kwargs[p.name] = fdp.PickValueInList(ODD)
        elif choice == 1:
            kwargs[p.name] = entry.typical.get(p.name, p.fuzz_value(fdp))
    positional = fdp.ConsumeBool()
    try:
        if positional:
            chunker = entry.cls(*[kwargs.get(p.name, entry.typical.get(p.name)) for p in entry.params
                                  if p.name in kwargs or p.name in entry.typical])
        else:
            chunker = entry.cls(**kwargs)
    except ALLOWED as e:
        if type(e) is ValueError:
            catalog.check_error(e)
        return
    for method in ("chunk", "chunk_documents", "par_chunk_texts", "par_chunk_documents") + entry.text_methods:
        arg = fdp.PickValueInList(ODD)
        try:
            result = getattr(chunker, method)(arg)
        except ALLOWED as e:
            if type(e) is ValueError:
                catalog.check_error(e)
            continue
        assert isinstance(result, (list, dict, int)), (method, type(result))


def targets() -> dict:
    table = {f"chunk-{e.name}": chunk_target(e) for e in catalog.present()}
    table.update({"batch": batch_target, "document": document_target, "args": args_target})
    if hasattr(slivr, "JsonChunker"):
        table["json"] = json_target
    if hasattr(slivr, "TokenChunker"):
        table["tokens"] = tokens_target
    if catalog.has_pdf():
        table["pdf"] = pdf_target
    return table


def main() -> None:
    if len(sys.argv) < 2 or sys.argv[1] not in targets():
        sys.exit(f"usage: harness.py TARGET [libFuzzer flags]; targets: {' '.join(targets())}")
    target = targets()[sys.argv.pop(1)]
    # Values whose __str__ raises are reported through the unraisable hook; keep the log quiet.
    sys.unraisablehook = lambda unraisable: None
    atheris.Setup(sys.argv, atheris.instrument_func(target))
    atheris.Fuzz()


if __name__ == "__main__":
    main()
