"""Every public class of slivr with the arguments its constructor takes.

The reliability checks (fuzz harnesses, property tests, soak, concurrency and scale scripts) are
written against this table rather than against particular classes, so a class added to the
module is covered by all of them once its row is here. Rows whose class the imported module does
not expose are skipped by `present()`.

Each argument is described once (`Size`, `Real`, `Name`, `Flag`, `Names`) and can produce a value
from an atheris `FuzzedDataProvider` (`fuzz_value`) or a hypothesis strategy (`strategy`). Sizes
are drawn mostly from a small range, so that a few kilobytes of text make a handful of chunks,
and now and then from the edges of the unsigned 64-bit range, where arithmetic overflows hide.
"""
from __future__ import annotations

import math
from dataclasses import dataclass

import slivr

# White space as the module understands it (the Unicode White_Space property). Python's own
# str.strip() and str.split() also treat U+001C..U+001F as white space, which the module does not.
WHITE_SPACE = (
    "\t\n\v\f\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200a"
    "\u2028\u2029\u202f\u205f\u3000"
)

SIZE_EDGES = (0, 1, 2, 3, 2**31, 2**32, 2**63 - 1, 2**63, 2**64 - 2, 2**64 - 1)
REAL_EDGES = (0.0, -0.0, 1.0, -1.0, 0.5, 50.0, 100.0, 1e-300, 1e300, -1e300, 3.5e38, 3.5e39,
              math.inf, -math.inf, math.nan)

ERROR_PREFIXES = (
    "Empty input text provided",
    "Invalid chunk size: ",
    "Invalid chunk overlap: ",
    "Tokenizer error: ",
    "Document parse error: ",
    "Generic error: ",
    "Unsupported encoding: ",
)


def trim(text: str) -> str:
    return text.strip(WHITE_SPACE)


def is_blank(text: str) -> bool:
    return not trim(text)


def check_error(error: ValueError) -> None:
    """A ValueError from the module carries one of the library's messages, nothing else."""
    message = str(error)
    assert message.startswith(ERROR_PREFIXES), f"unexpected error message: {message!r}"


# ---------------------------------------------------------------------------------------------
# Argument descriptions


@dataclass(frozen=True)
class Size:
    """An unsigned 64-bit integer argument; `optional` also admits None."""

    name: str
    high: int
    optional: bool = False

    def fuzz_value(self, fdp):
        if self.optional and fdp.ConsumeIntInRange(0, 7) == 0:
            return None
        if fdp.ConsumeIntInRange(0, 15) == 0:
            return fdp.PickValueInList(list(SIZE_EDGES))
        return fdp.ConsumeIntInRange(0, self.high)

    def strategy(self, st):
        values = st.integers(0, self.high)
        return st.none() | values if self.optional else values


@dataclass(frozen=True)
class Real:
    """A float argument: any value the interpreter converts to a 64-bit float."""

    name: str
    low: float
    high: float

    def fuzz_value(self, fdp):
        if fdp.ConsumeIntInRange(0, 7) == 0:
            return fdp.PickValueInList(list(REAL_EDGES))
        return self.low + (self.high - self.low) * fdp.ConsumeProbability()

    def strategy(self, st):
        return st.floats(self.low, self.high)


@dataclass(frozen=True)
class Name:
    """A str argument with a few meaningful values; the fuzzer also tries arbitrary text."""

    name: str
    known: tuple[str, ...]

    def fuzz_value(self, fdp):
        if fdp.ConsumeIntInRange(0, 3) == 0:
            return fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 24))
        return fdp.PickValueInList(list(self.known))

    def strategy(self, st):
        return st.sampled_from(self.known)


@dataclass(frozen=True)
class Flag:
    name: str

    def fuzz_value(self, fdp):
        return fdp.ConsumeBool()

    def strategy(self, st):
        return st.booleans()


