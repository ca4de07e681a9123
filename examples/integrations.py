"""slivr documents in LangChain and LlamaIndex, and back.

    from integrations import to_langchain, split_langchain_documents, split_llama_index_documents

    lc_chunks = split_langchain_documents(slivr.MarkdownChunker(800, 100), loader.load())
    nodes = split_llama_index_documents(slivr.SentenceChunker(4, 1), SimpleDirectoryReader(...).load_data())

Conversions keep the text and the metadata as they are. slivr metadata holds JSON values, so a
framework document whose metadata holds other values (a tuple, a date, a custom object) arrives
in slivr with that value as its str() text; JSON values (None, bool, int, float, str, and lists
and dicts of them) go both ways unchanged. Only langchain-core or llama-index-core is imported,
and only by the functions that need it.
"""
from __future__ import annotations

from collections.abc import Iterable, Sequence
from typing import TYPE_CHECKING, Protocol

import slivr

if TYPE_CHECKING:
    from langchain_core.documents import Document as LangChainDocument
    from llama_index.core.schema import BaseNode, TextNode


class DocumentChunker(Protocol):
    """Any slivr chunker: they all have par_chunk_documents."""

    def par_chunk_documents(self, docs: Sequence[slivr.Document]) -> list[slivr.Document]: ...


# LangChain


def to_langchain(docs: Iterable[slivr.Document]) -> list[LangChainDocument]:
    """slivr documents as LangChain documents (page_content and metadata)."""
    from langchain_core.documents import Document

    return [Document(page_content=d.content, metadata=d.metadata) for d in docs]


def from_langchain(docs: Iterable[LangChainDocument]) -> list[slivr.Document]:
    """LangChain documents as slivr documents."""
    return [slivr.Document(d.page_content, dict(d.metadata)) for d in docs]


def split_langchain_documents(chunker: DocumentChunker, docs: Sequence[LangChainDocument]) -> list[LangChainDocument]:
    """Chunks LangChain documents with a slivr chunker on all processors, as a LangChain text
    splitter would: each chunk is a LangChain document with its source's metadata plus the
    chunker's keys ("doc_index" is the source's position in `docs`)."""
    return to_langchain(chunker.par_chunk_documents(from_langchain(docs)))


# LlamaIndex


def to_llama_index(docs: Iterable[slivr.Document]) -> list[TextNode]:
    """slivr documents as LlamaIndex text nodes (text and metadata)."""
    from llama_index.core.schema import TextNode

    return [TextNode(text=d.content, metadata=d.metadata) for d in docs]


def from_llama_index(nodes: Iterable[BaseNode]) -> list[slivr.Document]:
    """LlamaIndex nodes (or documents) as slivr documents: the node's own text, without the
    metadata LlamaIndex would prepend for an embedding or a prompt."""
    from llama_index.core.schema import MetadataMode

    return [slivr.Document(n.get_content(metadata_mode=MetadataMode.NONE), dict(n.metadata)) for n in nodes]


def split_llama_index_documents(chunker: DocumentChunker, docs: Sequence[BaseNode]) -> list[TextNode]:
    """Chunks LlamaIndex documents with a slivr chunker on all processors, as a LlamaIndex node
    parser would: each node carries its source's metadata plus the chunker's keys, the source's
    metadata exclusions, and a SOURCE relationship to the document it came from."""
    from llama_index.core.schema import NodeRelationship, TextNode

    chunks = chunker.par_chunk_documents(from_llama_index(docs))
    nodes = []
    for chunk in chunks:
        metadata = chunk.metadata
        source = docs[metadata["doc_index"]]
        nodes.append(TextNode(
            text=chunk.content,
            metadata=metadata,
            excluded_embed_metadata_keys=list(source.excluded_embed_metadata_keys),
            excluded_llm_metadata_keys=list(source.excluded_llm_metadata_keys),
            relationships={NodeRelationship.SOURCE: source.as_related_node_info()},
        ))
    return nodes
