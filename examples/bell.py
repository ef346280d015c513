"""A Bell pair: H on qubit 0, then CX from qubit 0 to qubit 1, gives (|00> + |11>) / sqrt(2).

Measuring it gives 00 or 11, each about half the time, and never 01 or 10: the two qubits always
agree. Run it: python3 examples/bell.py
"""
import amplion

from common import expect, print_amplitudes, print_counts, within_sigma

# 1/sqrt(2) as the H gate computes it: 1.0 / sqrt(2.0) rounded once, one ulp below the nearest.
H_FACTOR = 0.7071067811865475


def bell_pair(seed=None):
    reg = amplion.StateVecPy(2, seed=seed)
    reg.h(0)
    reg.cx(0, 1)
    return reg


def main(shots=1000, seed=2024):
    reg = bell_pair()
    print("Amplitudes of the Bell pair (qubit 0 is the last digit):")
    print_amplitudes(reg)
    expect([reg.amplitude(i) for i in range(4)]
           == [(H_FACTOR, 0.0), (0.0, 0.0), (0.0, 0.0), (H_FACTOR, 0.0)],
           "the Bell pair should be (|00> + |11>) / sqrt(2)")

    counts = reg.measure_counts(shots, seed=seed)
    print("%d shots, seed %d:" % (shots, seed))
    print_counts(counts)
    expect(set(counts) <= {"00", "11"}, "the two qubits of a Bell pair always agree")
    expect(sum(counts.values()) == shots, "every shot is counted once")
    expect(all(within_sigma(counts.get(k, 0), shots, 0.5) for k in ("00", "11")),
           "00 and 11 should each come up about half the time")

    # With weights [p, 0, 0, p] a draw below p gives 00 and any other draw 11: the split of one
    # qubit after H, whose sixteen draws from seed 0 fall seven below p and nine above.
    fixed = reg.measure_counts(16, seed=0)
    print("16 shots, seed 0, the same on every machine:", dict(sorted(fixed.items())))
    expect(fixed == {"00": 7, "11": 9}, "seed 0 should give 00 seven times and 11 nine times")
    expect(reg.amplitude(0) == (H_FACTOR, 0.0), "measuring does not collapse the state")
    return counts


if __name__ == "__main__":
    main()
