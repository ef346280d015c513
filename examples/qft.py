"""The quantum Fourier transform on 10 qubits, built from H, controlled phases and swaps.

QFT |x> = 2^(-n/2) * sum_y exp(2 pi i x y / 2^n) |y>, with x and y the basis-state indices
(qubit 0 the lowest bit). On a whole state vector that is NumPy's inverse FFT with the "ortho"
normalisation, which this example checks on two inputs: a generic entangled state, and a
periodic state whose transform has sharp peaks. Run it: python3 examples/qft.py

Needs NumPy, for numpy.fft and for the amplitude arrays; without it, it stops before doing anything.
NumPy is imported inside the functions, so that demo.py can import this file without it.
"""
import math

import amplion

from common import expect, print_counts, require

NEEDS_NUMPY_FOR = "for numpy.fft and the amplitude arrays"

N_QUBITS = 10
# Rounding of about a hundred gates on amplitudes of size 2^-5; the transform is unitary,
# so a wrong phase or a wrong qubit order shows up as an error of order 0.1, not 1e-12.
TOLERANCE = 1e-12


def record_qft(circuit, n_qubits):
    """Records the QFT: the most significant qubit first, then the bit reversal by swaps."""
    for j in reversed(range(n_qubits)):
        circuit.h(j)
        for k in reversed(range(j)):
            circuit.cp(k, j, math.pi / 2 ** (j - k))
    for q in range(n_qubits // 2):
        circuit.swap(q, n_qubits - 1 - q)


def generic_state(reg):
    """A state with no symmetry: different rotations on every qubit, entangled by a CX chain."""
    for q in range(reg.n_qubits):
        reg.ry(q, 0.3 + 0.17 * q)
        reg.rz(q, 1.1 - 0.23 * q)
    for q in range(reg.n_qubits - 1):
        reg.cx(q, q + 1)
    reg.t(0)
    reg.sx(reg.n_qubits - 1)


def periodic_state(reg, offset=3, period_bits=3):
    """The equal superposition of every x with x % 2^period_bits == offset."""
    for q in range(period_bits):
        if offset >> q & 1:
            reg.x(q)
    for q in range(period_bits, reg.n_qubits):
        reg.h(q)


def transform(prepare, qft):
    import numpy as np

    reg = amplion.StateVecPy(N_QUBITS)
    prepare(reg)
    before = reg.amplitudes()
    qft.apply_gates(reg)
    after = reg.amplitudes()
    expected = np.fft.ifft(before, norm="ortho")
    return reg, after, float(np.max(np.abs(after - expected)))


def main(shots=2000, seed=11):
    import numpy as np

    qft = amplion.QuantumCircuit(N_QUBITS)
    record_qft(qft, N_QUBITS)

    _, after, error = transform(generic_state, qft)
    print("QFT of a generic %d-qubit state: max |amplion - numpy.fft.ifft| = %.1e"
          % (N_QUBITS, error))
    expect(error < TOLERANCE, "the QFT should match NumPy's FFT within rounding")
    expect(abs(np.vdot(after, after).real - 1.0) < TOLERANCE, "the QFT keeps the norm")

    period = 8
    reg, after, error = transform(periodic_state, qft)
    peaks = np.flatnonzero(np.abs(after) > 1e-6)
    print("QFT of the period-%d state with offset 3: max error %.1e, peaks at %s"
          % (period, error, peaks.tolist()))
    expect(error < TOLERANCE, "the QFT should match NumPy's FFT within rounding")
    expect(peaks.tolist() == list(range(0, 2 ** N_QUBITS, 2 ** N_QUBITS // period)),
           "a period of 8 in x should give peaks at multiples of 2^10 / 8 in y")

    counts = reg.measure_counts(shots, seed=seed)
    print("%d shots, seed %d:" % (shots, seed))
    print_counts(counts)
    expect({int(k, 2) for k in counts} <= set(peaks.tolist()),
           "only the peaks should be measured (the rest have probability 0 up to rounding)")
    return error


if __name__ == "__main__":
    require("numpy", NEEDS_NUMPY_FOR)
    main()
