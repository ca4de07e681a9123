"""Inputs that once ended the process (found by the fuzz harnesses in fuzz/ and the reliability
scripts), kept so that they stay fixed. Each must end in a result or a clear Python exception."""
import os
import subprocess
import sys
import textwrap

import pytest

import slivr


def under_address_sanitizer() -> bool:
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


# A process whose address space is capped where the native work (not the interpreter) runs out:
# the C++ allocation failure used to end the process with std::terminate, in a worker thread for
# the parallel methods. Now every entry point raises MemoryError and the process carries on.
OUT_OF_MEMORY = textwrap.dedent("""
    import resource, sys
    import slivr
    resource.setrlimit(resource.RLIMIT_AS, (1_500_000_000, 1_500_000_000))
    text = "ab " * 30_000_000
    chunker = slivr.CharacterChunker(2, 1)
    calls = {
        "chunk": lambda: chunker.chunk(text),
        "par_chunk_texts": lambda: chunker.par_chunk_texts([text, "small text"]),
        "chunk_documents": lambda: chunker.chunk_documents([slivr.Document(text)]),
        "par_chunk_documents": lambda: chunker.par_chunk_documents([slivr.Document(text)] * 2),
    }
    try:
        calls[sys.argv[1]]()
        print("no error")
    except MemoryError:
        print("MemoryError")
    # The pool and the interpreter still work.
    print(len(chunker.par_chunk_texts(["after the failure"] * 8)))
""")


@pytest.mark.skipif(sys.platform != "linux", reason="RLIMIT_AS")
@pytest.mark.parametrize("method", ["chunk", "par_chunk_texts", "chunk_documents", "par_chunk_documents"])
def test_allocation_failure_is_a_memory_error(method):
    if under_address_sanitizer():
        pytest.skip("the sanitizer reserves address space beyond any RLIMIT_AS")
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(p for p in sys.path if p)}
    proc = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY, method], capture_output=True, text=True,
                          env=env, timeout=300)
    assert proc.returncode == 0, proc.stderr[-2000:]
    assert proc.stdout.split() == ["MemoryError", "8"]


# Metadata nested far deeper than the C stack holds, in a program that raised the interpreter's
# recursion limit: the conversion used to recurse until the process died of a stack overflow
# (a few thousand levels under the sanitizers). Nesting now stops with RecursionError at a fixed
# depth, whatever the limit.
DEEP_METADATA = textwrap.dedent("""
    import sys
    import slivr
    sys.setrecursionlimit(1_000_000)
    value = inner = []
    for _ in range(200_000):
        inner.append({"k": []})
        inner = inner[0]["k"]
    try:
        slivr.Document("x", {"deep": value})
        print("built")
    except RecursionError as e:
        print("RecursionError")
    shallow = slivr.Document("text to chunk", {"deep": [[[[1]]]]})
    print(slivr.CharacterChunker(5, 0).chunk_documents([shallow])[0].metadata["deep"])
""")


def test_deep_metadata_is_a_recursion_error_even_with_a_raised_limit():
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(p for p in sys.path if p)}
    proc = subprocess.run([sys.executable, "-c", DEEP_METADATA], capture_output=True, text=True, env=env,
                          timeout=300)
    assert proc.returncode == 0, proc.stderr[-2000:]
    assert proc.stdout.split("\n")[:2] == ["RecursionError", "[[[[1]]]]"]


@pytest.mark.parametrize("depth, fits", [(500, True), (2000, False)])
def test_nesting_limit_applies_to_nested_metadata(depth, fits):
    value = inner = []
    for _ in range(depth):
        inner.append([])
        inner = inner[0]
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(max(limit, 10 * depth))
    try:
        if fits:
            doc = slivr.Document("x", {"v": value})
            assert doc.metadata["v"] == value
        else:
            with pytest.raises(RecursionError):
                slivr.Document("x", {"v": value})
    finally:
        sys.setrecursionlimit(limit)


class Reinserter:
    """A metadata value whose str() takes its key out of the dict and puts it back at the end."""

    def __init__(self, target):
        self.target = target
        self.calls = 0

    def __str__(self):
        self.calls += 1
        self.target["a"] = self.target.pop("a")
        return f"converted {self.calls}"


def test_metadata_dict_changed_while_converting_keeps_each_key_once():
    # The conversion walked the live dict: a key moved by a value's str() was met again, converted
    # again and stored twice in the native map (which holds each key once by contract).
    metadata = {}
    value = metadata["a"] = Reinserter(metadata)
    metadata["b"] = 2
    doc = slivr.Document("some text to chunk", metadata)
    assert value.calls == 1
    assert doc.metadata == {"a": "converted 1", "b": 2}
    chunks = slivr.CharacterChunker(6, 0).chunk_documents([doc])
    assert all(c.metadata["a"] == "converted 1" and c.metadata["b"] == 2 for c in chunks)
