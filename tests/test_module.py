"""The module surface, the Document class and the conversions between metadata and Python."""
import inspect
import math

import pytest

import slivr


def test_module_docstring_and_registration_order():
    assert slivr.__doc__ == "The `slivr` Python native extension module"
    table = ["Document", "RecursiveChunker", "TokenChunker", "SentenceChunker", "ParagraphChunker",
             "SemanticChunker", "PropositionChunker", "ContextualChunker", "QueryAwareChunker",
             "AgenticChunker", "HierarchicalChunker", "MarkdownChunker", "CodeChunker", "JsonChunker",
             "HtmlChunker", "CharacterChunker", "WordChunker", "PDFLoader", "load_pdf", "load_pdf_pages"]
    registered = [name for name in vars(slivr) if not name.startswith("__")]
    assert registered == table


def test_text_signatures():
    assert slivr.Document.__text_signature__ == "(content, metadata=None)"
    assert slivr.Document.__doc__ == "A document chunk holding text content and metadata"
    assert slivr.CharacterChunker.__text_signature__ == "(chunk_size=1000, overlap=200)"
    assert slivr.CharacterChunker.__doc__ == ""
    assert str(inspect.signature(slivr.CharacterChunker)) == "(chunk_size=1000, overlap=200)"
    c = slivr.CharacterChunker()
    for name, arg in [("chunk", "text"), ("chunk_documents", "docs"), ("par_chunk_texts", "texts"),
                      ("par_chunk_documents", "docs")]:
        method = getattr(slivr.CharacterChunker, name)
        assert method.__text_signature__ == f"($self, {arg})"
        assert list(inspect.signature(method).parameters) == ["self", arg]
        assert str(inspect.signature(getattr(c, name))) == f"({arg})"
    assert slivr.Document.to_dict.__text_signature__ == "($self)"


@pytest.mark.parametrize("cls", [slivr.Document, slivr.CharacterChunker])
def test_classes_cannot_be_subclassed(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("content, length, preview", [
    ("abc", 3, "abc"),
    ("é" * 5, 10, "é" * 5),
    ("line one\nline two" + "x" * 50, 67, ("line one line two" + "x" * 50)[:50]),
    ("", 0, ""),
    ("it's \"quoted\"", 13, "it's \"quoted\""),
])
def test_document_len_and_repr(content, length, preview):
    doc = slivr.Document(content)
    assert len(doc) == length
    assert repr(doc) == f"Document(content='{preview}...', len={length})"
    assert doc.content == content
    assert doc.metadata == {}


def test_document_properties_are_fresh_and_read_only():
    doc = slivr.Document(content="text", metadata={"a": [1, 2]})
    meta = doc.metadata
    meta["a"].append(3)
    meta["b"] = 1
    assert doc.metadata == {"a": [1, 2]}
    assert doc.metadata is not doc.metadata
    assert list(doc.to_dict()) == ["content", "metadata"]
    assert doc.to_dict() == {"content": "text", "metadata": {"a": [1, 2]}}
    with pytest.raises(AttributeError):
        doc.content = "other"
    with pytest.raises(AttributeError):
        doc.metadata = {}


def test_document_equality_is_identity():
    a, b = slivr.Document("x"), slivr.Document("x")
    assert a != b and a == a
    assert len({a, b}) == 2


class Unprintable:
    def __str__(self):
        raise RuntimeError("no")


class Printable:
    def __str__(self):
        return "printable!"


@pytest.mark.parametrize("value, expected", [
    (None, None),
    (True, True),
    (False, False),
    (0, 0),
    (-5, -5),
    (2**63 - 1, 2**63 - 1),
    (-(2**63), -(2**63)),
    (1.5, 1.5),
    (float("inf"), None),
    (float("-inf"), None),
    ("héllo", "héllo"),
    ([1, "a", None, [2.5]], [1, "a", None, [2.5]]),
    ({"b": 1, "a": {"d": 2, "c": 3}}, {"a": {"c": 3, "d": 2}, "b": 1}),
    ((1, 2), "(1, 2)"),
    ({1, 2}, "{1, 2}"),
    (b"x", "b'x'"),
    (Printable(), "printable!"),
])
def test_metadata_value_conversion(value, expected):
    got = slivr.Document("x", {"k": value}).metadata["k"]
    assert got == expected
    assert type(got) is type(expected)


def test_nested_keys_come_back_sorted_and_nan_is_null():
    meta = slivr.Document("x", {"o": {"b": 1, "a": 2, "c": {"z": 0, "y": 1}}, "n": math.nan}).metadata
    assert list(meta["o"]) == ["a", "b", "c"]
    assert list(meta["o"]["c"]) == ["y", "z"]
    assert meta["n"] is None


def test_unprintable_value_is_stored_with_a_placeholder():
    import sys
    seen = []
    old = sys.unraisablehook
    sys.unraisablehook = seen.append
    try:
        doc = slivr.Document("x", {"k": Unprintable()})
    finally:
        sys.unraisablehook = old
    assert doc.metadata["k"] == "<unprintable Unprintable object>"
    assert len(seen) == 1 and isinstance(seen[0].exc_value, RuntimeError)


def test_subclasses_of_dict_list_int_str_convert_as_their_base():
    class D(dict):
        pass

    class L(list):
        pass

    class I(int):
        pass

    doc = slivr.Document("x", D(k=L([I(3), "s"])))
    assert doc.metadata == {"k": [3, "s"]}


@pytest.mark.parametrize("args, kwargs, exc, message", [
    ((), {}, TypeError, "missing required argument 'content'"),
    ((1,), {}, TypeError, "argument 'content': 'int' object cannot be converted to 'PyString'"),
    (("x", [1]), {}, TypeError, "argument 'metadata': 'list' object cannot be converted to 'PyDict'"),
    (("x", {1: 2}), {}, TypeError, "'int' object cannot be converted to 'PyString'"),
    (("x", {"a": {2: 1}}), {}, TypeError, "'int' object cannot be converted to 'PyString'"),
    (("x", {"a": 2**63}), {}, OverflowError, ""),
    (("x", {"a": -(2**63) - 1}), {}, OverflowError, ""),
    (("x",), {"meta": {}}, TypeError, "unexpected keyword argument 'meta'"),
    (("x", None, 1), {}, TypeError, "takes 2 positional arguments but 3 were given"),
    (("x",), {"content": "y"}, TypeError, "multiple values for argument 'content'"),
    (("\ud800",), {}, UnicodeEncodeError, ""),
    (("x", {"a": "\udc00"}), {}, UnicodeEncodeError, ""),
])
def test_document_constructor_errors(args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        slivr.Document(*args, **kwargs)
    assert message in str(info.value)
    if exc is TypeError and "'int' object cannot be converted to 'PyString'" == message:
        assert not str(info.value).startswith("argument")


def test_deeply_nested_metadata_raises_instead_of_crashing():
    value = []
    for _ in range(100_000):
        value = [value]
    with pytest.raises(RecursionError):
        slivr.Document("x", {"deep": value})


def test_metadata_mutated_by_str_during_conversion_is_safe():
    target = [1, 2, 3]

    class Shrinks:
        def __str__(self):
            target.clear()
            return "shrunk"

    target.insert(1, Shrinks())
    assert slivr.Document("x", {"k": target}).metadata["k"] == [1, "shrunk"]
