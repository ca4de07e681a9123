"""The analytic chunkers (semantic, proposition, contextual, query-aware, agentic) against
SentenceChunker on the same inputs, and their scaling from 1 to 100 MB of prose.

No peer is measured here: the peers' semantic and agentic splitters call embedding or language
models, which these machines cannot reach; the reference is slivr's own SentenceChunker, which
splits the same sentences but scores nothing.
"""
from __future__ import annotations

import statistics
import time

import slivr
from harness import corpus_texts, median_time, scaled_text

TITLE = "Analytic chunkers, relative to SentenceChunker(3, 1)"
MB = 1_000_000
ROUNDS = 5


def chunkers() -> list[tuple[str, object]]:
    return [
        ("SemanticChunker()", slivr.SemanticChunker()),
        ("PropositionChunker()", slivr.PropositionChunker()),
        ("ContextualChunker()", slivr.ContextualChunker()),
        ("QueryAwareChunker('python function argument')", slivr.QueryAwareChunker("python function argument")),
        ("AgenticChunker()", slivr.AgenticChunker()),
        ("AgenticChunker(max_chars=10**9)", slivr.AgenticChunker(max_chars=10**9)),
    ]


def interleaved(fns: dict[str, object], rounds: int = ROUNDS) -> dict[str, float]:
    """Median seconds of each function, the functions taking turns in every round so that a noisy
    neighbour on the machine slows them all alike."""
    times: dict[str, list[float]] = {name: [] for name in fns}
    for _ in range(rounds):
        for name, fn in fns.items():
            t0 = time.perf_counter()
            fn()
            times[name].append(time.perf_counter() - t0)
    return {name: statistics.median(ts) for name, ts in times.items()}


def throughput(label: str, text: str) -> None:
    size = len(text.encode())
    print(f"\n  {label}  ({size / MB:.1f} MB)")
    print(f"    {'chunker':<48} {'time s':>8} {'MB/s':>8} {'chunks':>8} {'x Sentence':>11}")
    rows = [("SentenceChunker(3, 1)", slivr.SentenceChunker(3, 1))] + chunkers()
    counts = {name: len(c.chunk(text)) for name, c in rows}
    medians = interleaved({name: (lambda c=c: c.chunk(text)) for name, c in rows})
    base = medians["SentenceChunker(3, 1)"]
    for name, _ in rows:
        t = medians[name]
        print(f"    {name:<48} {t:>8.4f} {size / MB / t:>8.1f} {counts[name]:>8} {t / base:>11.2f}")


def scaling(prose: list[str]) -> None:
    print("\n  scaling on prose: seconds per size; 'ratio' is t(10x size) / (10 t(size)), 1.00 = linear")
    sizes = (1 * MB, 10 * MB, 100 * MB)
    texts = [scaled_text(prose, n) for n in sizes]
    print(f"    {'chunker':<48} " + " ".join(f"{n // MB:>5} MB" for n in sizes) + "   ratio 1->10  ratio 10->100")
    for name, c in [("SentenceChunker(3, 1)", slivr.SentenceChunker(3, 1))] + chunkers():
        times = [median_time(lambda t=t: c.chunk(t), repeats={MB: 9, 10 * MB: 5}.get(len(t), 3))[0] for t in texts]
        ratios = [times[i + 1] / (10 * times[i]) for i in range(len(times) - 1)]
        print(f"    {name:<48} " + " ".join(f"{t:>8.3f}" for t in times) +
              "".join(f"  {r:>11.2f}" for r in ratios))


def run(bench) -> None:
    prose = corpus_texts("prose") or ["The quick brown fox jumps over the lazy dog. " * 1000]
    throughput("prose corpus, 10 MB", scaled_text(prose, 10 * MB))
    multilingual = corpus_texts("multilingual")
    if multilingual:
        throughput("multilingual corpus (Chinese, Japanese, Russian)", "\n\n".join(multilingual))
    scaling(prose)
