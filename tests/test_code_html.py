"""CodeChunker and HtmlChunker: recursive splitting with their own separator lists, and their labels."""
from pathlib import Path

import pytest

import slivr

SAMPLES = Path(__file__).resolve().parent.parent / "examples" / "samples"
FALLBACKS = ["\n\n", "\n", " ", ""]

# Each language's own separators, strongest first; the four fallbacks follow them.
SEPARATORS = {
    "rust": ["\nimpl ", "\ntrait ", "\npub fn ", "\nfn ", "\npub struct ", "\nstruct ", "\npub enum ", "\nenum ",
             "\npub mod ", "\nmod "],
    "python": ["\nclass ", "\ndef ", "\nasync def ", "\n\tdef ", "\n    def "],
    "javascript": ["\nclass ", "\nexport class ", "\nfunction ", "\nexport function ", "\nexport default ",
                   "\ninterface ", "\ntype ", "\nconst ", "\nlet "],
    "go": ["\nfunc ", "\ntype ", "\npackage ", "\nimport "],
    "cpp": ["\nclass ", "\npublic ", "\nprotected ", "\nprivate ", "\nvoid "],
    "html": ["\n<article", "\n<section", "\n<div", "\n<p", "\n<table"],
    "sql": ["\nCREATE TABLE ", "\nCREATE VIEW ", "\nSELECT ", "\nINSERT INTO ", "\nUPDATE ", "\nDELETE FROM "],
    "markdown": ["\n# ", "\n## ", "\n### ", "\n#### ", "\n##### ", "\n###### ", "```\n"],
    "generic": [],
}
SEPARATORS["typescript"] = SEPARATORS["javascript"]
SEPARATORS["java"] = SEPARATORS["cpp"]

HTML_SEPARATORS = ["\n<article", "\n<section", "\n<main", "\n<div", "\n<h1", "\n<h2", "\n<h3", "\n<h4", "\n<table",
                   "\n<ul", "\n<ol", "\n<p", "\n\n", "\n", " ", ""]


def contents(chunks):
    return [c.content for c in chunks]


def cut_at(chunker, sep):
    """Where `chunker` cuts a text holding a paragraph break and then `sep`, with room for all but one
    byte: before `sep` when `sep` outranks the paragraph break, at the break otherwise."""
    text = "x" * 10 + "\n\n" + "y" * 10 + sep + "z" * 10
    return contents(chunker(len(text) - 1).chunk(text))


def cut_before(sep):
    return ["x" * 10 + "\n\n" + "y" * 10, (sep + "z" * 10).strip()]


def cut_at_break(sep):
    return ["x" * 10, "y" * 10 + sep + "z" * 10]


@pytest.mark.parametrize("language, sep", [(lang, sep) for lang, seps in SEPARATORS.items() for sep in seps])
def test_each_language_cuts_before_its_separators(language, sep):
    assert cut_at(lambda size: slivr.CodeChunker(language, size, 0), sep) == cut_before(sep)


@pytest.mark.parametrize("language, sep", [
    ("sql", "\nselect "),            # keywords match in upper case only
    ("sql", "\nCreate Table "),
    ("python", "\n  def "),          # two spaces are not a method indent
    ("python", "def "),              # a separator starts with a line feed
    ("rust", "\npub(crate) fn "),
    ("cpp", "\nstruct "),
    ("go", "\nvar "),
    ("html", "\n<main"),             # the language's html list is not HtmlChunker's
    ("markdown", "\n#x "),
    ("markdown", "\n```"),           # the fence separator needs its line feed after the backquotes
    ("generic", "\nfn "),
    ("generic", "\nclass "),
])
def test_lookalikes_are_not_separators(language, sep):
    assert cut_at(lambda size: slivr.CodeChunker(language, size, 0), sep) == cut_at_break(sep)


