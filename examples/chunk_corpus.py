"""Chunk a folder of files into JSON Lines, one chunk a line.

    python examples/chunk_corpus.py FOLDER -o chunks.jsonl
    python examples/chunk_corpus.py FOLDER -o - --chunker sentence --option sentences_per_chunk=5

Every file below FOLDER is read (in sorted path order) and chunked by the chunker its type calls
for: Markdown by sections, source code by its language, HTML, JSON along its structure, PDF page by
page, anything else that is text by recursive separators; files that look binary are skipped.
--chunker picks one chunker for every file instead. Files are handed to the chunkers in batches,
each batch through `par_chunk_documents`, so all processors work while the output stays in file
order. A progress bar runs on stderr, and a summary closes the run.

Each output line is {"content": ..., "metadata": {...}} with keys sorted. Besides the chunker's own
keys, the metadata holds "source" (the path relative to FOLDER), "file_type", and "doc_index", the
position of the file among all files of the run (so lines do not depend on how files were
batched); PDF chunks also carry "page_number" and "total_pages", and their "chunk_index" counts
within the page.

The functions here are also the building blocks of examples/dask_corpus.py.
"""
from __future__ import annotations

import argparse
import ast
import functools
import inspect
import json
import os
import sys
import time
from collections.abc import Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import IO, Any, Protocol

import slivr


class Chunker(Protocol):
    """What every slivr chunker class offers (the four common methods)."""

    def chunk(self, text: str) -> list[slivr.Document]: ...
    def chunk_documents(self, docs: Sequence[slivr.Document]) -> list[slivr.Document]: ...
    def par_chunk_texts(self, texts: Sequence[str]) -> list[list[slivr.Document]]: ...
    def par_chunk_documents(self, docs: Sequence[slivr.Document]) -> list[slivr.Document]: ...


# The chunkers --chunker can name.
CHUNKERS: dict[str, Any] = {
    "recursive": slivr.RecursiveChunker,
    "character": slivr.CharacterChunker,
    "word": slivr.WordChunker,
    "sentence": slivr.SentenceChunker,
    "paragraph": slivr.ParagraphChunker,
    "token": slivr.TokenChunker,
    "markdown": slivr.MarkdownChunker,
    "code": slivr.CodeChunker,
    "html": slivr.HtmlChunker,
    "json": slivr.JsonChunker,
    "hierarchical": slivr.HierarchicalChunker,
    "semantic": slivr.SemanticChunker,
    "contextual": slivr.ContextualChunker,
    "query-aware": slivr.QueryAwareChunker,
    "proposition": slivr.PropositionChunker,
    "agentic": slivr.AgenticChunker,
}

# File types by extension; the code languages are CodeChunker's names.
CODE_LANGUAGES = {
    ".py": "python", ".pyi": "python", ".rs": "rust", ".go": "go", ".java": "java", ".sql": "sql",
    ".js": "javascript", ".mjs": "javascript", ".cjs": "javascript", ".jsx": "javascript",
    ".ts": "typescript", ".tsx": "typescript",
    ".c": "cpp", ".h": "cpp", ".cc": "cpp", ".cpp": "cpp", ".cxx": "cpp", ".hpp": "cpp", ".hh": "cpp",
    ".hxx": "cpp",
}
FILE_TYPES = {".md": "markdown", ".markdown": "markdown", ".html": "html", ".htm": "html",
              ".xhtml": "html", ".json": "json", ".pdf": "pdf"}
# The chunker each file type gets when --chunker is not given (PDF pages are plain text).
AUTO_CHUNKER = {"text": "recursive", "markdown": "markdown", "html": "html", "json": "json",
                "pdf": "recursive", "code": "code"}

# How much of an unknown file is read to decide whether it is text.
SNIFF_BYTES = 8192


@dataclass(frozen=True)
class SourceFile:
    path: str  # relative to the root, with "/" separators
    file_type: str  # text, markdown, code, html, json or pdf
    size: int  # bytes on disk
    language: str | None = None  # for code