@dataclass(frozen=True)
class Names:
    """None or a list of str (the recursive splitter's separators)."""

    name: str
    known: tuple[str, ...]

    def fuzz_value(self, fdp):
        if fdp.ConsumeIntInRange(0, 3) == 0:
            return None
        out = []
        for _ in range(fdp.ConsumeIntInRange(0, 6)):
            if fdp.ConsumeBool():
                out.append(fdp.PickValueInList(list(self.known)))
            else:
                out.append(fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 4)))
        return out

    def strategy(self, st):
        return st.none() | st.lists(st.sampled_from(self.known), max_size=5)


# ---------------------------------------------------------------------------------------------
# The classes


@dataclass(frozen=True)
class Entry:
    name: str
    params: tuple
    # Small valid arguments that make several chunks of a few hundred bytes of text.
    typical: dict
    # Methods beyond the four common ones that take one text.
    text_methods: tuple[str, ...] = ()
    # How chunk contents relate to the input: "ordered" (trimmed slices in text order), "any"
    # (slices, in no particular order) or None (built text: joined units, prefixes, JSON).
    slices: str | None = None
    # Metadata keys whose value may legitimately differ between two calls on the same input.
    unstable_keys: tuple[str, ...] = ()
    # For a text of fewer than two sentences, "length" counts the untrimmed input.
    length_of_input_when_single: bool = False

    @property
    def cls(self):
        return getattr(slivr, self.name)

    def fuzz_kwargs(self, fdp) -> dict:
        """Keyword arguments drawn by the fuzzer; each argument is left out now and then."""
        kwargs = {}
        for p in self.params:
            if isinstance(p, Name) and p.name == "query":  # the one required argument
                kwargs[p.name] = p.fuzz_value(fdp)
            elif fdp.ConsumeIntInRange(0, 5) != 0:
                kwargs[p.name] = p.fuzz_value(fdp)
        return kwargs

    def strategy(self, st):
        """A hypothesis strategy of keyword arguments (possibly invalid sizes, never bad types)."""
        return st.fixed_dictionaries({p.name: p.strategy(st) for p in self.params})

    def build(self, **overrides):
        return self.cls(**{**self.typical, **overrides})


LANGUAGES = ("rust", "rs", "python", "py", "javascript", "js", "typescript", "ts", "go", "golang",
             "cpp", "c++", "c", "java", "html", "htm", "sql", "markdown", "md", "generic", "PYTHON",
             "İ", "")
ENCODINGS = ("cl100k_base", "o200k_base", "p50k_base", "r50k_base", "GPT-4o", "gpt-3.5-turbo",
             "R50K", "cl100k-base", "gpt2", "")
SEPARATORS = ("\n\n", "\n", " ", "", ".", ", ", "\u3002", "é", "<div", "\r\n")
QUERIES = ("text", "chunk size", "the", "", "Ünïcödé words", "日本語", "a b c d e f g")