@pytest.mark.parametrize("name, language", [
    ("rust", "rust"), ("RS", "rust"), ("python", "python"), ("Python", "python"), ("PY", "python"),
    ("javascript", "javascript"), ("Js", "javascript"), ("typescript", "typescript"), ("ts", "typescript"),
    ("go", "go"), ("GoLang", "go"), ("cpp", "cpp"), ("C++", "cpp"), ("c", "cpp"), ("C", "cpp"),
    ("java", "java"), ("html", "html"), ("HTM", "html"), ("sql", "sql"), ("markdown", "markdown"), ("MD", "markdown"),
    ("kotlin", "generic"), ("generic", "generic"), ("", "generic"), (" python", "generic"), ("pyth", "generic"),
    ("\u0130", "generic"),   # a capital dotted I lower-cases to two characters; still just an unknown name
])
def test_language_names(name, language):
    [chunk] = slivr.CodeChunker(name).chunk("let x = 1;")
    assert chunk.metadata == {"length": 10, "chunk_index": 0, "language": language}


def test_default_language_is_rust():
    assert slivr.CodeChunker().chunk("fn main() {}")[0].metadata["language"] == "rust"


def test_rust_functions_are_cut_at_fn():
    chunks = slivr.CodeChunker("rust", 12, 0).chunk("fn a() {}\n\nfn b() {}")
    assert [(c.content, c.metadata) for c in chunks] == [
        ("fn a() {}", {"length": 9, "chunk_index": 0, "language": "rust"}),
        ("fn b() {}", {"length": 9, "chunk_index": 1, "language": "rust"}),
    ]


def test_stronger_separator_wins():
    # Both "\nclass " and "\ndef " occur; the class boundary is tried first.
    text = "import os\n\ndef helper():\n    pass\n\nclass Thing:\n    def method(self):\n        pass\n"
    chunks = slivr.CodeChunker("python", 60, 0).chunk(text)
    assert contents(chunks) == ["import os\n\ndef helper():\n    pass",
                                "class Thing:\n    def method(self):\n        pass"]


@pytest.mark.parametrize("language", list(SEPARATORS))
@pytest.mark.parametrize("size, overlap", [(80, 0), (200, 40), (30, 29)])
def test_code_chunks_are_the_recursive_chunks_of_its_separators(language, size, overlap):
    text = (SAMPLES / "shapes.py").read_text() + (SAMPLES / "page.html").read_text()
    reference = slivr.RecursiveChunker(size, overlap, SEPARATORS[language] + FALLBACKS).chunk(text)
    chunks = slivr.CodeChunker(language, size, overlap).chunk(text)
    assert contents(chunks) == contents(reference)
    assert [c.metadata for c in chunks] == [dict(r.metadata, language=language) for r in reference]


@pytest.mark.parametrize("size, overlap", [(100, 0), (300, 50), (1200, 150), (40, 39)])
def test_html_chunks_are_the_recursive_chunks_of_its_separators(size, overlap):
    text = (SAMPLES / "page.html").read_text()
    reference = slivr.RecursiveChunker(size, overlap, HTML_SEPARATORS).chunk(text)
    chunks = slivr.HtmlChunker(size, overlap).chunk(text)
    assert contents(chunks) == contents(reference)
    assert [c.metadata for c in chunks] == [dict(r.metadata, format="html") for r in reference]


@pytest.mark.parametrize("sep", HTML_SEPARATORS[:12] + ["\n<divider", "\n<pre", "\n<param", "\n<h10", "\n<div class"])
def test_html_cuts_before_block_tags(sep):
    assert cut_at(lambda size: slivr.HtmlChunker(size, 0), sep) == cut_before(sep)


@pytest.mark.parametrize("sep", ["\n<SECTION", "\n<Div", "\n<h5", "\n<h6", "\n<li", "\n<header", "\n</div",
                                 "\n <div", "<div"])
def test_html_lookalikes_are_not_separators(sep):
    assert cut_at(lambda size: slivr.HtmlChunker(size, 0), sep) == cut_at_break(sep)


def test_html_sections_stay_whole():
    sections = [f"<section id=\"s{i}\">\n<h2>Part {i}</h2>\n<p>{'text ' * 8}</p>\n</section>" for i in range(5)]
    page = "<html>\n<body>\n" + "\n".join(sections) + "\n</body>\n</html>"
    chunks = slivr.HtmlChunker(200, 0).chunk(page)
    assert all(len(s.encode()) < 200 for s in sections) and len(page.encode()) > 200
    assert all(any(s in c.content for c in chunks) for s in sections)
    assert all(c.content.startswith(("<section", "<html")) for c in chunks)
    assert {c.metadata["format"] for c in chunks} == {"html"}


