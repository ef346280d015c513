"""Running out of memory: a MemoryError that leaves the register as it was, never a killed process.

Each case runs in a subprocess whose address space is capped (RLIMIT_AS) just above what it
already uses, so that the next large vector cannot be had; the cap is lifted again to compare the
register with its state before the failed call. A copying gate under the cap computes into the
spare vector when one of the register's size is held, and fails cleanly when none is.
"""
import os

import pytest

from conftest import run_python

pytestmark = pytest.mark.skipif(
    os.environ.get("AMPLION_SANITIZED") == "1",
    reason="the sanitizer runtime reserves far more address space than any cap leaves")

PRELUDE = """
import resource, sys
import numpy as np
import amplion

SOFT, HARD = resource.getrlimit(resource.RLIMIT_AS)

def mapped():
    with open('/proc/self/statm') as f:
        return int(f.read().split()[0]) * resource.getpagesize()

def capped(headroom, fn):
    resource.setrlimit(resource.RLIMIT_AS, (mapped() + headroom, HARD))
    try:
        fn()
    except MemoryError as e:
        return str(e)
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (SOFT, HARD))
    return None

def drop_spare():
    # A copying gate on a register of another size puts a spare of that size in place of the
    # held one, and it goes with that register.
    other = amplion.StateVecPy(17, seed=0)
    other.h(0)

reg = amplion.StateVecPy(23, seed=5)      # 128 MiB
for q in range(0, 23, 3):
    reg.h(q)
reg.t(1)
before = reg.amplitudes().view(np.uint64).copy()
drop_spare()
MiB = 1 << 20
"""

CASES = {
    "constructor": (
        "print(capped(32 * MiB, lambda: amplion.StateVecPy(24, seed=1)))",
        "cannot allocate 268435456 bytes for 24 qubits"),
    "copying gate": (
        "print(capped(32 * MiB, lambda: reg.h(4)))",
        "cannot allocate 134217728 bytes for 23 qubits"),
    # The first x leaves the old vector as the spare; the second, capped, computes into it.
    "copying gate on the spare": (
        "reg.x(2)\n"
        "print(capped(0, lambda: reg.x(2)))",
        "None"),
    "measure_counts": (
        "print(capped(16 * MiB, lambda: reg.measure_counts(10, seed=1)))",
        "cannot allocate 67108864 bytes for "),
    "export": (
        "print(capped(32 * MiB, reg.amplitudes))",
        "cannot allocate 134217728 bytes for an array of 8388608 amplitudes"),
    "circuit statevector": (
        "c = amplion.QuantumCircuit(23)\n"
        "c.h(0)\n"
        "print(capped(160 * MiB, c.statevector))",
        "cannot allocate 134217728 bytes for "),
}


@pytest.mark.parametrize("case", sorted(CASES))
def test_allocation_failure_is_memory_error_and_leaves_register_usable(case):
    call, message = CASES[case]
    script = PRELUDE + call + """
after = reg.amplitudes().view(np.uint64)
print('unchanged' if np.array_equal(before, after) else 'CHANGED')
# In-place gates allocate nothing and still work under the cap.
print(capped(0, lambda: (reg.z(0), reg.cx(0, 1), reg.rz(2, 0.5), reg.cswap(0, 1, 2))))
reg.h(0)
print('usable')
"""
    result = run_python(script)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith(message), lines
    assert lines[1:] == ["unchanged", "None", "usable"]


def test_measurement_failure_keeps_the_seeded_generator():
    # The seed replaces the generator before the arrays are allocated; a failed call keeps that
    # and draws nothing, like a call with 0 shots.
    script = PRELUDE + """
a = amplion.StateVecPy(23, seed=9)
b = amplion.StateVecPy(23, seed=9)
for r in (a, b):
    r.h(0)
drop_spare()
print(capped(16 * MiB, lambda: a.measure_counts(5, seed=77)))
b.measure_counts(0, seed=77)   # the same reseed, no draws
print(a.measure_counts(1000) == b.measure_counts(1000))
"""
    result = run_python(script)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("cannot allocate 67108864 bytes for "), lines
    assert lines[1] == "True"