@dataclass(frozen=True)
class Options:
    """How to chunk: a chunker name for every file (None: by file type), and settings."""

    chunker: str | None = None
    chunk_size: int | None = None
    overlap: int | None = None
    # Further constructor arguments by name, e.g. {"sentences_per_chunk": 5}.
    extra: tuple[tuple[str, Any], ...] = ()
    # par_chunk_documents (all processors) or chunk_documents (the calling thread only).
    parallel: bool = True


@dataclass
class Tally:
    files: int = 0
    chunks: int = 0
    bytes: int = 0

    def add(self, other: Tally) -> None:
        self.files += other.files
        self.chunks += other.chunks
        self.bytes += other.bytes


@dataclass
class BatchResult:
    """The output lines of one batch of files, in file order, and what it cost."""

    lines: list[str] = field(default_factory=list)
    by_type: dict[str, Tally] = field(default_factory=dict)
    errors: list[tuple[str, str]] = field(default_factory=list)  # (path, message)
    replaced: list[str] = field(default_factory=list)  # files that were not valid UTF-8
    chunk_seconds: float = 0.0

    def tally(self, file_type: str) -> Tally:
        return self.by_type.setdefault(file_type, Tally())

    def merge(self, other: BatchResult) -> None:
        self.lines.extend(other.lines)
        for name, t in other.by_type.items():
            self.tally(name).add(t)
        self.errors.extend(other.errors)
        self.replaced.extend(other.replaced)
        self.chunk_seconds += other.chunk_seconds


def looks_binary(path: Path) -> bool:
    with path.open("rb") as f:
        return b"\0" in f.read(SNIFF_BYTES)


def classify(path: Path) -> tuple[str, str | None] | None:
    """(file type, code language) of a file, or None for a binary file."""
    suffix = path.suffix.lower()
    if suffix in CODE_LANGUAGES:
        return "code", CODE_LANGUAGES[suffix]
    if suffix in FILE_TYPES:
        return FILE_TYPES[suffix], None
    return None if looks_binary(path) else ("text", None)


def discover(root: Path, exclude: Path | None = None) -> tuple[list[SourceFile], list[str]]:
    """The files below `root` in sorted path order, and the relative paths of skipped ones.
    `exclude` (the output file, when it lies below `root`) is left out, so a second run does not
    chunk the first run's output."""
    found: list[SourceFile] = []
    skipped: list[str] = []
    excluded = exclude.resolve() if exclude is not None else None
    paths = sorted(p for p in root.rglob("*") if p.is_file() and p.resolve() != excluded)
    for p in paths:
        rel = p.relative_to(root).as_posix()
        try:
            kind = classify(p)
        except OSError:
            kind = ("text", None)  # unreadable: reading it later reports the error
        if kind is None:
            skipped.append(rel)
        else:
            found.append(SourceFile(rel, kind[0], p.stat().st_size, kind[1]))
    return found, skipped


def plan_batches(files: Sequence[SourceFile], max_files: int, max_bytes: int) -> list[list[SourceFile]]:
    """Consecutive runs of files, each closed at `max_files` files or once it holds `max_bytes`."""
    batches: list[list[SourceFile]] = []
    current: list[SourceFile] = []
    size = 0
    for f in files:
        current.append(f)
        size += f.size
        if len(current) >= max_files or size >= max_bytes:
            batches.append(current)
            current, size = [], 0
    if current:
        batches.append(current)
    return batches


def parse_option(text: str) -> tuple[str, Any]:
    """KEY=VALUE, the value a Python literal (5, 0.5, "rust", None, ["\\n", " "]) or else a str."""
    key, sep, value = text.partition("=")
    if not sep or not key:
        raise argparse.ArgumentTypeError(f"expected KEY=VALUE, got {text!r}")
    try:
        parsed = ast.literal_eval(value)
    except (ValueError, SyntaxError):
        return key, value
    # Options are part of a cache key, so lists become tuples (chunkers take any sequence).
    return key, tuple(parsed) if isinstance(parsed, list) else parsed


