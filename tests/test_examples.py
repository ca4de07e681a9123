"""The corpus tools of examples/: chunk_corpus.py locally and dask_corpus.py on a Dask cluster."""
import json
import sys
from pathlib import Path

import pytest

import slivr

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
sys.path.insert(0, str(EXAMPLES))

import chunk_corpus  # noqa: E402
import pdfgen  # noqa: E402

PROSE = ("Rivers carve valleys over long spans of time. The water carries sand and stones downhill.\n\n"
         "Floods reshape the banks. Engineers build levees, and farmers plant along the edges.\n\n") * 6
MARKDOWN = "# Guide\n\nIntro text.\n\n## Install\n\n```sh\npip install x\n```\n\n## Use\n\nCall it.\n" * 3
CODE = "import os\n\n\nclass Shape:\n    def area(self):\n        return 0\n\n\ndef main():\n    print(1)\n" * 8
HTML = "<html><body><h1>Title</h1><p>First paragraph.</p><div><p>Second one.</p></div></body></html>" * 5
JSON = json.dumps({"items": [{"id": i, "name": f"item {i}", "tags": ["a", "b"]} for i in range(40)],
                  "meta": {"version": 3}})


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    root = tmp_path_factory.mktemp("corpus")
    (root / "docs").mkdir()
    (root / "docs" / "guide.md").write_text(MARKDOWN, encoding="utf-8")
    (root / "docs" / "page.html").write_text(HTML, encoding="utf-8")
    (root / "notes.txt").write_text(PROSE, encoding="utf-8")
    (root / "empty.txt").write_text("  \n", encoding="utf-8")
    (root / "shapes.py").write_text(CODE, encoding="utf-8")
    (root / "data.json").write_text(JSON, encoding="utf-8")
    (root / "latin1.txt").write_bytes("Caf\u00e9 cr\u00e8me, na\u00efve fa\u00e7ade.".encode("latin-1"))
    (root / "image.bin").write_bytes(b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR" + bytes(range(256)))
    pdfgen.write_pdf(root / "report.pdf", ["Page one talks about rivers.", "Page two is about levees."])
    return root


def run_local(folder, tmp_path, *args):
    out = tmp_path / "local.jsonl"
    code = chunk_corpus.main([str(folder), "-o", str(out), "--no-progress", *args])
    return code, out.read_text(encoding="utf-8")


def records(text):
    return [json.loads(line) for line in text.splitlines()]


def test_chunkers_by_file_type(folder, tmp_path, capsys):
    code, text = run_local(folder, tmp_path)
    assert code == 0
    rows = records(text)
    by_source = {}
    for r in rows:
        by_source.setdefault(r["metadata"]["source"], []).append(r)
    # Sorted path order; the binary file is skipped, the blank one yields no chunks.
    assert list(by_source) == ["data.json", "docs/guide.md", "docs/page.html", "latin1.txt", "notes.txt",
                               "report.pdf", "shapes.py"]
    files = ["data.json", "docs/guide.md", "docs/page.html", "empty.txt", "latin1.txt", "notes.txt",
             "report.pdf", "shapes.py"]
    for source, chunks in by_source.items():
        assert {c["metadata"]["doc_index"] for c in chunks} == {files.index(source)}

    assert all(c["metadata"]["is_json"] for c in by_source["data.json"])
    assert {tuple(c["metadata"]["headers"]) for c in by_source["docs/guide.md"]} >= {("Guide", "Install")}
    assert {c["metadata"]["format"] for c in by_source["docs/page.html"]} == {"html"}
    assert {c["metadata"]["language"] for c in by_source["shapes.py"]} == {"python"}
    assert [c["metadata"]["page_number"] for c in by_source["report.pdf"]] == [1, 2]
    assert by_source["latin1.txt"][0]["content"].startswith("Caf\ufffd cr\ufffdme")

    # The text file's chunks are exactly RecursiveChunker's, with the file's metadata added.
    expected = slivr.RecursiveChunker().chunk(PROSE)
    assert [c["content"] for c in by_source["notes.txt"]] == [d.content for d in expected]
    assert by_source["notes.txt"][0]["metadata"] == {
        **expected[0].metadata, "source": "notes.txt", "file_type": "text", "doc_index": 5}

    summary = capsys.readouterr().err
    assert f"8 files, {len(rows)} chunks" in summary
    assert "skipped 1 binary files: image.bin" in summary
    assert "1 files were not valid UTF-8" in summary and "latin1.txt" in summary


def test_output_does_not_depend_on_batching_or_parallelism(folder, tmp_path):
    _, whole = run_local(folder, tmp_path)
    _, single = run_local(folder, tmp_path, "--batch-files", "1")
    _, tiny = run_local(folder, tmp_path, "--batch-mb", "0.0001")
    assert single == whole and tiny == whole

    root = str(folder)
    files, _ = chunk_corpus.discover(folder)
    options = chunk_corpus.Options()
    sequential = chunk_corpus.chunk_batch(root, files, 0, chunk_corpus.Options(parallel=False))
    assert sequential.lines == chunk_corpus.chunk_batch(root, files, 0, options).lines
    assert "\n".join(sequential.lines) + "\n" == whole


def test_one_chunker_for_every_file(folder, tmp_path):
    code, text = run_local(folder, tmp_path, "--chunker", "word", "--chunk-size", "12", "--overlap", "2")
    assert code == 0
    rows = records(text)
    assert {r["metadata"]["source"] for r in rows} >= {"shapes.py", "docs/guide.md", "report.pdf"}
    assert all(len(r["content"].split(" ")) <= 12 for r in rows)

    code, text = run_local(folder, tmp_path, "--chunker", "sentence", "--option", "sentences_per_chunk=2",
                           "--option", "overlap=0")
    notes = [r["content"] for r in records(text) if r["metadata"]["source"] == "notes.txt"]
    assert notes == [d.content for d in slivr.SentenceChunker(2, 0).chunk(PROSE)]


@pytest.mark.parametrize("args, message", [
    (["--chunk-size", "0"], "Invalid chunk size: 0 (must be > 0)"),
    (["--chunk-size", "10", "--overlap", "10"], "Invalid chunk overlap: 10"),
    (["--chunker", "word", "--option", "size=3"], "WordChunker takes no argument 'size'"),
    (["--chunker", "query-aware"], "query"),
    (["--chunker", "json", "--chunk-size", "0"], "Invalid chunk size: 0 (must be > 0)"),
])
def test_bad_settings_stop_before_any_output(folder, tmp_path, args, message):
    out = tmp_path / "out.jsonl"
    with pytest.raises(SystemExit) as stop:
        chunk_corpus.main([str(folder), "-o", str(out), "--no-progress", *args])
    assert message in str(stop.value)
    assert not out.exists()


def test_unreadable_file_is_reported_and_the_rest_written(tmp_path, capsys):
    root = tmp_path / "in"
    root.mkdir()
    (root / "a.txt").write_text(PROSE, encoding="utf-8")
    (root / "b.pdf").write_bytes(b"%PDF-1.4 this is not really a PDF")
    (root / "c.txt").write_text("Last file. It has words.", encoding="utf-8")
    code, text = run_local(root, tmp_path)
    assert code == 1
    assert {r["metadata"]["source"] for r in records(text)} == {"a.txt", "c.txt"}
    assert "FAILED b.pdf: Document parse error: " in capsys.readouterr().err


def test_small_json_sizes_fail_only_for_files_that_need_the_text_fallback(tmp_path, capsys):
    root = tmp_path / "in"
    root.mkdir()
    (root / "a.json").write_text(JSON, encoding="utf-8")
    (root / "b.json").write_text("not json at all, so it is chunked as text " * 5, encoding="utf-8")
    code, text = run_local(root, tmp_path, "--chunk-size", "100")
    assert code == 1
    assert {r["metadata"]["source"] for r in records(text)} == {"a.json"}
    assert "FAILED b.json: Invalid chunk overlap: 150 (must be strictly less than chunk_size 100)" in \
        capsys.readouterr().err


def test_output_inside_the_folder_is_not_chunked_again(tmp_path):
    root = tmp_path / "in"
    root.mkdir()
    (root / "a.txt").write_text(PROSE, encoding="utf-8")
    out = root / "chunks.jsonl"
    runs = []
    for _ in range(2):
        assert chunk_corpus.main([str(root), "-o", str(out), "--no-progress"]) == 0
        runs.append(out.read_text(encoding="utf-8"))
    assert runs[0] == runs[1]
    assert {r["metadata"]["source"] for r in records(runs[1])} == {"a.txt"}


def test_progress_bar_reaches_the_end(folder, tmp_path, capsys):
    assert chunk_corpus.main([str(folder), "-o", str(tmp_path / "o.jsonl")]) == 0
    err = capsys.readouterr().err
    assert "chunking: 100%" in err


def test_dask_cluster_gives_the_local_output(folder, tmp_path):
    pytest.importorskip("distributed")
    import dask_corpus

    _, local = run_local(folder, tmp_path)
    out = tmp_path / "dask.jsonl"
    # Two in-process workers: no interpreter start-up per worker, no network beyond loopback.
    code = dask_corpus.main([str(folder), "-o", str(out), "--no-progress", "--workers", "2", "--threads",
                             "--batch-files", "2"])
    assert code == 0
    assert out.read_text(encoding="utf-8") == local
