"""PDF text extraction, page by page: slivr against pypdf, pdfminer.six and pypdfium2's Python API.

pypdfium2 drives the same engine as slivr (PDFium), so that row measures the cost of the binding;
pypdf and pdfminer.six are pure-Python readers with their own layout analysis. Each library
produces the text of every page of the file; the "chunks/s" column counts pages.
"""
from __future__ import annotations

from harness import CORPUS

import slivr

TITLE = "PDF loading, pages per second (the chunks/s column counts pages)"


def pypdfium2_pages(path: str) -> list[str]:
    import pypdfium2 as pdfium

    pdf = pdfium.PdfDocument(path)
    try:
        texts = []
        for i in range(len(pdf)):
            page = pdf[i]
            textpage = page.get_textpage()
            texts.append(textpage.get_text_range())
            textpage.close()
            page.close()
        return texts
    finally:
        pdf.close()


def pypdf_pages(path: str) -> list[str]:
    from pypdf import PdfReader

    return [page.extract_text() for page in PdfReader(path).pages]


def pdfminer_pages(path: str) -> list[str]:
    from pdfminer.high_level import extract_pages
    from pdfminer.layout import LTTextContainer

    return ["".join(el.get_text() for el in layout if isinstance(el, LTTextContainer))
            for layout in extract_pages(path)]


PEERS = [
    # (label, function, module to check, repeats): slow pure-Python readers run fewer times.
    ("pypdfium2 (Python API, same engine)", pypdfium2_pages, "pypdfium2", 5),
    ("pypdf", pypdf_pages, "pypdf", 3),
    ("pdfminer.six", pdfminer_pages, "pdfminer", 1),
]


def run(bench) -> None:
    folder = CORPUS / "pdf"
    files = sorted(folder.glob("*.pdf")) if folder.is_dir() else []
    if not files:
        print("  no PDFs in the corpus: skipped")
        return
    rates: dict[str, list[float]] = {}
    total_pages = 0
    for file in files:
        path = str(file)
        pages = len(slivr.load_pdf_pages(path))
        total_pages += pages
        bench.case(f"{file.name}: {pages} pages", file.stat().st_size)
        seconds = bench.row("slivr load_pdf_pages", lambda: slivr.load_pdf_pages(path))
        rates.setdefault("slivr load_pdf_pages", []).append(seconds)
        data = file.read_bytes()
        loader = slivr.PDFLoader()
        bench.row("slivr PDFLoader.load_pages_from_bytes", lambda: loader.load_pages_from_bytes(data))
        for label, fn, module, repeats in PEERS:
            try:
                __import__(module)
            except ImportError:
                print(f"    {label:<44} not installed (pip install '.[bench]')")
                continue
            seconds = bench.row(label, lambda fn=fn: fn(path), repeats=repeats)
            rates.setdefault(label, []).append(seconds)

    print(f"\n  all files together ({total_pages} pages): pages per second and ratio to slivr")
    slivr_total = sum(rates["slivr load_pdf_pages"])
    for label, times in rates.items():
        if len(times) != len(files) or any(t is None for t in times):
            continue
        total = sum(times)
        print(f"    {label:<44} {total_pages / total:>9.0f} pages/s   slivr is {total / slivr_total:>6.2f}x faster")