def constructor_kwargs(name: str, options: Options, language: str | None) -> dict[str, Any]:
    """The keyword arguments for chunker `name`: --chunk-size and --overlap go to the parameters
    that take them (JsonChunker's size is max_size), --option values by their own names."""
    params = inspect.signature(CHUNKERS[name]).parameters
    kwargs: dict[str, Any] = {}
    if options.chunk_size is not None:
        size_param = next((p for p in ("chunk_size", "max_size") if p in params), None)
        if size_param is not None:
            kwargs[size_param] = options.chunk_size
    if options.overlap is not None and "overlap" in params:
        kwargs["overlap"] = options.overlap
    if name == "code":
        kwargs["language"] = language or "generic"
    for key, value in options.extra:
        if key not in params:
            raise ValueError(f"{CHUNKERS[name].__name__} takes no argument {key!r} "
                             f"(it takes {', '.join(params)})")
        kwargs[key] = value
    return kwargs


@functools.lru_cache(maxsize=64)
def make_chunker(name: str, options: Options, language: str | None) -> Chunker:
    """One chunker per setting and process: chunkers never change, so one serves every batch."""
    chunker: Chunker = CHUNKERS[name](**constructor_kwargs(name, options, language))
    return chunker


def chunker_for(f: SourceFile, options: Options) -> tuple[str, str | None]:
    name = options.chunker or AUTO_CHUNKER[f.file_type]
    return name, (f.language if name == "code" else None)


def read_documents(root: Path, f: SourceFile, out: BatchResult) -> list[slivr.Document]:
    """The documents of one file: one for a text file, one per page for a PDF."""
    base = {"source": f.path, "file_type": f.file_type}
    if f.language is not None:
        base["language"] = f.language
    if f.file_type == "pdf":
        pages = slivr.load_pdf_pages(str(root / f.path))
        # The loader's source is the path it was given; the relative one keeps runs comparable.
        return [slivr.Document(p.content, {**p.metadata, **base}) for p in pages]
    data = (root / f.path).read_bytes()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        text = data.decode("utf-8", errors="replace")
        out.replaced.append(f.path)
    return [slivr.Document(text, base)]


def run_chunker(chunker: Chunker, docs: list[slivr.Document], parallel: bool) -> list[slivr.Document]:
    return chunker.par_chunk_documents(docs) if parallel else chunker.chunk_documents(docs)


def chunk_group(chunker: Chunker, docs: list[slivr.Document], parallel: bool) -> list[list[slivr.Document] | str]:
    """Per document, its chunks or the error message it raised. One call for the whole group; only
    when that fails are the documents chunked one by one to find the failing ones."""
    try:
        chunks = run_chunker(chunker, docs, parallel)
    except ValueError:
        outcome: list[list[slivr.Document] | str] = []
        for doc in docs:
            try:
                outcome.append(chunker.chunk_documents([doc]))
            except ValueError as error:
                outcome.append(str(error))
        return outcome
    per_doc: list[list[slivr.Document] | str] = [[] for _ in docs]
    for c in chunks:
        chunk_list = per_doc[c.metadata["doc_index"]]
        assert isinstance(chunk_list, list)
        chunk_list.append(c)
    return per_doc


def to_line(chunk: slivr.Document, doc_index: int) -> str:
    metadata = chunk.metadata
    metadata["doc_index"] = doc_index
    return json.dumps({"content": chunk.content, "metadata": metadata}, ensure_ascii=False, sort_keys=True)