def test_minified_html_falls_back_to_blanks_and_characters():
    page = "<div><p>" + "word " * 40 + "</p><p>" + "x" * 80 + "</p></div>"
    chunks = slivr.HtmlChunker(50, 0).chunk(page)
    assert contents(chunks) == contents(slivr.RecursiveChunker(50, 0, [" ", ""]).chunk(page))
    assert max(c.metadata["length"] for c in chunks) <= 50


def test_short_html_is_one_chunk():
    text = "  <p>Hello <b>world</b></p>\n"
    assert [(c.content, c.metadata) for c in slivr.HtmlChunker().chunk(text)] == [
        ("<p>Hello <b>world</b></p>", {"length": 25, "chunk_index": 0, "format": "html"})]


@pytest.mark.parametrize("make", [
    lambda size, overlap: slivr.CodeChunker("python", size, overlap),
    lambda size, overlap: slivr.CodeChunker("nonsense", size, overlap),
    lambda size, overlap: slivr.HtmlChunker(size, overlap),
])
@pytest.mark.parametrize("text, size, overlap, message", [
    ("", 10, 0, "Empty input text provided"),
    (" \n\t\u3000", 0, 0, "Empty input text provided"),
    ("code", 0, 0, "Invalid chunk size: 0 (must be > 0)"),
    ("code", 100, 100, "Invalid chunk overlap: 100 (must be strictly less than chunk_size 100)"),
    ("code", 10, 20, "Invalid chunk overlap: 20 (must be strictly less than chunk_size 10)"),
])
def test_errors_surface_when_chunking(make, text, size, overlap, message):
    chunker = make(size, overlap)   # accepted at construction
    with pytest.raises(ValueError) as info:
        chunker.chunk(text)
    assert str(info.value) == message
    if text.strip():
        with pytest.raises(ValueError) as info:
            chunker.par_chunk_texts(["ok text", text])
        assert str(info.value) == message


@pytest.mark.parametrize("make, error, message", [
    (lambda: slivr.CodeChunker(5), TypeError, "argument 'language': 'int' object cannot be converted to 'PyString'"),
    (lambda: slivr.CodeChunker(b"py"), TypeError, "argument 'language'"),
    (lambda: slivr.CodeChunker("py", -1), OverflowError, ""),
    (lambda: slivr.CodeChunker("py", overlap=1.0), TypeError, "argument 'overlap'"),
    (lambda: slivr.CodeChunker(lang="py"), TypeError, "unexpected keyword argument 'lang'"),
    (lambda: slivr.HtmlChunker("100"), TypeError, "argument 'chunk_size'"),
    (lambda: slivr.HtmlChunker(1, 2, 3), TypeError, "takes 2 positional arguments but 3 were given"),
])
def test_constructor_rejects(make, error, message):
    with pytest.raises(error) as info:
        make()
    assert message in str(info.value)


def test_class_surface():
    assert slivr.CodeChunker.__text_signature__ == '(language="rust", chunk_size=1500, overlap=200)'
    assert slivr.HtmlChunker.__text_signature__ == "(chunk_size=1200, overlap=150)"
    assert slivr.CodeChunker.__doc__ == "" and slivr.HtmlChunker.__doc__ == ""


def test_documents_keep_the_label_over_the_source():
    docs = [slivr.Document("def f():\n    pass\n" * 40, {"language": "from source", "path": "f.py"}),
            slivr.Document("<p>" + "text " * 100 + "</p>", {"format": "from source"})]
    for chunker, key, value in [(slivr.CodeChunker("py", 100, 0), "language", "python"),
                                (slivr.HtmlChunker(100, 0), "format", "html")]:
        flat = chunker.chunk_documents(docs)
        assert {d.metadata[key] for d in flat} == {value}
        assert [d.metadata for d in flat] == [d.metadata for d in chunker.par_chunk_documents(docs)]
