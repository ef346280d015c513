"""Grover search: find one marked item among 2^n with about (pi/4) * sqrt(2^n) oracle calls.

The n search qubits start in the equal superposition. Each iteration flips the sign of the
marked item (the oracle), then reflects every amplitude about the mean (the diffuser). After k
iterations the marked item is measured with probability sin^2((2k + 1) * asin(2^(-n/2))).

Both reflections need a Z controlled by n - 1 qubits; it is built from Toffoli gates that
collect the AND of the controls into n - 2 work qubits and then uncompute them, so the register
holds n + (n - 2) qubits and the work qubits return to |0> after every reflection.
Run it: python3 examples/grover.py [n_search_qubits [marked_item]]. The search qubits run from 3 to
16 (the register's 2n - 2 qubits must not exceed 30), the marked item from 0 to 2^n - 1; by default
8 search qubits and the item 181, or its lowest n bits for fewer qubits. 8 search qubits run in
well under a second, 10 in about two, 11 in about twenty; each one more multiplies the memory by
four and the time by about ten, so 16 needs 16 GiB for the register alone.
"""
import argparse
import math

import amplion

from common import expect, print_counts, within_sigma


def multi_controlled_z(reg, qubits, work):
    """Flips the sign of the amplitudes in which every qubit of `qubits` is 1."""
    *controls, target = qubits
    ladder = [(controls[0], controls[1], work[0])]
    for i, c in enumerate(controls[2:], start=1):
        ladder.append((c, work[i - 1], work[i]))
    for c1, c2, t in ladder:
        reg.ccx(c1, c2, t)
    reg.cz(ladder[-1][2], target)
    for c1, c2, t in reversed(ladder):
        reg.ccx(c1, c2, t)


def flip_sign_of(reg, item, qubits, work):
    """The oracle: -1 on |item> of the search qubits, +1 elsewhere."""
    zeros = [q for q in qubits if not item >> q & 1]
    for q in zeros:
        reg.x(q)
    multi_controlled_z(reg, qubits, work)
    for q in zeros:
        reg.x(q)


def diffuse(reg, qubits, work):
    """Reflection about the equal superposition (up to a global sign): H X (CZ...Z) X H."""
    for q in qubits:
        reg.h(q)
    flip_sign_of(reg, 0, qubits, work)
    for q in qubits:
        reg.h(q)


def grover(n, marked):
    qubits = list(range(n))
    work = list(range(n, 2 * n - 2))
    reg = amplion.StateVecPy(2 * n - 2)
    for q in qubits:
        reg.h(q)
    angle = math.asin(2 ** (-n / 2))
    iterations = math.floor(math.pi / (4 * angle))
    for _ in range(iterations):
        flip_sign_of(reg, marked, qubits, work)
        diffuse(reg, qubits, work)
    return reg, iterations, math.sin((2 * iterations + 1) * angle) ** 2


MIN_SEARCH_QUBITS, MAX_SEARCH_QUBITS = 3, 16
DEFAULT_MARKED = 0b10110101


def argument_error(n, marked):
    """The message for search qubits or a marked item out of range, or None when both fit."""
    if not MIN_SEARCH_QUBITS <= n <= MAX_SEARCH_QUBITS:
        return "the number of search qubits must be from %d to %d, not %d" % (
            MIN_SEARCH_QUBITS, MAX_SEARCH_QUBITS, n)
    if not 0 <= marked < 2 ** n:
        return "the marked item must be from 0 to %d for %d search qubits, not %d" % (
            2 ** n - 1, n, marked)
    return None


def parse_arguments(argv=None):
    parser = argparse.ArgumentParser(description="Grover search for one marked item.")
    parser.add_argument("n", type=int, nargs="?", default=8, metavar="n_search_qubits",
                        help="from %d to %d (default 8)" % (MIN_SEARCH_QUBITS, MAX_SEARCH_QUBITS))
    parser.add_argument("marked", type=int, nargs="?", metavar="marked_item",
                        help="from 0 to 2^n - 1 (default 181, or its lowest n bits)")
    args = parser.parse_args(argv)
    if args.marked is None:
        args.marked = DEFAULT_MARKED % 2 ** args.n
    error = argument_error(args.n, args.marked)
    if error:
        parser.error(error)
    return args.n, args.marked


def search_counts(counts, n):
    """The counts of the search qubits alone, checking that every work qubit measured 0."""
    result = {}
    for outcome, count in counts.items():
        expect(outcome[: n - 2] == "0" * (n - 2), "the work qubits should measure 0")
        result[outcome[n - 2:]] = count
    return result


def main(n=8, marked=DEFAULT_MARKED, shots=1000, seed=5):
    error = argument_error(n, marked)
    if error:
        raise ValueError(error)
    reg, iterations, expected = grover(n, marked)
    re, im = reg.amplitude(marked)
    found = re * re + im * im
    work_mass = sum(a.real ** 2 + a.imag ** 2 for a in
                    (complex(*reg.amplitude(i)) for i in range(2 ** n, reg.length())))
    print("Grover search for %d (%s) among 2^%d = %d items, %d work qubits, %d iterations"
          % (marked, format(marked, "0%db" % n), n, 2 ** n, n - 2, iterations))
    print("  probability of the marked item: %.15f (theory %.15f)" % (found, expected))
    expect(abs(found - expected) < 1e-9, "the marked item's probability should match theory")
    expect(work_mass < 1e-20, "the work qubits should return to |0>")

    counts = search_counts(reg.measure_counts(shots, seed=seed), n)
    print("%d shots, seed %d (search qubits only; the work qubits measured 0):" % (shots, seed))
    print_counts(counts)
    key = format(marked, "0%db" % n)
    expect(within_sigma(counts.get(key, 0), shots, expected),
           "the marked item should be found with the expected probability")
    return found


if __name__ == "__main__":
    main(*parse_arguments())
