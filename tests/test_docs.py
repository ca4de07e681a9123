"""Every ```python block of docs/ runs, page by page, and prints what the ```output block after it says."""
import contextlib
import io
import re
from pathlib import Path

import pytest

import slivr

ROOT = Path(__file__).resolve().parent.parent
DOCS = ROOT / "docs"
PAGES = sorted(DOCS.glob("*.md"))
FENCE = re.compile(r"^(`{3,})(\S*)\s*$")


def fenced_blocks(text):
    """(info string, body, first line number) of each fenced block; a block closes at a fence of at
    least as many backticks as opened it, so ```` blocks may hold ``` lines."""
    lines = text.splitlines(keepends=True)
    blocks, i = [], 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        closing = re.compile(r"^`{%d,}\s*$" % len(m.group(1)))
        j = i + 1
        while j < len(lines) and not closing.match(lines[j]):
            j += 1
        assert j < len(lines), f"unclosed fence at line {i + 1}"
        blocks.append((m.group(2), "".join(lines[i + 1:j]), i + 1, j))
        i = j + 1
    return blocks, lines


def examples(page):
    """(code, expected output or None, line) for each python block of a page."""
    blocks, lines = fenced_blocks(page.read_text(encoding="utf-8"))
    out = []
    for k, (info, body, start, end) in enumerate(blocks):
        if info != "python":
            continue
        expected = None
        if k + 1 < len(blocks) and blocks[k + 1][0] == "output":
            between = lines[end + 1:blocks[k + 1][2] - 1]
            if all(not line.strip() for line in between):
                expected = blocks[k + 1][1]
        out.append((body, expected, start))
    return out


def required_modules(page):
    m = re.search(r"<!--\s*requires:\s*(.*?)\s*-->", page.read_text(encoding="utf-8"))
    return [name.strip() for name in m.group(1).split(",")] if m else []


def test_the_block_parser_pairs_code_with_its_output(tmp_path):
    page = tmp_path / "p.md"
    page.write_text("text\n\n````python\nx = '''\n```\n'''\n````\n\n```output\n1\n```\n\n"
                    "```python\nprint(2)\n```\nprose\n```output\nnot paired\n```\n", encoding="utf-8")
    assert examples(page) == [("x = '''\n```\n'''\n", "1\n", 3), ("print(2)\n", None, 13)]


@pytest.mark.parametrize("page", PAGES, ids=[p.name for p in PAGES])
def test_page_examples_run_and_print_what_they_say(page, monkeypatch):
    for module in required_modules(page):
        pytest.importorskip(module)
    monkeypatch.chdir(ROOT)
    # Run as a script would be, so `if __name__ == "__main__":` blocks run too.
    namespace = {"__name__": "__main__"}
    blocks = examples(page)
    assert blocks, f"{page.name} has no python example"
    for code, expected, line in blocks:
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            # Leading blank lines keep tracebacks pointing at the page's own line numbers.
            exec(compile("\n" * line + code, str(page), "exec"), namespace)
        if expected is not None:
            assert printed.getvalue() == expected, f"{page.name}, block at line {line}"


def test_every_class_and_function_has_its_section():
    text = "\n".join(p.read_text(encoding="utf-8") for p in PAGES)
    headings = set(re.findall(r"^## (\w+)$", text, re.M))
    chunkers = {name for name in dir(slivr) if name.endswith("Chunker")}
    assert len(chunkers) == 16
    assert chunkers <= headings
    for name in ("PDFLoader", "load_pdf", "load_pdf_pages", "Document"):
        assert f"`{name}" in text


def test_pages_are_linked_from_the_index_and_the_readme():
    index = (DOCS / "README.md").read_text(encoding="utf-8")
    for page in PAGES:
        if page.name != "README.md":
            assert f"]({page.name})" in index, page.name
    assert "docs/README.md" in (ROOT / "README.md").read_text(encoding="utf-8")
