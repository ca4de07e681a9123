"""The parallel methods of every chunker under Python threads, after fork(), and when a call fails
part-way. scripts/concurrency.py runs the same checks for a minute; these are the short form."""
import os
import signal
import sys
import threading
import time

import pytest

import catalog
import slivr

ENTRIES = catalog.present()
IDS = [e.name for e in ENTRIES]
TEXTS = catalog.sample_texts()
DEADLINE = 120  # seconds; far beyond what any of these calls needs, so only a hang trips it


def comparable(docs, unstable=()):
    return [(d.content, {k: v for k, v in d.metadata.items() if k not in unstable}) for d in docs]


def expected_results(entry, chunker):
    docs = [slivr.Document(t, {"n": i}) for i, t in enumerate(TEXTS)]
    lists = [comparable([] if catalog.is_blank(t) else chunker.chunk(t), entry.unstable_keys) for t in TEXTS]
    return docs, lists, comparable(chunker.chunk_documents(docs), entry.unstable_keys)


def run_threads(target, count):
    errors = []

    def guarded():
        try:
            target()
        except BaseException as e:  # reported by the caller
            errors.append(e)

    threads = [threading.Thread(target=guarded, daemon=True) for _ in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(DEADLINE)
    assert not any(t.is_alive() for t in threads), "a parallel call did not return (deadlock)"
    if errors:
        raise errors[0]


def wait_child(pid):
    """The child's exit code; a child that hangs is killed and fails the test."""
    deadline = time.monotonic() + DEADLINE
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    pytest.fail("the forked child did not finish (deadlock)")


@pytest.mark.parametrize("entry", ENTRIES, ids=IDS)
def test_threads_sharing_a_chunker_get_the_sequential_results(entry):
    chunker = entry.build()
    docs, lists, flat = expected_results(entry, chunker)

    def work():
        for _ in range(3):
            assert [comparable(c, entry.unstable_keys) for c in chunker.par_chunk_texts(TEXTS)] == lists
            assert comparable(chunker.par_chunk_documents(docs), entry.unstable_keys) == flat

    run_threads(work, 4)


def test_failing_calls_interleaved_with_good_ones_never_hang():
    # The bad chunker fails on every non-blank item; a call holding many items stops part-way
    # while other threads keep using the pool with good calls.
    bad = slivr.RecursiveChunker(10, 10)
    good = slivr.RecursiveChunker(40, 5)
    items = [" "] * 50 + TEXTS * 20
    expected = [comparable(c) for c in good.par_chunk_texts(items)]
    message = "Invalid chunk overlap: 10 (must be strictly less than chunk_size 10)"

    def work():
        for i in range(20):
            with pytest.raises(ValueError) as info:
                bad.par_chunk_documents([slivr.Document(t) for t in items])
            assert str(info.value) == message
            with pytest.raises(ValueError):
                bad.par_chunk_texts(items)
            assert [comparable(c) for c in good.par_chunk_texts(items)] == expected

    run_threads(work, 4)


@pytest.mark.skipif(sys.platform != "linux", reason="fork")
def test_forked_child_chunks_in_parallel_with_every_chunker():
    expected = {}
    for entry in ENTRIES:
        chunker = entry.build()
        expected[entry.name] = expected_results(entry, chunker)[1]
        chunker.par_chunk_texts(TEXTS)  # the parent's pool is running when the child is made
    pid = os.fork()
    if pid == 0:
        code = 1
        try:
            same = all([comparable(c, e.unstable_keys) for c in e.build().par_chunk_texts(TEXTS)] == expected[e.name]
                       for e in ENTRIES)
            code = 0 if same else 2
        finally:
            os._exit(code)
    assert wait_child(pid) == 0
