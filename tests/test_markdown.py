"""MarkdownChunker: sections at headings, heading paths, fences, and re-splitting of long sections."""
import pytest
from hypothesis import given, settings, strategies as st

import slivr

# The Unicode White_Space characters, which trimming removes (str.strip() knows a different set).
WHITE_SPACE = "\t\n\v\f\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"


def nbytes(s):
    return len(s.encode())


def heading_of(line):
    """(level, title) when the line is a heading, else None."""
    stripped = line.lstrip(WHITE_SPACE)
    if not stripped.startswith("#"):
        return None
    level = len(stripped) - len(stripped.lstrip("#"))
    rest = stripped[level:]
    title = rest.lstrip(WHITE_SPACE)
    if level > 6 or (rest and rest[0] != " " and title):
        return None
    return level, title


def reference_sections(text):
    """(titles, content, has_code_block) per section, scanning the lines as plainly as possible."""
    sections, stack = [], []
    start = pos = 0
    in_fence = flag = False

    def close(end):
        if text[start:end].strip(WHITE_SPACE):
            sections.append(([t for _, t in stack], text[start:end], flag))

    for line in text.split("\n"):
        trimmed = line.strip(WHITE_SPACE)
        if trimmed.startswith("```") or trimmed.startswith("~~~"):
            in_fence, flag = not in_fence, True
        elif not in_fence and (heading := heading_of(line)):
            if pos > start:
                close(pos - 1)
                flag, start = False, pos
            while stack and stack[-1][0] >= heading[0]:
                stack.pop()
            stack.append(heading)
        pos += len(line) + 1
    if start < len(text):
        close(len(text))
    return sections


def reference_chunks(text, size, overlap):
    out = []
    for titles, content, flag in reference_sections(text):
        if nbytes(content) <= size:
            pieces = [content.strip(WHITE_SPACE)]
        else:
            pieces = [d.content for d in slivr.RecursiveChunker(size, overlap).chunk(content)]
        for piece in pieces:
            out.append((piece, {"length": nbytes(piece), "headers": titles, "header_path": " > ".join(titles),
                                "has_code_block": flag, "chunk_index": len(out)}))
    return out


def chunks_of(text, size=1000, overlap=150):
    return [(d.content, d.metadata) for d in slivr.MarkdownChunker(size, overlap).chunk(text)]


def paths(text, size=1000):
    return [(d.content, d.metadata["headers"]) for d in slivr.MarkdownChunker(size, 0).chunk(text)]


def meta(headers, length, index, code=False):
    return {"length": length, "headers": headers, "header_path": " > ".join(headers), "has_code_block": code,
            "chunk_index": index}


@pytest.mark.parametrize("text", ["", "   ", "\n\n\t", "\u3000\u00a0\n"])
def test_blank_input_is_rejected(text):
    with pytest.raises(ValueError, match="^Empty input text provided$"):
        slivr.MarkdownChunker().chunk(text)


def test_text_without_headings_is_one_chunk():
    assert chunks_of("\n  Just a paragraph.\nAnd a second line.  \n") == [
        ("Just a paragraph.\nAnd a second line.", meta([], 36, 0))]


def test_heading_paths_follow_the_stack():
    text = "Preamble line\n# A\nbody a\n## B\nbody b\n# C\nbody c\n"
    assert chunks_of(text) == [
        ("Preamble line", meta([], 13, 0)),
        ("# A\nbody a", meta(["A"], 10, 1)),
        ("## B\nbody b", meta(["A", "B"], 11, 2)),
        ("# C\nbody c", meta(["C"], 10, 3)),
    ]


def test_skipped_levels_leave_no_placeholder():
    text = "# A\n### C\n## D\n#### E\n# F"
    assert [h for _, h in paths(text)] == [["A"], ["A", "C"], ["A", "D"], ["A", "D", "E"], ["F"]]


def test_fenced_block_hides_headings_and_sets_the_flag():
    text = "# A\nintro\n```python\n# not a heading\n```\n## B\nbody"
    assert chunks_of(text) == [
        ("# A\nintro\n```python\n# not a heading\n```", meta(["A"], 39, 0, code=True)),
        ("## B\nbody", meta(["A", "B"], 9, 1)),
    ]


