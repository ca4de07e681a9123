"""Pickling and copying: documents, every chunker and the PDF loader, also into spawned processes."""
import copy
import json
import multiprocessing
import pickle

import pytest

import slivr

PROSE = ("Volcanoes form where magma reaches the surface. The volcano sent ash over the valley. "
         "In contrast, bread needs flour and yeast. Bread dough rises when yeast works, and bakers shape it. "
         "The oven, which was built in 1900, is still hot. Finally, the loaves cool on racks.\n\n") * 4
MARKDOWN = "# Guide\n\nIntro.\n\n## Install\n\n```sh\npip install slivr\n```\n\n## Use\n\n" + PROSE
CODE = "import os\n\n\nclass Shape:\n    def area(self):\n        return 0\n\n\ndef main():\n    print(1)\n" * 6
HTML = "<html><body>\n<section><p>" + PROSE.replace("\n\n", "</p>\n<p>") + "</p></section>\n</body></html>"
JSON = json.dumps({"items": [{"id": i, "name": f"item {i}", "tags": ["a", "b"]} for i in range(30)]})

# (class, constructor arguments, sample text): every chunker with settings that differ from its
# defaults, and each with its defaults.
CASES = [
    (slivr.CharacterChunker, (120, 30), PROSE),
    (slivr.RecursiveChunker, (200, 40, ["\n\n", ". ", " ", ""]), PROSE),
    (slivr.WordChunker, (25, 5), PROSE),
    (slivr.SentenceChunker, (2, 1, 80), PROSE),
    (slivr.ParagraphChunker, (1, 0), PROSE),
    (slivr.TokenChunker, (40, 8, "o200k_base"), PROSE),
    (slivr.MarkdownChunker, (150, 20), MARKDOWN),
    (slivr.CodeChunker, ("python", 120, 10), CODE),
    (slivr.HtmlChunker, (300, 30), HTML),
    (slivr.JsonChunker, (400,), JSON),
    (slivr.HierarchicalChunker, (600, 50, 150, 20, False), PROSE),
    (slivr.SemanticChunker, (40.5, 60, 300), PROSE),
    (slivr.ContextualChunker, (300, 30, 25), MARKDOWN),
    (slivr.QueryAwareChunker, ("bread yeast", 3, 1, 4, 0.05), PROSE),
    (slivr.PropositionChunker, (2, 1), PROSE),
    (slivr.AgenticChunker, (80, 400), PROSE),
]
DEFAULTS = [(cls, ("bread",) if cls is slivr.QueryAwareChunker else (), text) for cls, _, text in CASES]
ALL = CASES + DEFAULTS
IDS = [f"{cls.__name__}{'' if i < len(CASES) else '-defaults'}" for i, (cls, _, _) in enumerate(ALL)]


def values(docs):
    # A lexical topic split names one word of a set, which need not be the same word every time.
    def label(m):
        return {**m, "topic_label": "Topic on"} if m.get("topic_label", "").startswith("Topic on ") else m
    return [(d.content, label(d.metadata)) for d in docs]


def copies(obj):
    yield from (pickle.loads(pickle.dumps(obj, protocol)) for protocol in range(pickle.HIGHEST_PROTOCOL + 1))
    yield copy.copy(obj)
    yield copy.deepcopy(obj)


@pytest.mark.parametrize("cls, args, text", ALL, ids=IDS)
def test_chunker_copies_chunk_like_the_original(cls, args, text):
    original = cls(*args)
    fresh = cls(*args)
    expected = values(original.chunk(text))
    assert expected, "the sample must give chunks"
    assert values(fresh.chunk(text)) == expected
    reduced_cls, reduced_args = original.__reduce__()
    assert reduced_cls is cls and isinstance(reduced_args, tuple)
    for c in copies(original):
        assert type(c) is cls and c is not original
        assert c.__reduce__() == (cls, reduced_args)
        assert values(c.chunk(text)) == expected
    docs = [slivr.Document(text, {"source": "a"}), slivr.Document("  "), slivr.Document(text[:200], {"n": 2})]
    assert values(copy.copy(original).par_chunk_documents(docs)) == values(original.par_chunk_documents(docs))


