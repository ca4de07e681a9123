"""HierarchicalChunker: parents and their children as pairs, as a tree, and as one flat list."""
import pytest

import slivr

PROSE = " ".join(f"Sentence number {i} talks about topic {i % 7}." for i in range(120))


def contents(chunks):
    return [c.content for c in chunks]


def child_metadata(length, index, parent_id, preview):
    return {"length": length, "chunk_index": index, "chunk_type": "child", "parent_id": parent_id,
            "child_index": index, "depth": 1, "parent_preview": preview}


@pytest.mark.parametrize("kwargs, ok", [
    ({"child_size": 2000}, False),
    ({"child_size": 2001}, False),
    ({"child_size": 1999}, True),
    ({"parent_size": 0, "child_size": 0}, False),
    ({"parent_size": 1, "child_size": 0}, True),
    ({"parent_size": 10, "child_size": 9, "parent_overlap": 50, "child_overlap": 50}, True),  # overlaps wait
])
def test_sizes_are_checked_at_construction(kwargs, ok):
    if ok:
        slivr.HierarchicalChunker(**kwargs)
        return
    with pytest.raises(ValueError) as info:
        slivr.HierarchicalChunker(**kwargs)
    assert str(info.value) == "Generic error: child_size must be smaller than parent_size"


@pytest.mark.parametrize("kwargs, text, message", [
    ({}, "", "Empty input text provided"),
    ({}, " \n\t\u3000", "Empty input text provided"),
    ({"child_size": 0}, "some text", "Invalid chunk size: 0 (must be > 0)"),
    ({"parent_overlap": 2000}, "some text", "Invalid chunk overlap: 2000 (must be strictly less than chunk_size 2000)"),
    ({"child_overlap": 400}, "some text", "Invalid chunk overlap: 400 (must be strictly less than chunk_size 400)"),
    ({"child_size": 0, "include_parents": False}, "  ", "Empty input text provided"),
])
@pytest.mark.parametrize("view", ["chunk", "chunk_hierarchical", "chunk_tree"])
def test_errors_in_every_view(kwargs, text, message, view):
    chunker = slivr.HierarchicalChunker(**kwargs)
    with pytest.raises(ValueError) as info:
        getattr(chunker, view)(text)
    assert str(info.value) == message


def test_short_text_gives_one_parent_with_one_child():
    text = "  A short note.\n"
    [pair] = slivr.HierarchicalChunker().chunk_hierarchical(text)
    assert list(pair) == ["parent", "children"]
    assert pair["parent"].content == "A short note."
    assert pair["parent"].metadata == {"length": 13, "chunk_index": 0, "chunk_type": "parent",
                                       "parent_id": "parent-0", "child_count": 1, "depth": 0}
    [child] = pair["children"]
    assert child.content == "A short note."
    assert child.metadata == child_metadata(13, 0, "parent-0", "A short note.")


def test_parents_and_children_are_the_recursive_chunks():
    chunker = slivr.HierarchicalChunker(600, 100, 150, 30)
    pairs = chunker.chunk_hierarchical(PROSE)
    parents = slivr.RecursiveChunker(600, 100).chunk(PROSE)
    assert len(pairs) == len(parents) > 3
    for p, (pair, parent) in enumerate(zip(pairs, parents)):
        assert pair["parent"].content == parent.content
        children = slivr.RecursiveChunker(150, 30).chunk(parent.content)
        assert contents(pair["children"]) == contents(children)
        assert pair["parent"].metadata == {"length": len(parent.content.encode()), "chunk_index": p,
                                           "chunk_type": "parent", "parent_id": f"parent-{p}",
                                           "child_count": len(children), "depth": 0}
        assert [c.metadata for c in pair["children"]] == [
            child_metadata(len(c.content.encode()), i, f"parent-{p}", parent.content[:100])
            for i, c in enumerate(children)]


@pytest.mark.parametrize("char, count, preview_chars", [
    ("é", 150, 100),     # two-byte characters: 100 characters are 200 bytes
    ("日", 150, 100),
    ("🚀", 120, 100),
    ("é", 99, 99),       # shorter than the preview: all of it, no ellipsis
    ("a", 100, 100),
])
def test_parent_preview_counts_characters(char, count, preview_chars):
    text = char * count
    [pair] = slivr.HierarchicalChunker(4 * count + 1, 0, 40, 0).chunk_hierarchical(text)
    assert pair["parent"].content == text
    assert {c.metadata["parent_preview"] for c in pair["children"]} == {char * preview_chars}


def test_flat_list_puts_each_parent_ahead_of_its_children():
    pairs = slivr.HierarchicalChunker(500, 50, 120, 20).chunk_hierarchical(PROSE)
    with_parents = slivr.HierarchicalChunker(500, 50, 120, 20).chunk(PROSE)
    without = slivr.HierarchicalChunker(500, 50, 120, 20, False).chunk(PROSE)
    expected = [d for pair in pairs for d in [pair["parent"], *pair["children"]]]
    assert [(d.content, d.metadata) for d in with_parents] == [(d.content, d.metadata) for d in expected]
    assert [(d.content, d.metadata) for d in without] == \
        [(d.content, d.metadata) for pair in pairs for d in pair["children"]]
    assert {d.metadata["chunk_type"] for d in without} == {"child"}


