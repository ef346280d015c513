"""Reproducibility: a circuit recorded once and run with several seeds gives the same counts.

A seed fixes the whole measurement: `run(shots, seed)` of a circuit returns the same dict on every
call, in every process and on every machine, and the same dict as a register built with that seed,
given the same gates and measured with `measure_counts(shots, seed)`. The circuit below uses only
gates whose arithmetic involves no sine or cosine, so even its amplitudes' bit patterns (the
fingerprint printed last) are the same everywhere. Run it: python3 examples/reproducible.py

Needs NumPy, for the amplitude array that `statevector()` returns and the fingerprint hashes;
without it, it stops before doing anything.
"""
import hashlib

import amplion

from common import expect, print_count_columns, require

NEEDS_NUMPY_FOR = "for the amplitude array of statevector()"

N_QUBITS = 4


def record(circuit):
    circuit.h(0)
    circuit.sx(1)
    circuit.cx(0, 2)
    circuit.t(2)
    circuit.h(2)
    circuit.ccx(1, 2, 3)
    circuit.sx(3)
    circuit.cz(3, 0)
    circuit.h(0)
    circuit.swap(1, 3)


def fingerprint(circuit):
    """The first 16 hex digits of SHA-256 over the amplitudes' bytes (IEEE-754, little-endian)."""
    return hashlib.sha256(circuit.statevector().tobytes()).hexdigest()[:16]


def main(shots=500, seeds=(1, 2, 3)):
    circuit = amplion.QuantumCircuit(N_QUBITS)
    record(circuit)

    results = {}
    for seed in seeds:
        counts = circuit.run(shots, seed=seed)
        expect(circuit.run(shots, seed=seed) == counts, "the same seed gives the same counts")
        reg = amplion.StateVecPy(N_QUBITS, seed=seed)
        circuit.apply_gates(reg)
        expect(reg.measure_counts(shots, seed=seed) == counts,
               "run() is a seeded register, the same gates, and measure_counts()")
        results["seed %d" % seed] = counts
    print("run(%d, seed) for three seeds; each column came out again from a second run and from"
          % shots)
    print("a register built with the seed, given the same gates and measure_counts(%d, seed):"
          % shots)
    print_count_columns(results)
    expect(len({tuple(sorted(c.items())) for c in results.values()}) == len(seeds),
           "different seeds should sample differently")

    print("amplitude fingerprint:", fingerprint(circuit))
    expect(fingerprint(circuit) == fingerprint(circuit), "replays give the same bits")
    return results


if __name__ == "__main__":
    require("numpy", NEEDS_NUMPY_FOR)
    main()