@pytest.mark.parametrize("build, arguments", [
    (lambda: slivr.RecursiveChunker(), (1000, 200, ["\n\n", "\n", " ", ""])),
    (lambda: slivr.RecursiveChunker(separators=[]), (1000, 200, [])),
    (lambda: slivr.SentenceChunker(), (3, 1, None)),
    (lambda: slivr.TokenChunker(encoding="GPT-4"), (512, 50, "cl100k_base")),
    (lambda: slivr.CodeChunker("Kotlin"), ("generic", 1500, 200)),
    (lambda: slivr.CodeChunker("c"), ("cpp", 1500, 200)),
    (lambda: slivr.SemanticChunker(0.7), (0.699999988079071, 100, 2000)),
    # Sizes the constructor adjusts are kept as adjusted; rebuilding adjusts nothing further.
    (lambda: slivr.QueryAwareChunker("q", 0, 5, 0), ("q", 1, 0, 1, 0.1)),
    (lambda: slivr.QueryAwareChunker("q", 3, 7, 1), ("q", 3, 2, 1, 0.1)),
    (lambda: slivr.HierarchicalChunker(include_parents=True), (2000, 200, 400, 50, True)),
    (lambda: slivr.CharacterChunker(2**64 - 1, 0), (2**64 - 1, 0)),
])
def test_reduce_gives_constructor_arguments_in_canonical_form(build, arguments):
    chunker = build()
    assert chunker.__reduce__() == (type(chunker), arguments)
    assert type(chunker)(*arguments).__reduce__() == (type(chunker), arguments)


@pytest.mark.parametrize("chunker", [slivr.CharacterChunker(0, 5), slivr.WordChunker(10, 10),
                                     slivr.MarkdownChunker(0, 0)], ids=lambda c: type(c).__name__)
def test_invalid_settings_survive_a_round_trip(chunker):
    with pytest.raises(ValueError) as before:
        chunker.chunk("Some text that is long enough to need cutting.")
    for c in copies(chunker):
        with pytest.raises(ValueError, match=str(before.value).replace("(", r"\(").replace(")", r"\)")):
            c.chunk("Some text that is long enough to need cutting.")


METADATA = {"source": "caf\u00e9.txt", "page": 3, "big": 2**63 - 1, "neg": -7, "score": 0.1, "ok": True,
            "none": None, "tags": ["a", 1, 2.5, None], "nested": {"b": {"d": [1, {"e": "f"}]}, "a": []}}


@pytest.mark.parametrize("doc", [
    slivr.Document("Plain text."),
    slivr.Document("Emoji \U0001F600 and CJK \u6f22\u5b57\nsecond line", METADATA),
    slivr.Document("", {"empty": ""}),
], ids=["plain", "metadata", "empty"])
def test_document_copies_are_equal(doc):
    for c in copies(doc):
        assert type(c) is slivr.Document and c is not doc
        assert (c.content, c.metadata) == (doc.content, doc.metadata)
        assert (repr(c), len(c)) == (repr(doc), len(doc))
    assert doc.__reduce__() == (slivr.Document, (doc.content, doc.metadata))


def test_chunk_results_and_loader_pickle():
    chunks = slivr.MarkdownChunker(150, 20).chunk(MARKDOWN)
    back = pickle.loads(pickle.dumps(chunks))
    assert values(back) == values(chunks)
    loader = pickle.loads(pickle.dumps(slivr.PDFLoader()))
    assert type(loader) is slivr.PDFLoader and loader.__reduce__() == (slivr.PDFLoader, ())


def chunk_in_child(job):
    chunker, docs = job
    return chunker.par_chunk_documents(docs)


def test_chunkers_and_documents_cross_spawned_processes():
    docs = [slivr.Document(PROSE, {"source": "p"}), slivr.Document(MARKDOWN, {"source": "m", "tags": ["x"]})]
    jobs = [(cls(*args), docs) for cls, args, _ in CASES]
    with multiprocessing.get_context("spawn").Pool(2) as pool:
        results = pool.map(chunk_in_child, jobs)
    for (chunker, _), result in zip(jobs, results):
        assert values(result) == values(chunker.par_chunk_documents(docs)), type(chunker).__name__