def test_excluding_parents_leaves_the_other_views_whole():
    chunker = slivr.HierarchicalChunker(500, 50, 120, 20, include_parents=False)
    assert len(chunker.chunk_hierarchical(PROSE)) == len(chunker.chunk_tree(PROSE)["children"]) > 1
    assert all(p["parent"].metadata["chunk_type"] == "parent" for p in chunker.chunk_hierarchical(PROSE))


def test_tree_ids_depths_and_key_order():
    text = "\n  " + PROSE + "  \n\n"
    chunker = slivr.HierarchicalChunker(500, 50, 120, 20)
    root = chunker.chunk_tree(text)
    pairs = chunker.chunk_hierarchical(text)
    assert list(root) == ["id", "parent_id", "depth", "document", "children"]
    assert (root["id"], root["parent_id"], root["depth"]) == ("root", None, 0)
    # The root holds the input exactly as given; the parents hold trimmed chunks.
    assert root["document"].content == text
    assert root["document"].metadata == {"chunk_type": "root", "depth": 0}
    assert len(root["children"]) == len(pairs)
    for p, (node, pair) in enumerate(zip(root["children"], pairs)):
        assert list(node) == ["id", "parent_id", "depth", "document", "children"]
        assert (node["id"], node["parent_id"], node["depth"]) == (f"parent-{p}", "root", 1)
        assert (node["document"].content, node["document"].metadata) == (pair["parent"].content,
                                                                         pair["parent"].metadata)
        assert len(node["children"]) == len(pair["children"])
        for c, (leaf, child) in enumerate(zip(node["children"], pair["children"])):
            assert (leaf["id"], leaf["parent_id"], leaf["depth"], leaf["children"]) == \
                (f"parent-{p}-child-{c}", f"parent-{p}", 2, [])
            assert (leaf["document"].content, leaf["document"].metadata) == (child.content, child.metadata)

    third_of_second = root["children"][1]["children"][2]
    assert third_of_second["id"] == "parent-1-child-2"
    assert (third_of_second["parent_id"], third_of_second["depth"]) == ("parent-1", 2)
    assert third_of_second["document"].metadata["depth"] == 1
    assert root["children"][1]["document"].metadata["depth"] == 0


def test_ids_count_in_decimal_past_ten():
    chunker = slivr.HierarchicalChunker(60, 0, 20, 0)
    root = chunker.chunk_tree(PROSE)
    assert len(root["children"]) > 11
    assert root["children"][11]["id"] == "parent-11"
    assert root["children"][11]["children"][0]["id"] == "parent-11-child-0"


def test_documents_get_positions_per_source():
    docs = [slivr.Document(PROSE[:900], {"source": "a"}), slivr.Document("   "),
            slivr.Document("tiny", {"source": "b"})]
    chunker = slivr.HierarchicalChunker(400, 0, 100, 0)
    flat = chunker.chunk_documents(docs)
    assert [d.metadata["chunk_index"] for d in flat] == list(range(len(flat) - 2)) + [0, 1]
    assert [d.metadata["doc_index"] for d in flat[-2:]] == [2, 2]
    assert [d.metadata["chunk_type"] for d in flat[-2:]] == ["parent", "child"]
    assert {d.metadata["source"] for d in flat} == {"a", "b"}
    assert [d.metadata for d in flat] == [d.metadata for d in chunker.par_chunk_documents(docs)]


@pytest.mark.parametrize("kwargs, error, message", [
    ({"include_parents": 1}, TypeError, "argument 'include_parents': 'int' object cannot be converted to 'PyBool'"),
    ({"include_parents": None}, TypeError, "argument 'include_parents'"),
    ({"child_size": "400"}, TypeError, "argument 'child_size'"),
    ({"parent_size": -1}, OverflowError, ""),
    ({"parents": True}, TypeError, "unexpected keyword argument 'parents'"),
])
def test_constructor_rejects(kwargs, error, message):
    with pytest.raises(error) as info:
        slivr.HierarchicalChunker(**kwargs)
    assert message in str(info.value)


def test_class_surface():
    cls = slivr.HierarchicalChunker
    assert cls.__text_signature__ == \
        "(parent_size=2000, parent_overlap=200, child_size=400, child_overlap=50, include_parents=True)"
    assert cls.__doc__ == ""
    assert cls.chunk_tree.__text_signature__ == "($self, text)"
    assert cls.chunk_hierarchical.__text_signature__ == "($self, text)"
    chunker = cls()
    assert chunker.chunk_tree(text="x")["document"].content == "x"
    with pytest.raises(TypeError, match="'int' object cannot be converted to 'PyString'"):
        chunker.chunk_hierarchical(5)
    with pytest.raises(TypeError):
        chunker.chunk_tree()
