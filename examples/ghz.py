"""A GHZ state on n qubits: H on qubit 0, then a CX chain, gives (|0...0> + |1...1>) / sqrt(2).

Every measurement finds all qubits equal: all 0 or all 1, each about half the time.
Run it: python3 examples/ghz.py [n_qubits]
"""
import sys

import amplion

from common import expect, print_counts, within_sigma

H_FACTOR = 0.7071067811865475


def ghz(n_qubits, seed=None):
    reg = amplion.StateVecPy(n_qubits, seed=seed)
    reg.h(0)
    for q in range(1, n_qubits):
        reg.cx(q - 1, q)
    return reg


def main(n_qubits=5, shots=1000, seed=7):
    reg = ghz(n_qubits)
    last = reg.length() - 1
    nonzero = [i for i in range(reg.length()) if reg.amplitude(i) != (0.0, 0.0)]
    print("GHZ state on %d qubits: non-zero amplitudes at indices %s" % (n_qubits, nonzero))
    expect(nonzero == [0, last], "only |0...0> and |1...1> should carry amplitude")
    expect(reg.amplitude(0) == reg.amplitude(last) == (H_FACTOR, 0.0),
           "both amplitudes should be 1/sqrt(2)")

    counts = reg.measure_counts(shots, seed=seed)
    print("%d shots, seed %d:" % (shots, seed))
    print_counts(counts)
    zeros, ones = "0" * n_qubits, "1" * n_qubits
    expect(set(counts) <= {zeros, ones}, "all qubits of a GHZ state agree")
    expect(all(within_sigma(counts.get(k, 0), shots, 0.5) for k in (zeros, ones)),
           "all-0 and all-1 should each come up about half the time")
    # The weights are p at the two ends and 0 between: the same split as one qubit after H.
    expect(reg.measure_counts(16, seed=0) == {zeros: 7, ones: 9},
           "seed 0 should give all-0 seven times and all-1 nine times")
    return counts


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 5)
