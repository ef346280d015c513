"""A short tour of amplion: Bell pair, GHZ state, quantum Fourier transform, Grover search, and
seeded reproducibility. Each part checks its own results and stops with an error if one is wrong.

Run it with `bash scripts/demo.sh`, or after `pip install .` with `python3 examples/demo.py`.
"""
import time

import amplion

import bell
import ghz
import grover
import qft
import reproducible

TOUR = [
    ("Bell pair", bell.main),
    ("GHZ state on 5 qubits", ghz.main),
    ("Quantum Fourier transform on 10 qubits", qft.main),
    ("Grover search on 8 qubits", grover.main),
    ("A circuit recorded once, run with three seeds", reproducible.main),
]


def first_look():
    reg = amplion.StateVecPy(3)
    print("A 3-qubit register holds %d amplitudes and starts in |000>: amplitude(0) = %s."
          % (reg.length(), reg.amplitude(0)))
    print("Qubit 0 is the lowest bit of the index, and the last character of an outcome.")
    try:
        amplion.StateVecPy(31)
    except ValueError as error:
        print("Asking for 31 qubits: ValueError: %s" % error)


def main():
    print("== A first look")
    first_look()
    for title, run in TOUR:
        print()
        print("== " + title)
        start = time.perf_counter()
        run()
        print("(checked, %.2f s)" % (time.perf_counter() - start))


if __name__ == "__main__":
    main()