def chunk_batch(root: str, files: Sequence[SourceFile], first_index: int, options: Options) -> BatchResult:
    """Reads and chunks one batch of files; `first_index` is the position of its first file in
    the whole run. Runs anywhere the files can be read (here, or on a Dask worker)."""
    result = BatchResult()
    base = Path(root)
    # Documents of the batch grouped by the chunker they need; each entry remembers its file.
    groups: dict[tuple[str, str | None], list[tuple[int, slivr.Document]]] = {}
    per_file: list[list[list[slivr.Document] | str]] = [[] for _ in files]
    for i, f in enumerate(files):
        try:
            docs = read_documents(base, f, result)
        except (OSError, ValueError) as error:
            per_file[i].append(f"{type(error).__name__}: {error}" if isinstance(error, OSError) else str(error))
            continue
        groups.setdefault(chunker_for(f, options), []).extend((i, d) for d in docs)

    for (name, language), entries in groups.items():
        chunker = make_chunker(name, options, language)
        t0 = time.perf_counter()
        outcome = chunk_group(chunker, [d for _, d in entries], options.parallel)
        result.chunk_seconds += time.perf_counter() - t0
        for (i, _), chunks in zip(entries, outcome):
            per_file[i].append(chunks)

    for i, (f, parts) in enumerate(zip(files, per_file)):
        failures = [p for p in parts if isinstance(p, str)]
        tally = result.tally(f.file_type)
        if failures:
            result.errors.append((f.path, failures[0]))
            continue  # a file is written whole or not at all
        tally.files += 1
        tally.bytes += f.size
        for chunks in parts:
            assert isinstance(chunks, list)
            tally.chunks += len(chunks)
            result.lines.extend(to_line(c, first_index + i) for c in chunks)
    return result


def batch_starts(batches: Sequence[Sequence[SourceFile]]) -> list[int]:
    starts, n = [], 0
    for b in batches:
        starts.append(n)
        n += len(b)
    return starts


# Most chunkers check their sizes only when they chunk; one small text brings a bad setting out.
# JsonChunker gets JSON: its text fallback has a fixed overlap of 150, so small sizes fail only
# for files that are not JSON, which are then reported one by one.
PROBE = "A probe sentence for the settings. It has two sentences."
JSON_PROBE = '{"probe": "A probe sentence for the settings. It has two sentences."}'


def check_options(files: Sequence[SourceFile], options: Options) -> None:
    """Builds and tries each chunker the run needs, so a bad setting stops the run before any work."""
    for name, language in sorted({chunker_for(f, options) for f in files}, key=str):
        make_chunker(name, options, language).chunk(JSON_PROBE if name == "json" else PROBE)


def write_lines(out: IO[str], lines: Sequence[str]) -> int:
    """Writes lines and returns the number of characters written."""
    n = 0
    for line in lines:
        n += out.write(line)
        n += out.write("\n")
    return n


def summary(total: BatchResult, skipped: Sequence[str], seconds: float, label: str = "local") -> str:
    files = sum(t.files for t in total.by_type.values())
    chunks = sum(t.chunks for t in total.by_type.values())
    size = sum(t.bytes for t in total.by_type.values())
    mb = size / 1e6
    rows = [f"{'type':<10} {'files':>7} {'chunks':>9} {'MB':>9}"]
    for name in sorted(total.by_type):
        t = total.by_type[name]
        rows.append(f"{name:<10} {t.files:>7} {t.chunks:>9} {t.bytes / 1e6:>9.2f}")
    rows.append(f"{'total':<10} {files:>7} {chunks:>9} {mb:>9.2f}")
    rate = mb / seconds if seconds > 0 else float("inf")
    chunk_rate = mb / total.chunk_seconds if total.chunk_seconds > 0 else float("inf")
    rows.append(f"{files} files, {chunks} chunks, {size} bytes in {seconds:.2f} s: {rate:.1f} MB/s "
                f"({label}; chunking calls alone {total.chunk_seconds:.2f} s, {chunk_rate:.1f} MB/s)")
    if skipped:
        rows.append(f"skipped {len(skipped)} binary files: {', '.join(skipped[:5])}"
                    + (" ..." if len(skipped) > 5 else ""))
    if total.replaced:
        rows.append(f"{len(total.replaced)} files were not valid UTF-8 (bad bytes became U+FFFD): "
                    + ", ".join(total.replaced[:5]) + (" ..." if len(total.replaced) > 5 else ""))
    for path, message in total.errors:
        rows.append(f"FAILED {path}: {message}")
    return "\n".join(rows)


