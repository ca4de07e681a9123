"""JsonChunker: cutting along the structure, the indented writer, and the plain-text fallback."""
import json

import pytest
from hypothesis import given, settings, strategies as st

import slivr


def dump(value):
    """The writer's format for values without floats: two-space indent, sorted keys, UTF-8 as is."""
    return json.dumps(value, indent=2, ensure_ascii=False, sort_keys=True)


def reference_chunks(value, max_size):
    """A direct transcription of the cutting rules, for values whose scalars all fit."""
    out = []

    def emit(content, path):
        out.append((content, path))

    def walk(v, path):
        text = dump(v)
        if len(text) <= max_size:
            return emit(text, path or "$")
        if isinstance(v, dict):
            for key in sorted(v):
                walk(v[key], f"$.{key}" if not path else f"{path}.{key}")
            return
        assert isinstance(v, list), "scalars are kept small"
        batch, start = [], 0
        for i, element in enumerate(v):
            if len(dump(element)) > max_size:
                if batch:
                    emit(dump(batch), f"{path}[{start}..{i}]")
                batch = []
                walk(element, f"{path}[{i}]")
                start = i + 1
                continue
            if len(dump(batch + [element])) > max_size:
                if batch:
                    emit(dump(batch), f"{path}[{start}..{i}]")
                batch, start = [element], i
            else:
                batch.append(element)
        if batch:
            emit(dump(batch), f"{path}[{start}..{len(v)}]")

    walk(value, "")
    return out


def chunks_of(text, max_size):
    return [(d.content, d.metadata["path"]) for d in slivr.JsonChunker(max_size).chunk(text)]


scalars = st.one_of(st.none(), st.booleans(), st.integers(-(2**63), 2**64 - 1),
                    st.text(st.characters(codec="utf-8"), max_size=12))
values = st.recursive(scalars, lambda inner: st.one_of(
    st.lists(inner, max_size=8), st.dictionaries(st.text(st.characters(codec="utf-8"), max_size=6), inner, max_size=6)),
    max_leaves=60)


@settings(max_examples=300, deadline=None)
@given(values, st.integers(200, 400))
def test_matches_a_transcription_of_the_rules(value, max_size):
    text = json.dumps(value, ensure_ascii=True)
    got = slivr.JsonChunker(max_size).chunk(text)
    assert [(d.content, d.metadata["path"]) for d in got] == reference_chunks(value, max_size)
    for i, d in enumerate(got):
        assert d.metadata == {"path": d.metadata["path"], "length": len(d.content.encode()), "chunk_index": i,
                              "is_json": True}


@pytest.mark.parametrize("number, written", [
    ("1.0", "1.0"), ("0.001", "0.001"), ("12.5", "12.5"), ("1e15", "1000000000000000.0"),
    ("1e16", "1e16"), ("1.5e-7", "1.5e-7"), ("-2.5e20", "-2.5e20"), ("0.0", "0.0"), ("-0.0", "-0.0"),
    ("1e-5", "0.00001"), ("9.99e-6", "9.99e-6"), ("123.456e5", "12345600.0"), ("0.1", "0.1"),
    ("1.7976931348623157e308", "1.7976931348623157e308"), ("5e-324", "5e-324"), ("-1", "-1"),
    ("18446744073709551615", "18446744073709551615"), ("18446744073709551616", "1.8446744073709552e19"),
    ("-9223372036854775808", "-9223372036854775808"), ("1E2", "100.0"),
])
def test_number_format(number, written):
    assert chunks_of(number, 1500) == [(written, "$")]


@pytest.mark.parametrize("raw, written", [
    (r'"a\"b\\c/d"', r'"a\"b\\c/d"'),
    (r'"\b\f\n\r\t"', r'"\b\f\n\r\t"'),
    (r'"\u0001\u001f\u007f\u00e9\ud83d\ude80"', '"\\u0001\\u001f\x7fé🚀"'),
    (r'"\/"', '"/"'),
])
def test_string_escapes(raw, written):
    assert chunks_of(raw, 1500) == [(written, "$")]


def test_members_sorted_and_later_duplicates_win():
    assert chunks_of('{"b": 1, "a": 2, "b": {"z": [1]}}', 1500) == [(dump({"a": 2, "b": {"z": [1]}}), "$")]


