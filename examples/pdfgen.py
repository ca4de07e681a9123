"""A tiny PDF writer: text pages, one line of text per line of input, no dependencies.

Enough to make test and demo files: every page is US Letter, text is set in one font at 11 pt.
When all the text fits Windows-1252 the font is the standard Helvetica; otherwise it is a
CID-keyed font whose ToUnicode map carries every character used (CJK, emoji and the like), so a
reader recovers the exact text even without the glyphs.
"""
from __future__ import annotations

import zlib
from pathlib import Path

PAGE_WIDTH, PAGE_HEIGHT = 612, 792
FONT_SIZE, LEADING, MARGIN = 11, 14, 72


def _escape(raw: bytes) -> bytes:
    return raw.replace(b"\\", b"\\\\").replace(b"(", b"\\(").replace(b")", b"\\)").replace(b"\r", b"\\r")


def _fits_winansi(text: str) -> bool:
    try:
        text.encode("cp1252")
    except UnicodeEncodeError:
        return False
    return True


class _Font:
    """Encodes lines of text for the page streams and writes the font objects."""

    def __init__(self, pages: list[str]) -> None:
        self.simple = all(_fits_winansi(p) for p in pages)
        chars = sorted({c for p in pages for c in p if c != "\n"})
        self.codes = {c: i + 1 for i, c in enumerate(chars)}  # CID 0 is .notdef

    def show(self, line: str) -> bytes:
        if self.simple:
            return b"(" + _escape(line.encode("cp1252")) + b") Tj"
        return b"<" + b"".join(b"%04X" % self.codes[c] for c in line) + b"> Tj"

    def objects(self, first: int) -> list[bytes]:
        """The font dictionary (object `first`) and the objects it refers to."""
        if self.simple:
            return [b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"]
        cmap_lines = [b"/CIDInit /ProcSet findresource begin 12 dict begin begincmap",
                      b"/CMapName /Slivr-UCS def /CMapType 2 def",
                      b"1 begincodespacerange <0000> <FFFF> endcodespacerange"]
        items = list(self.codes.items())
        for start in range(0, len(items), 100):
            block = items[start:start + 100]
            cmap_lines.append(b"%d beginbfchar" % len(block))
            for char, code in block:
                cmap_lines.append(b"<%04X> <%s>" % (code, char.encode("utf-16-be").hex().upper().encode()))
            cmap_lines.append(b"endbfchar")
        cmap_lines.append(b"endcmap CMapName currentdict /CMap defineresource pop end end")
        cmap = b"\n".join(cmap_lines)
        return [
            b"<< /Type /Font /Subtype /Type0 /BaseFont /SlivrSans /Encoding /Identity-H "
            b"/DescendantFonts [%d 0 R] /ToUnicode %d 0 R >>" % (first + 1, first + 3),
            b"<< /Type /Font /Subtype /CIDFontType2 /BaseFont /SlivrSans /CIDToGIDMap /Identity "
            b"/CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> "
            b"/FontDescriptor %d 0 R /DW 600 >>" % (first + 2),
            b"<< /Type /FontDescriptor /FontName /SlivrSans /Flags 32 /FontBBox [0 -200 1000 900] "
            b"/ItalicAngle 0 /Ascent 900 /Descent -200 /CapHeight 700 /StemV 80 >>",
            _stream(cmap, compress=False),
        ]


def _stream(data: bytes, compress: bool) -> bytes:
    if compress:
        data = zlib.compress(data)
        return b"<< /Length %d /Filter /FlateDecode >>\nstream\n%s\nendstream" % (len(data), data)
    return b"<< /Length %d >>\nstream\n%s\nendstream" % (len(data), data)


def _content(font: _Font, text: str) -> bytes:
    if not text:
        return b""
    ops = [b"BT /F1 %d Tf %d TL %d %d Td" % (FONT_SIZE, LEADING, MARGIN, PAGE_HEIGHT - MARGIN)]
    for i, line in enumerate(text.split("\n")):
        if i:
            ops.append(b"T*")
        if line:
            ops.append(font.show(line))
    ops.append(b"ET")
    return b"\n".join(ops)


def make_pdf(pages: list[str], compress: bool = True) -> bytes:
    """A PDF with one page per text; "\\n" in a text starts a new line."""
    font = _Font(pages)
    n = len(pages)
    # Objects: 1 catalog, 2 page tree, then a page and its content stream per page, then the font.
    font_first = 3 + 2 * n
    objects: list[bytes] = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % (3 + 2 * i) for i in range(n)), n),
    ]
    for i, text in enumerate(pages):
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %d %d] /Resources << /Font << /F1 %d 0 R >> >> "
                       b"/Contents %d 0 R >>" % (PAGE_WIDTH, PAGE_HEIGHT, font_first, 4 + 2 * i))
        objects.append(_stream(_content(font, text), compress))
    objects.extend(font.objects(font_first))

    out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % off for off in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


def write_pdf(path: str | Path, pages: list[str], compress: bool = True) -> Path:
    path = Path(path)
    path.write_bytes(make_pdf(pages, compress))
    return path


if __name__ == "__main__":
    import sys

    target = sys.argv[1] if len(sys.argv) > 1 else "sample.pdf"
    write_pdf(target, ["Hello from page one.\nA second line.", "", "Page three: café, 日本語, 🙂"])
    print(f"wrote {target}")
