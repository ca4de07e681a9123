"""Soak run: every class and method of slivr in a loop, watching memory and reference counts.

    python scripts/soak.py [--seconds 600]

One round builds every chunker of tests/catalog.py afresh and calls each of its methods on the
sample texts (results read back: content, metadata, to_dict, repr), makes each fail (invalid
sizes, arguments of the wrong type, lone surrogates), pickles it, builds Documents from nested
metadata (including a value whose str() raises), and loads PDFs made by examples/pdfgen.py from
bytes and from a file, intact and damaged. Rounds repeat until the time is up.

Reports the process RSS at the start, after the first rounds (when caches and the worker pool
exist) and at the end, and `sys.getrefcount` of every argument object before and after. The run
passes when no reference count changed and the RSS after warm-up stayed flat (grew by less than
16 MB and 5%).
"""
from __future__ import annotations

import argparse
import gc
import os
import pickle
import sys
import tempfile
import time
from collections import Counter
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "examples")]

import catalog  # noqa: E402
from memory import rss_mb  # noqa: E402
import slivr  # noqa: E402

WARM_UP_SECONDS = 30


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")


def read_back(result) -> None:
    """Touch every object a call returned, as a caller would."""
    if isinstance(result, slivr.Document):
        result.content, result.metadata, result.to_dict(), repr(result), len(result)
    elif isinstance(result, dict):
        for value in result.values():
            read_back(value)
    elif isinstance(result, list):
        for item in result:
            read_back(item)


