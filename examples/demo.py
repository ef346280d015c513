"""A short tour of amplion: Bell pair, GHZ state, quantum Fourier transform, Grover search, and
seeded reproducibility. Each part checks its own results and stops with an error if one is wrong.

Run it with `bash scripts/demo.sh`, or after `pip install .` with `python3 examples/demo.py`.
Without NumPy it runs the parts that need none, says which parts it skipped, and exits with 0.
"""
import time

import amplion

import bell
import ghz
import grover
import qft
import reproducible
from common import available

# An example that needs NumPy says what for in NEEDS_NUMPY_FOR.
TOUR = [
    ("Bell pair", bell),
    ("GHZ state on 5 qubits", ghz),
    ("Quantum Fourier transform on 10 qubits", qft),
    ("Grover search on 8 qubits", grover),
    ("A circuit recorded once, run with three seeds", reproducible),
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
    have_numpy = available("numpy")
    skipped = []
    for title, example in TOUR:
        print()
        print("== " + title)
        needs = getattr(example, "NEEDS_NUMPY_FOR", None)
        if needs and not have_numpy:
            print("(skipped: needs NumPy %s)" % needs)
            skipped.append(title)
            continue
        start = time.perf_counter()
        example.main()
        print("(checked, %.2f s)" % (time.perf_counter() - start))
    if skipped:
        print()
        print("Skipped without NumPy: %s." % "; ".join(skipped))


if __name__ == "__main__":
    main()
