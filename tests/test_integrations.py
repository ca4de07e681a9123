"""examples/integrations.py: slivr documents to LangChain documents and LlamaIndex nodes, and back."""
import sys
from pathlib import Path

import pytest

import slivr

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "examples"))
import integrations  # noqa: E402

# Every kind of JSON value, nested, plus a non-ASCII text.
METADATA = {"source": "guide.md", "page": 3, "score": 0.25, "draft": False, "owner": None,
            "tags": ["a", "b", 1], "nested": {"z": [1.5, {"y": True}], "a": "\u00e9t\u00e9"}, "big": 2**63 - 1}
TEXT = ("Rivers carve valleys. The water carries sand downhill. Floods reshape the banks.\n\n"
        "Engineers build levees. Farmers plant along the edges. Birds nest in the reeds.")


def slivr_docs():
    return [slivr.Document(TEXT, METADATA), slivr.Document("Short one.", {"source": "b.txt"}),
            slivr.Document("", {})]


def same(a, b):
    return [(d.content, d.metadata) for d in a] == [(d.content, d.metadata) for d in b]


def test_langchain_round_trips():
    pytest.importorskip("langchain_core")
    from langchain_core.documents import Document

    lc = integrations.to_langchain(slivr_docs())
    assert all(isinstance(d, Document) for d in lc)
    assert (lc[0].page_content, lc[0].metadata) == (TEXT, METADATA)
    assert same(integrations.from_langchain(lc), slivr_docs())

    # A value that is not JSON arrives as its text, as Document() stores it.
    back = integrations.from_langchain([Document(page_content="x", metadata={"span": (1, 2)})])
    assert back[0].metadata == {"span": "(1, 2)"}


def test_langchain_split_matches_the_chunker():
    pytest.importorskip("langchain_core")
    from langchain_core.documents import Document

    chunker = slivr.SentenceChunker(2, 0)
    lc = [Document(page_content=TEXT, metadata=METADATA), Document(page_content="   "),
          Document(page_content="One sentence. Two sentences. Three.", metadata={"source": "c"})]
    chunks = integrations.split_langchain_documents(chunker, lc)
    expected = chunker.par_chunk_documents(integrations.from_langchain(lc))
    assert [(c.page_content, c.metadata) for c in chunks] == [(d.content, d.metadata) for d in expected]
    assert {c.metadata["doc_index"] for c in chunks} == {0, 2}
    first = chunks[0].metadata
    assert {k: first[k] for k in METADATA} == METADATA
    assert first["sentence_count"] == 2


def test_llama_index_round_trips():
    pytest.importorskip("llama_index.core")
    from llama_index.core.schema import Document, TextNode

    nodes = integrations.to_llama_index(slivr_docs())
    assert all(isinstance(n, TextNode) for n in nodes)
    assert (nodes[0].text, nodes[0].metadata) == (TEXT, METADATA)
    assert same(integrations.from_llama_index(nodes), slivr_docs())

    # Only the node's text: LlamaIndex's metadata header for embeddings stays out.
    doc = Document(text="Body text.", metadata={"title": "T"})
    assert [(d.content, d.metadata) for d in integrations.from_llama_index([doc])] == [("Body text.", {"title": "T"})]


def test_llama_index_split_links_nodes_to_their_documents():
    pytest.importorskip("llama_index.core")
    from llama_index.core.schema import Document, NodeRelationship

    docs = [Document(text=TEXT, metadata=METADATA, id_="doc-a", excluded_embed_metadata_keys=["source"]),
            Document(text="One sentence. Two sentences. Three.", metadata={"source": "c"}, id_="doc-b")]
    chunker = slivr.SentenceChunker(2, 0)
    nodes = integrations.split_llama_index_documents(chunker, docs)
    expected = chunker.par_chunk_documents(integrations.from_llama_index(docs))
    assert [(n.text, n.metadata) for n in nodes] == [(d.content, d.metadata) for d in expected]
    assert [n.relationships[NodeRelationship.SOURCE].node_id for n in nodes] == \
        ["doc-a" if d.metadata["doc_index"] == 0 else "doc-b" for d in expected]
    assert [n.ref_doc_id for n in nodes][-1] == "doc-b"
    assert nodes[0].excluded_embed_metadata_keys == ["source"]
    assert {k: nodes[0].metadata[k] for k in METADATA} == METADATA