def test_oversized_object_gives_one_chunk_per_member_without_keys():
    text = json.dumps({"outer": {"k2": "v" * 10, "k1": [1, 2]}, "a": True})
    assert chunks_of(text, 25) == [("true", "$.a"), ("[\n  1,\n  2\n]", "$.outer.k1"), ('"' + "v" * 10 + '"', "$.outer.k2")]


def test_batches_cover_every_element_once_and_oversized_elements_split_them():
    value = [1, 2, 3, 4, {"big": "x" * 15, "small": 0}, 5, 6]
    got = chunks_of(json.dumps(value), 20)
    assert got == [(dump([1, 2, 3]), "[0..3]"), (dump([4]), "[3..4]"), ('"' + "x" * 15 + '"', "[4].big"),
                   ("0", "[4].small"), (dump([5, 6]), "[5..7]")]


def test_element_fitting_alone_but_not_wrapped_is_a_one_element_batch():
    element = "x" * 18  # 20 characters quoted; 26 inside "[\n  ...\n]"
    got = chunks_of(json.dumps([element, element]), 20)
    assert got == [(dump([element]), "[0..1]"), (dump([element]), "[1..2]")]


def test_oversized_scalar_goes_to_the_text_chunker_without_path():
    text = json.dumps({"long": "word " * 100, "n": 1})
    got = slivr.JsonChunker(200).chunk(text)
    pieces = [d for d in got if "path" not in d.metadata]
    assert len(pieces) > 1 and all("is_json" not in d.metadata for d in pieces)
    assert pieces[0].content.startswith('"word')
    assert got[-1].metadata == {"path": "$.n", "length": 1, "chunk_index": len(got) - 1, "is_json": True}
    assert [d.metadata["chunk_index"] for d in pieces] == list(range(len(pieces)))


def test_length_counts_bytes_while_the_limit_counts_characters():
    text = json.dumps("日" * 1000, ensure_ascii=False)
    [chunk] = slivr.JsonChunker(1002).chunk(text)
    assert chunk.metadata["length"] == 3002 and chunk.metadata["path"] == "$"


@pytest.mark.parametrize("text", [
    "[1] [2]", "{\"a\": 1} x", "{'a': 1}", "[1,]", "\ufeff[1]", "[1] \u00a0", "NaN", "[\"\\ud800\"]",
    "[" * 128 + "]" * 128, "{\"a\":" * 128 + "1" + "}" * 128,
])
def test_invalid_json_is_chunked_as_text(text):
    got = slivr.JsonChunker(1500).chunk(text)
    assert [d.content for d in got] == [d.content for d in slivr.RecursiveChunker(1500, 150).chunk(text)]
    assert all("is_json" not in d.metadata for d in got)


def test_nesting_of_127_levels_parses():
    [chunk] = slivr.JsonChunker(10**6).chunk("[" * 127 + "]" * 127)
    assert chunk.metadata["is_json"] is True


@pytest.mark.parametrize("text", ["[" * 1_000_000, '{"a":' * 1_000_000, "[" * 500_000 + "]" * 500_000])
def test_hostile_nesting_falls_back_without_crashing(text):
    chunks = slivr.JsonChunker(1500).chunk(text)
    assert "".join(c.content for c in chunks).count("[") + "".join(c.content for c in chunks).count("{") > 0


@pytest.mark.parametrize("max_size, text, message", [
    (0, '"abc"', "Invalid chunk size: 0 (must be > 0)"),
    (100, "not json " * 30, "Invalid chunk overlap: 150 (must be strictly less than chunk_size 100)"),
    (100, json.dumps({"a": "x" * 200}), "Invalid chunk overlap: 150 (must be strictly less than chunk_size 100)"),
    (100, "  \n", "Empty input text provided"),
])
def test_errors(max_size, text, message):
    with pytest.raises(ValueError) as info:
        slivr.JsonChunker(max_size).chunk(text)
    assert str(info.value) == message


def test_small_limit_still_chunks_json_whose_scalars_fit():
    assert chunks_of("[1, 2, 3]", 10) == [(dump([1]), "[0..1]"), (dump([2]), "[1..2]"), (dump([3]), "[2..3]")]
    assert chunks_of('{"a": [1, 2], "b": 3}', 13) == [(dump([1, 2]), "$.a"), ("3", "$.b")]


def test_constructor():
    assert slivr.JsonChunker.__text_signature__ == "(max_size=1500)"
    with pytest.raises(OverflowError):
        slivr.JsonChunker(-1)
    with pytest.raises(TypeError, match="argument 'max_size'"):
        slivr.JsonChunker("big")
