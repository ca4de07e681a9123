"""chunk_corpus.py's job on a Dask distributed cluster: the same batches, the same output lines.

    python examples/dask_corpus.py FOLDER -o chunks.jsonl                  # a LocalCluster
    python examples/dask_corpus.py FOLDER -o chunks.jsonl --scheduler tcp://host:8786

Each batch of files becomes one task; the workers read the files themselves (so with a remote
scheduler FOLDER must be the same path on every worker, as on a shared file system) and return
the batch's JSON lines, which are written in file order as they arrive. Options are those of
chunk_corpus.py, plus the cluster's.

slivr's parallel methods already use every processor of a machine, so the best layout is one
worker with one thread per machine; that is what --workers 0 (the default for a LocalCluster)
gives here. More workers per machine only share the same processors.
"""
from __future__ import annotations

import sys
import time
from collections.abc import Iterator, Sequence
from contextlib import contextmanager
from pathlib import Path
from typing import IO

from distributed import Client, LocalCluster, as_completed

import chunk_corpus as cc

HERE = Path(__file__).resolve().parent


@contextmanager
def connect(scheduler: str | None, workers: int, processes: bool) -> Iterator[Client]:
    """A client of the given scheduler, or of a new LocalCluster that closes with it."""
    if scheduler:
        with Client(scheduler) as client:
            yield client
        return
    with LocalCluster(n_workers=max(workers, 1), threads_per_worker=1, processes=processes,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        yield client


def run_distributed(client: Client, job: cc.Job, out: IO[str], progress: bool = True) -> cc.BatchResult:
    """Submits one task per batch and writes each batch's lines once all earlier ones are written."""
    # Workers import chunk_corpus by name when they unpickle a task; ship it to them.
    client.upload_file(str(HERE / "chunk_corpus.py"))
    starts = cc.batch_starts(job.batches)
    futures = [client.submit(cc.chunk_batch, str(job.root), batch, start, job.options, pure=False)
               for start, batch in zip(starts, job.batches)]
    index = {f.key: i for i, f in enumerate(futures)}
    total = cc.BatchResult()
    ready: dict[int, cc.BatchResult] = {}
    next_to_write = 0
    with cc.progress_bar(job, not progress, "chunking (dask)") as bar:
        for future, result in as_completed(futures, with_results=True):
            i = index[future.key]
            ready[i] = result
            future.release()
            bar.update(sum(f.size for f in job.batches[i]))
            while next_to_write in ready:
                done = ready.pop(next_to_write)
                cc.write_lines(out, done.lines)
                done.lines = []
                total.merge(done)
                next_to_write += 1
            bar.set_postfix(files=sum(t.files for t in total.by_type.values()),
                            chunks=sum(t.chunks for t in total.by_type.values()), refresh=False)
    return total


def main(argv: Sequence[str] | None = None) -> int:
    parser = cc.argument_parser("Chunk a folder of files into JSON Lines on a Dask cluster.")
    parser.add_argument("--scheduler", help="address of a running scheduler (default: a new LocalCluster)")
    parser.add_argument("--workers", type=int, default=0, help="LocalCluster workers (default 1)")
    parser.add_argument("--threads", action="store_true",
                        help="LocalCluster workers as threads of this process instead of processes")
    args = parser.parse_args(argv)
    job = cc.prepare(args)
    with connect(args.scheduler, args.workers, processes=not args.threads) as client:
        workers = len(client.scheduler_info()["workers"])
        t0 = time.perf_counter()
        with cc.open_output(args.output) as out:
            total = run_distributed(client, job, out, progress=not args.no_progress)
        seconds = time.perf_counter() - t0
    print(cc.summary(total, job.skipped, seconds, f"dask, {workers} workers"), file=sys.stderr)
    return 1 if total.errors else 0


if __name__ == "__main__":
    sys.exit(main())