CHUNKERS: tuple[Entry, ...] = (
    Entry("RecursiveChunker",
          (Size("chunk_size", 200), Size("overlap", 100), Names("separators", SEPARATORS)),
          {"chunk_size": 64, "overlap": 16}, slices="ordered"),
    Entry("TokenChunker",
          (Size("chunk_size", 40), Size("overlap", 20), Name("encoding", ENCODINGS)),
          {"chunk_size": 16, "overlap": 4}, text_methods=("count_tokens",), slices="ordered"),
    Entry("SentenceChunker",
          (Size("sentences_per_chunk", 6), Size("overlap", 4), Size("max_characters", 200, optional=True)),
          {"sentences_per_chunk": 2, "overlap": 1}),
    Entry("ParagraphChunker",
          (Size("paragraphs_per_chunk", 5), Size("overlap", 3)),
          {"paragraphs_per_chunk": 2, "overlap": 1}),
    Entry("SemanticChunker",
          (Real("percentile", -10.0, 110.0), Size("min_size", 500), Size("max_size", 3000)),
          {"percentile": 80.0, "min_size": 20, "max_size": 200}, length_of_input_when_single=True),
    Entry("PropositionChunker",
          (Size("propositions_per_chunk", 4), Size("overlap", 3)),
          {"propositions_per_chunk": 2, "overlap": 1}),
    Entry("ContextualChunker",
          (Size("chunk_size", 300), Size("overlap", 150), Size("max_context_chars", 300)),
          {"chunk_size": 80, "overlap": 20, "max_context_chars": 60}),
    Entry("QueryAwareChunker",
          (Name("query", QUERIES), Size("hotspot_sentences", 5), Size("hotspot_overlap", 4),
           Size("context_sentences", 8), Real("relevance_threshold", -0.5, 1.5)),
          {"query": "text chunk", "hotspot_sentences": 2, "hotspot_overlap": 1, "context_sentences": 3}),
    Entry("AgenticChunker",
          (Size("min_chars", 400), Size("max_chars", 1500)),
          {"min_chars": 40, "max_chars": 200}, unstable_keys=("topic_label",)),
    Entry("HierarchicalChunker",
          (Size("parent_size", 400), Size("parent_overlap", 200), Size("child_size", 200),
           Size("child_overlap", 100), Flag("include_parents")),
          {"parent_size": 200, "parent_overlap": 20, "child_size": 60, "child_overlap": 10},
          text_methods=("chunk_tree", "chunk_hierarchical"), slices="any"),
    Entry("MarkdownChunker",
          (Size("chunk_size", 300), Size("overlap", 150)),
          {"chunk_size": 100, "overlap": 20}, slices="ordered"),
    Entry("CodeChunker",
          (Name("language", LANGUAGES), Size("chunk_size", 300), Size("overlap", 150)),
          {"language": "python", "chunk_size": 100, "overlap": 20}, slices="ordered"),
    Entry("JsonChunker", (Size("max_size", 3000),), {"max_size": 200}),
    Entry("HtmlChunker",
          (Size("chunk_size", 300), Size("overlap", 150)),
          {"chunk_size": 100, "overlap": 20}, slices="ordered"),
    Entry("CharacterChunker",
          (Size("chunk_size", 100), Size("overlap", 60)),
          {"chunk_size": 40, "overlap": 8}, slices="ordered"),
    Entry("WordChunker",
          (Size("chunk_size", 30), Size("overlap", 15)),
          {"chunk_size": 8, "overlap": 2}),
)

# The loader's methods by the kind of argument they take.
PDF_PATH_METHODS = ("load", "load_from_file", "load_document", "load_pages", "load_pages_from_file")
PDF_BYTES_METHODS = ("load_from_bytes", "load_document_from_bytes", "load_pages_from_bytes")
PDF_FUNCTIONS = ("load_pdf", "load_pdf_pages")


def sample_texts() -> list[str]:
    """A few kilobytes of mixed real-looking input: the example files plus scripts and white space
    the examples lack. Every chunker makes several chunks from most of them with `typical`."""
    from pathlib import Path

    samples = Path(__file__).resolve().parent.parent / "examples" / "samples"
    texts = [p.read_text(encoding="utf-8") for p in sorted(samples.iterdir()) if p.is_file()] if samples.is_dir() else []
    texts += [
        "日本語のテキストです。これは二番目の文です。\u3000全角スペースの後。" * 6,
        "naïve café, Äpfel und Öl. İstanbul'da ΣΑΣ ς! 😀 emoji 👩\u200d💻 here? Yes.\u00a0Done.\u2028" * 5,
        "Dr. Smith arrived at 3 p.m. on Jan. 5. He sat down... Then? He left!\n\n" * 8,
        '{"items": [' + ", ".join(f'{{"id": {i}, "name": "item {i}", "tags": ["a", "b"]}}' for i in range(40)) + "]}",
        "",
        " \n\t\u3000 ",
    ]
    return texts


def present() -> list[Entry]:
    """The rows whose class the imported module exposes."""
    return [e for e in CHUNKERS if hasattr(slivr, e.name)]


def entry(name: str) -> Entry:
    return next(e for e in CHUNKERS if e.name == name)


def has_pdf() -> bool:
    return hasattr(slivr, "PDFLoader")


def pdf_functions() -> list:
    return [getattr(slivr, f) for f in PDF_FUNCTIONS if hasattr(slivr, f)]