class Workload:
    def __init__(self) -> None:
        self.texts = [t for t in catalog.sample_texts()]
        self.metadata = {"source": "soak", "nested": {"b": [1, 2.5, None, True], "a": "é"}, "n": 2**62,
                         "tuple": (1, 2)}
        self.docs = [slivr.Document(t, self.metadata) for t in self.texts]
        self.surrogate = "bad \ud800 text"
        self.bad_metadata = {"k": Unprintable(), "deep": [[[[{"x": -1}]]]]}
        self.calls = Counter()
        self.errors = Counter()
        self.pdf_bytes = b""
        self.pdf_path = ""
        if catalog.has_pdf():
            import pdfgen
            self.pdf_bytes = pdfgen.make_pdf(["First page.\nSecond line.", "", "Third: café 日本語 🙂"])
            self.damaged = self.pdf_bytes[: len(self.pdf_bytes) // 2]
            self.directory = tempfile.TemporaryDirectory(prefix="slivr-soak-")
            self.pdf_path = os.path.join(self.directory.name, "soak.pdf")
            Path(self.pdf_path).write_bytes(self.pdf_bytes)
            self.missing_path = os.path.join(self.directory.name, "missing.pdf")

    def arguments(self) -> dict:
        """The objects handed to the module, whose reference counts must not change."""
        objects = {"texts": self.texts, "docs": self.docs, "metadata": self.metadata,
                   "nested": self.metadata["nested"], "surrogate": self.surrogate,
                   "bad_metadata": self.bad_metadata}
        objects.update({f"text[{i}]": t for i, t in enumerate(self.texts)})
        objects.update({f"doc[{i}]": d for i, d in enumerate(self.docs)})
        if self.pdf_bytes:
            objects.update({"pdf_bytes": self.pdf_bytes, "pdf_path": self.pdf_path, "damaged": self.damaged})
        objects.update({e.name: e.cls for e in catalog.present()})
        objects["Document"] = slivr.Document
        return objects

    def call(self, label: str, fn, *args, expect=None, required=True) -> None:
        """Calls fn(*args); `expect` is the exception it must raise (or, unless `required`, may)."""
        self.calls[label] += 1
        try:
            result = fn(*args)
        except Exception as e:
            if expect is None or not isinstance(e, expect):
                raise
            self.errors[type(e).__name__] += 1
            return
        if expect is not None and required:
            raise AssertionError(f"{label} should have raised {expect}")
        read_back(result)

    def chunkers(self) -> None:
        for entry in catalog.present():
            chunker = entry.build()
            name = entry.name
            for text in self.texts:
                blank = catalog.is_blank(text)
                self.call(f"{name}.chunk", chunker.chunk, text, expect=ValueError if blank else None)
                for method in entry.text_methods:
                    fails = blank and method != "count_tokens"
                    self.call(f"{name}.{method}", getattr(chunker, method), text, expect=ValueError if fails else None)
            self.call(f"{name}.chunk_documents", chunker.chunk_documents, self.docs)
            self.call(f"{name}.par_chunk_texts", chunker.par_chunk_texts, self.texts)
            self.call(f"{name}.par_chunk_documents", chunker.par_chunk_documents, self.docs)
            self.call(f"{name}.__reduce__", lambda c: pickle.loads(pickle.dumps(c)).chunk(self.texts[0]), chunker)
            # Failures: a wrong type, a lone surrogate, and sizes of 0 (which most chunkers reject
            # when they chunk, a few when they are built, and the analytic ones adjust).
            self.call(f"{name}.chunk", chunker.chunk, 5, expect=TypeError)
            self.call(f"{name}.chunk", chunker.chunk, self.surrogate, expect=UnicodeEncodeError)
            self.call(f"{name}.par_chunk_texts", chunker.par_chunk_texts, self.texts[0], expect=TypeError)
            self.call(f"{name}.par_chunk_documents", chunker.par_chunk_documents, self.texts, expect=TypeError)
            sizes = {p.name: 0 for p in entry.params if isinstance(p, catalog.Size) and not p.optional}
            try:
                invalid = entry.cls(**{**entry.typical, **sizes})
            except ValueError:
                self.errors["ValueError"] += 1
                continue
            self.call(f"{name}.par_chunk_texts", invalid.par_chunk_texts, self.texts, expect=ValueError,
                      required=False)
            self.call(f"{name}.chunk_documents", invalid.chunk_documents, self.docs, expect=ValueError,
                      required=False)

    def documents(self) -> None:
        for text in self.texts:
            self.call("Document", slivr.Document, text, self.metadata)
        self.call("Document.__reduce__", lambda d: pickle.loads(pickle.dumps(d)), self.docs[0])
        self.call("Document", slivr.Document, "x", self.bad_metadata)
        self.call("Document", slivr.Document, self.surrogate, expect=UnicodeEncodeError)
        self.call("Document", slivr.Document, "x", {1: 2}, expect=TypeError)
        self.call("Document", slivr.Document, "x", {"big": 2**64}, expect=OverflowError)

    def pdfs(self) -> None:
        if not self.pdf_bytes:
            return
        loader = pickle.loads(pickle.dumps(slivr.PDFLoader()))
        for method in catalog.PDF_BYTES_METHODS:
            self.call(f"PDFLoader.{method}", getattr(loader, method), self.pdf_bytes)
            self.call(f"PDFLoader.{method}", getattr(loader, method), self.damaged, expect=ValueError)
        for method in catalog.PDF_PATH_METHODS:
            self.call(f"PDFLoader.{method}", getattr(loader, method), self.pdf_path)
            self.call(f"PDFLoader.{method}", getattr(loader, method), self.missing_path, expect=ValueError)
        for function in catalog.pdf_functions():
            self.call(function.__name__, function, self.pdf_path)

    def round(self) -> None:
        self.chunkers()
        self.documents()
        self.pdfs()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=float, default=600.0)
    args = parser.parse_args()
    sys.unraisablehook = lambda unraisable: None  # Unprintable's str() failure is expected

    rss_start = rss_mb()
    work = Workload()
    objects = work.arguments()
    gc.collect()
    before = {name: sys.getrefcount(obj) for name, obj in objects.items()}

    started = time.monotonic()
    warm_up = min(WARM_UP_SECONDS, args.seconds / 4)
    rounds = 0
    rss_warm = None
    samples = []
    while True:
        work.round()
        rounds += 1
        now = time.monotonic() - started
        if rss_warm is None and now >= warm_up and rounds >= 2:
            gc.collect()
            rss_warm = rss_mb()
            samples.append((now, rss_warm))
        elif rss_warm is not None and (not samples or now - samples[-1][0] >= args.seconds / 10):
            samples.append((now, rss_mb()))
        if now >= args.seconds:
            break
    gc.collect()
    rss_end = rss_mb()
    after = {name: sys.getrefcount(obj) for name, obj in objects.items()}
    changed = {name: (before[name], after[name]) for name in before if before[name] != after[name]}

    elapsed = time.monotonic() - started
    total_calls = sum(work.calls.values())
    print(f"{rounds} rounds in {elapsed:.0f} s: {total_calls} calls over {len(work.calls)} methods, "
          f"{sum(work.errors.values())} expected errors ({', '.join(f'{k} {v}' for k, v in sorted(work.errors.items()))})")
    print(f"RSS: start {rss_start:.1f} MB, after warm-up {rss_warm or rss_end:.1f} MB, end {rss_end:.1f} MB")
    print("RSS samples: " + ", ".join(f"{t:.0f}s {m:.1f}" for t, m in samples))
    print(f"reference counts of {len(before)} argument objects: "
          + ("unchanged" if not changed else f"CHANGED {changed}"))
    growth = rss_end - (rss_warm or rss_end)
    flat = growth < 16 and growth < 0.05 * (rss_warm or rss_end)
    print(f"RSS growth after warm-up: {growth:+.1f} MB ({'flat' if flat else 'GROWING'})")
    return 0 if flat and not changed else 1


if __name__ == "__main__":
    sys.exit(main())
