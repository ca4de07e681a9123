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