@pytest.mark.parametrize("opening, closing", [
    ("```", "```"),
    ("```", "~~~"),        # kinds need not match
    ("~~~~", "```"),
    ("      ```js", "`````"),  # any indentation, any info string or longer run
    ("\t~~~", "  ```  "),
])
def test_fences_of_either_kind_close_each_other(opening, closing):
    text = f"# A\n{opening}\n# inside\n{closing}\n# B\nbody"
    assert paths(text) == [(f"# A\n{opening}\n# inside\n{closing}".strip(), ["A"]), ("# B\nbody", ["B"])]


@pytest.mark.parametrize("line", ["x ```", "``", "~~", "`` `", "~ ~~"])
def test_near_fences_are_plain_text(line):
    [(_, m1), (_, m2)] = chunks_of(f"# A\n{line}\n# inside\nbody")
    assert (m1["has_code_block"], m2["headers"]) == (False, ["inside"])


def test_unclosed_fence_swallows_the_rest():
    text = "# A\n```\n# B\n## C\ntext"
    assert chunks_of(text) == [(text, meta(["A"], len(text), 0, code=True))]


def test_flag_belongs_to_the_section_holding_the_fence():
    text = "# A\n~~~\ncode\n~~~\n# B\nplain\n# C\n```\nx\n```"
    assert [m["has_code_block"] for _, m in chunks_of(text)] == [True, False, True]


@pytest.mark.parametrize("line, heading", [
    ("# Title", ["Title"]),
    ("###### Six", ["Six"]),
    ("   ### Indented", ["Indented"]),
    ("\u3000# Wide indent", ["Wide indent"]),     # the left trim is Unicode-aware
    ("#    Spaced   ", ["Spaced   "]),           # the title keeps what trails it
    ("## Closed ##", ["Closed ##"]),
    ("#", [""]),
    ("##  \t ", [""]),
    ("##\u00a0", [""]),                          # only white space after the run
    ("#Title", None),
    ("####### Seven", None),
    ("##\tTab then text", None),
    ("#\u00a0No-break space then text", None),
    ("x # not at the start", None),
])
def test_heading_recognition(line, heading):
    chunks = paths(f"intro\n{line}\nbody")
    if heading is None:
        assert chunks == [(f"intro\n{line}\nbody", [])]
    else:
        assert chunks[0] == ("intro", [])
        assert chunks[1][1] == heading


def test_crlf_titles_keep_the_carriage_return():
    text = "# A\r\nbody\r\n```\r\n# hidden\r\n```\r\n## B\r\nmore\r\n"
    assert chunks_of(text) == [
        ("# A\r\nbody\r\n```\r\n# hidden\r\n```", meta(["A\r"], 29, 0, code=True)),
        ("## B\r\nmore", meta(["A\r", "B\r"], 10, 1)),
    ]
    assert chunks_of(text)[1][1]["header_path"] == "A\r > B\r"


@pytest.mark.parametrize("text, expected", [
    ("   \n\t\n# A\nbody", [("# A\nbody", ["A"])]),     # a blank preamble is dropped
    ("# A\n\n   \n# B\nb", [("# A", ["A"]), ("# B\nb", ["B"])]),
    ("\n# A", [("# A", ["A"])]),
    ("# A\n# B\n# C", [("# A", ["A"]), ("# B", ["B"]), ("# C", ["C"])]),
    ("# A\n", [("# A", ["A"])]),
])
def test_section_boundaries(text, expected):
    assert paths(text) == expected


def test_section_size_boundary_counts_bytes():
    body = "é" * 20                           # 40 bytes
    text = f"# T\n{body}"                     # 44 bytes
    assert len(chunks_of(text, size=44, overlap=0)) == 1
    resplit = chunks_of(text, size=43, overlap=0)
    assert [c for c, _ in resplit] == ["# T", body]
    assert [m for _, m in resplit] == [meta(["T"], 3, 0), meta(["T"], 40, 1)]


