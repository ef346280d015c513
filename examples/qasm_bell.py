"""A Bell pair read from OpenQASM 2.0 (qasm_bell.qasm beside this file) with amplion_kit: run with a
seed, counted over one qubit, written back as OpenQASM, and, with NumPy, its correlations <ZZ> and
<XX>. Run it: python3 examples/qasm_bell.py
"""
import os

from amplion_kit import from_qasm, load, marginal_counts

from common import available, expect, print_counts, within_sigma

HERE = os.path.dirname(os.path.abspath(__file__))


def main(shots=1000, seed=2024):
    circuit = load(os.path.join(HERE, "qasm_bell.qasm"))
    print("Read %r" % circuit)
    counts = circuit.run(shots, seed=seed)
    print("%d shots, seed %d (clbit 0 is the last digit):" % (shots, seed))
    print_counts(counts)
    expect(set(counts) <= {"00", "11"}, "the two qubits of a Bell pair always agree")
    expect(all(within_sigma(counts.get(k, 0), shots, 0.5) for k in ("00", "11")),
           "00 and 11 should each come up about half the time")
    expect(marginal_counts(counts, [0]) == {"0": counts.get("00", 0), "1": counts.get("11", 0)},
           "qubit 0 alone reads what the pair reads")

    text = circuit.to_qasm()
    print("Written back:")
    print(text, end="")
    expect(from_qasm(text) == circuit, "the written text reads back to an equal circuit")

    if available("numpy"):
        from amplion_kit import expectation
        zz, xx = expectation(circuit, "ZZ"), expectation(circuit, "XX")
        print("<ZZ> = %r, <XX> = %r" % (zz, xx))
        expect(abs(zz - 1.0) < 1e-12 and abs(xx - 1.0) < 1e-12,
               "a Bell pair has <ZZ> = <XX> = 1")
    return counts


if __name__ == "__main__":
    main()