def argument_parser(description: str) -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("folder", type=Path, help="folder to chunk (all files below it)")
    parser.add_argument("-o", "--output", required=True, help="JSON Lines file to write ('-': stdout)")
    parser.add_argument("--chunker", choices=sorted(CHUNKERS), help="one chunker for every file "
                        "(default: by file type)")
    parser.add_argument("--chunk-size", type=int, help="the chunkers' chunk_size (JsonChunker: max_size)")
    parser.add_argument("--overlap", type=int, help="the chunkers' overlap")
    parser.add_argument("--option", type=parse_option, action="append", default=[], metavar="KEY=VALUE",
                        help="any other constructor argument, e.g. sentences_per_chunk=5 or query='event loop'")
    parser.add_argument("--batch-files", type=int, default=64, help="files per batch (default 64)")
    parser.add_argument("--batch-mb", type=float, default=8.0, help="a batch closes once it holds this many MB")
    parser.add_argument("--no-progress", action="store_true", help="no progress bar")
    return parser


def options_from(args: argparse.Namespace) -> Options:
    return Options(chunker=args.chunker, chunk_size=args.chunk_size, overlap=args.overlap,
                   extra=tuple(args.option))


@dataclass
class Job:
    """A run's inputs, prepared and checked before any chunking starts."""

    root: Path
    files: list[SourceFile]
    skipped: list[str]
    batches: list[list[SourceFile]]
    options: Options


def prepare(args: argparse.Namespace) -> Job:
    root: Path = args.folder
    if not root.is_dir():
        raise SystemExit(f"error: {root} is not a folder")
    if args.batch_files < 1 or args.batch_mb <= 0:
        raise SystemExit("error: --batch-files and --batch-mb must be positive")
    options = options_from(args)
    files, skipped = discover(root, None if args.output == "-" else Path(args.output))
    try:
        check_options(files, options)
    except (TypeError, ValueError, OverflowError) as error:
        raise SystemExit(f"error: {error}") from None
    batches = plan_batches(files, args.batch_files, int(args.batch_mb * 1e6))
    return Job(root, files, skipped, batches, options)


class open_output:
    """The output file, or stdout for '-' (left open)."""

    def __init__(self, name: str) -> None:
        self.name = name
        self.file: IO[str] | None = None

    def __enter__(self) -> IO[str]:
        if self.name == "-":
            return sys.stdout
        self.file = open(self.name, "w", encoding="utf-8")
        return self.file

    def __exit__(self, *exc: object) -> None:
        if self.file is not None:
            self.file.close()


def progress_bar(job: Job, disable: bool, desc: str) -> Any:
    from tqdm import tqdm

    return tqdm(total=sum(f.size for f in job.files), unit="B", unit_scale=True, unit_divisor=1024,
                desc=desc, disable=disable, file=sys.stderr, dynamic_ncols=True)


def run_local(job: Job, out: IO[str], progress: bool = True) -> BatchResult:
    total = BatchResult()
    with progress_bar(job, not progress, "chunking") as bar:
        for start, batch in zip(batch_starts(job.batches), job.batches):
            result = chunk_batch(str(job.root), batch, start, job.options)
            write_lines(out, result.lines)
            result.lines = []
            total.merge(result)
            bar.update(sum(f.size for f in batch))
            bar.set_postfix(files=sum(t.files for t in total.by_type.values()),
                            chunks=sum(t.chunks for t in total.by_type.values()), refresh=False)
    return total


def main(argv: Sequence[str] | None = None) -> int:
    args = argument_parser("Chunk a folder of files into JSON Lines.").parse_args(argv)
    job = prepare(args)
    t0 = time.perf_counter()
    with open_output(args.output) as out:
        total = run_local(job, out, progress=not args.no_progress)
    seconds = time.perf_counter() - t0
    print(summary(total, job.skipped, seconds, f"local, {os.cpu_count()} processors"), file=sys.stderr)
    return 1 if total.errors else 0


if __name__ == "__main__":
    sys.exit(main())
