"""TokenChunker and its byte-pair encoder against tiktoken, LangChain and chonkie.

Peers read the encodings offline: a TIKTOKEN_CACHE_DIR is filled from the shipped vocabulary files
under the names tiktoken's loader expects. chonkie is given the tiktoken Encoding object, since it
would fetch its own tokenizer files by name.

- Encoding: slivr's count_tokens against tiktoken's encode_ordinary (which also builds the list of
  ids; slivr has no public call that returns ids), one thread each. The chunks/s column holds
  tokens per second here.
- Chunking: TokenChunker(512, 50) against LangChain TokenTextSplitter(512, 50) and chonkie
  TokenChunker(512, 50), all with cl100k_base. LangChain decodes windows leniently (a character cut
  by a window turns into U+FFFD); slivr moves such cuts to the nearest character boundary.
- Construction: the first chunker of an encoding in a fresh process against tiktoken.get_encoding
  in a fresh process (both read and parse the vocabulary file).
- Worst cases: 1 MB of one letter (a single piece) and 1 MB of digits.
"""
from __future__ import annotations

import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import slivr
from harness import ROOT, corpus_texts, scaled_text

sys.path.insert(0, str(ROOT / "tests"))
import tiktoken_reference as ref  # noqa: E402

TITLE = "TokenChunker and the byte-pair encoder against tiktoken, LangChain and chonkie"
MB = 1_000_000


def offline_tiktoken() -> None:
    cache = Path(tempfile.gettempdir()) / "slivr-bench-tiktoken"
    ref.fill_tiktoken_cache(cache)
    os.environ["TIKTOKEN_CACHE_DIR"] = str(cache)


def fresh_process_seconds(code: str, runs: int = 5) -> float:
    """Median of the time a fresh interpreter reports for `code` (which prints its own timing)."""
    times = []
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                             env=dict(os.environ))
        times.append(float(out.stdout.strip()))
    return statistics.median(times)


def construction(name: str) -> None:
    ours = fresh_process_seconds(
        "import time, slivr\n"
        f"t = time.perf_counter(); slivr.TokenChunker(encoding={name!r}); print(time.perf_counter() - t)")
    theirs = fresh_process_seconds(
        "import time, tiktoken\n"
        f"t = time.perf_counter(); tiktoken.get_encoding({name!r}); print(time.perf_counter() - t)")
    print(f"    {name:<12} slivr {ours * 1000:8.1f} ms   tiktoken.get_encoding {theirs * 1000:8.1f} ms"
          f"   ratio {theirs / ours:6.1f}x")


def encode_cases(bench, texts: dict[str, str]) -> None:
    import tiktoken

    for name in ref.ENCODINGS:
        chunker = slivr.TokenChunker(encoding=name)
        enc = tiktoken.get_encoding(name)
        for label, text in texts.items():
            bench.case(f"encode {label} with {name}", len(text.encode()))
            bench.row("slivr TokenChunker.count_tokens", lambda: chunker.count_tokens(text), count=lambda n: n)
            bench.row("tiktoken encode_ordinary", lambda: enc.encode_ordinary(text), count=len)


def chunk_cases(bench, texts: dict[str, str]) -> None:
    import tiktoken

    peers = []
    try:
        from langchain_text_splitters import TokenTextSplitter
        splitter = TokenTextSplitter(encoding_name="cl100k_base", chunk_size=512, chunk_overlap=50)
        peers.append(("langchain TokenTextSplitter", splitter.split_text, "cl100k_base, 512, overlap 50"))
    except ImportError:
        peers.append(("langchain TokenTextSplitter", None, ""))
    try:
        from chonkie import TokenChunker
        chonkie = TokenChunker(tokenizer=tiktoken.get_encoding("cl100k_base"), chunk_size=512, chunk_overlap=50)
        peers.append(("chonkie TokenChunker", chonkie.chunk, "tiktoken cl100k_base, 512, overlap 50"))
    except ImportError:
        peers.append(("chonkie TokenChunker", None, ""))

    chunker = slivr.TokenChunker(512, 50)
    for label, text in texts.items():
        bench.case(f"chunk {label}, 512 tokens, overlap 50", len(text.encode()))
        base = bench.row("slivr TokenChunker.chunk", lambda: chunker.chunk(text))
        best_peer = None
        for peer_name, fn, note in peers:
            if fn is None:
                print(f"    {peer_name:<44} not installed")
                continue
            seconds = bench.row(peer_name, lambda: fn(text), note=note)
            if seconds is not None:
                best_peer = seconds if best_peer is None else min(best_peer, seconds)
        if base and best_peer:
            print(f"    slivr is {best_peer / base:.1f}x faster than the fastest peer")


def worst_cases() -> None:
    import tiktoken

    inputs = {"1 MB of 'a'": "a" * MB, "1 MB of digits": "".join(str(i % 10) for i in range(MB))}
    for label, text in inputs.items():
        for name in ref.ENCODINGS:
            chunker = slivr.TokenChunker(512, 50, name)
            enc = tiktoken.get_encoding(name)
            t0 = time.perf_counter()
            n = chunker.count_tokens(text)
            t1 = time.perf_counter()
            chunks = chunker.chunk(text)
            t2 = time.perf_counter()
            theirs = enc.encode_ordinary(text)
            t3 = time.perf_counter()
            assert len(theirs) == n
            print(f"    {label:<16} {name:<12} {n:>8} tokens  count_tokens {t1 - t0:6.3f} s  "
                  f"chunk {t2 - t1:6.3f} s ({len(chunks)} chunks)  tiktoken {t3 - t2:6.3f} s")


def run(bench) -> None:
    offline_tiktoken()
    prose = "\n\n".join(corpus_texts("prose")) or "The quick brown fox jumps over the lazy dog. " * 50_000
    code = "\n\n".join(corpus_texts("code"))
    multilingual = "\n\n".join(corpus_texts("multilingual"))
    texts = {"prose": prose}
    if code:
        texts["code"] = code
    if multilingual:
        texts["Chinese/Japanese/Russian"] = multilingual

    print("\n  construction (first chunker of an encoding, fresh process, median of 5)")
    for name in ref.ENCODINGS:
        construction(name)

    encode_cases(bench, texts)
    chunk_cases(bench, {"prose (10 MB)": scaled_text([prose], 10 * MB), **(
        {"Chinese/Japanese/Russian": multilingual} if multilingual else {})})

    print("\n  worst cases")
    worst_cases()