def test_resplit_pieces_come_from_the_recursive_chunker_and_indexes_run_on():
    long_body = "\n\n".join(f"Paragraph {i} " + "word " * 12 for i in range(8))
    text = f"# Intro\nshort\n## Long\n```\ncode\n```\n{long_body}\n# Tail\nend"
    section = text[text.index("## Long"):text.index("\n# Tail")]
    expected_pieces = [d.content for d in slivr.RecursiveChunker(120, 30).chunk(section)]
    chunks = chunks_of(text, size=120, overlap=30)
    assert [c for c, _ in chunks] == ["# Intro\nshort", *expected_pieces, "# Tail\nend"]
    assert [m["chunk_index"] for _, m in chunks] == list(range(len(chunks)))
    # Every piece keeps the section's path and flag.
    assert all(m["headers"] == ["Intro", "Long"] and m["has_code_block"] for _, m in chunks[1:-1])
    assert chunks[-1][1]["headers"] == ["Tail"] and not chunks[-1][1]["has_code_block"]


@pytest.mark.parametrize("text, size, overlap, message", [
    ("# A\nbody", 0, 0, "Invalid chunk size: 0 (must be > 0)"),
    ("x", 0, 5, "Invalid chunk size: 0 (must be > 0)"),
    ("# A\n" + "long body " * 20, 50, 50, "Invalid chunk overlap: 50 (must be strictly less than chunk_size 50)"),
    ("# A\n" + "long body " * 20, 50, 80, "Invalid chunk overlap: 80 (must be strictly less than chunk_size 50)"),
])
def test_inner_chunker_errors(text, size, overlap, message):
    chunker = slivr.MarkdownChunker(size, overlap)   # nothing is checked here
    with pytest.raises(ValueError) as info:
        chunker.chunk(text)
    assert str(info.value) == message


def test_bad_overlap_is_harmless_while_every_section_fits():
    assert paths("# A\nshort\n# B\nshort", size=50) == [("# A\nshort", ["A"]), ("# B\nshort", ["B"])]
    assert len(slivr.MarkdownChunker(50, 500).chunk("# A\nshort\n# B\nshort")) == 2


LINES = ["# A", "## B", "### C", "#### D", "# ", "##", "#x", "####### z", "#\tt", "```", "~~~", "  ```py",
         "text", "more words here", "", "   ", "\r", "é日🚀 wide", "\u3000# W"]


@given(lines=st.lists(st.sampled_from(LINES), max_size=30), crlf=st.booleans(),
       size=st.integers(1, 60), overlap_fraction=st.floats(0, 0.99))
@settings(max_examples=300, deadline=None)
def test_agrees_with_the_plain_rules(lines, crlf, size, overlap_fraction):
    text = ("\r\n" if crlf else "\n").join(lines)
    overlap = int(size * overlap_fraction)
    chunker = slivr.MarkdownChunker(size, overlap)
    if not text.strip(WHITE_SPACE):
        with pytest.raises(ValueError):
            chunker.chunk(text)
        return
    assert [(d.content, d.metadata) for d in chunker.chunk(text)] == reference_chunks(text, size, overlap)


def test_class_surface_and_batches():
    assert slivr.MarkdownChunker.__text_signature__ == "(chunk_size=1000, overlap=150)"
    assert slivr.MarkdownChunker.__doc__ == ""
    assert len(slivr.MarkdownChunker(overlap=0, chunk_size=5).chunk("# A\nlong text")) > 1
    with pytest.raises(TypeError, match="argument 'overlap'"):
        slivr.MarkdownChunker(overlap="1")
    chunker = slivr.MarkdownChunker(60, 10)
    texts = ["# A\n" + "text " * 30 + "\n## B\nx", "  ", "plain"]
    assert [[d.metadata for d in r] for r in chunker.par_chunk_texts(texts)] == \
        [[d.metadata for d in chunker.chunk(t)] if t.strip() else [] for t in texts]
    docs = chunker.chunk_documents([slivr.Document(texts[0], {"headers": "source", "file": "a.md"})])
    # The chunker's own keys win over the source's; the others are carried over.
    assert all(d.metadata["file"] == "a.md" and isinstance(d.metadata["headers"], list) for d in docs)
