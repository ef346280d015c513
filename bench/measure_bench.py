"""measure_counts against the NumPy way of getting the same dict, measured in the same run.

Run with the module on the path, for example
    PYTHONPATH=build/release/python /usr/bin/python3 bench/measure_bench.py
Prints the median of each over several repeats and how many times faster measure_counts is.
"""

import argparse
import os
import statistics
import time

import numpy as np

import amplion

N_QUBITS = 20
SHOTS = 1_000_000


def uniform(n):
    sv = amplion.StateVecPy(n, seed=1)
    for q in range(n):
        sv.h(q)
    return sv


def ghz(n):
    sv = amplion.StateVecPy(n, seed=1)
    sv.h(0)
    for q in range(1, n):
        sv.cx(0, q)
    return sv


def probabilities(sv):
    """|a|^2 of every amplitude, as a user holding the register would compute it."""
    if hasattr(sv, "amplitudes"):
        a = sv.amplitudes()
    else:
        a = np.array([complex(*sv.amplitude(i)) for i in range(sv.length())])
    return a.real * a.real + a.imag * a.imag


def numpy_counts(p, n, shots, seed):
    rng = np.random.default_rng(seed)
    drawn = rng.choice(p.size, size=shots, p=p)
    values, counts = np.unique(drawn, return_counts=True)
    return {format(i, f"0{n}b"): int(c) for i, c in zip(values.tolist(), counts.tolist())}


def median_seconds(f, repeats):
    times = []
    result = None
    for _ in range(repeats):
        start = time.perf_counter()
        result = f()
        times.append(time.perf_counter() - start)
    return statistics.median(times), result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--qubits", type=int, default=N_QUBITS)
    parser.add_argument("--shots", type=int, default=SHOTS)
    args = parser.parse_args()
    n, shots = args.qubits, args.shots

    # Other work on the machine slows the dict building of both sides alike; show how busy it was.
    print(f"{n} qubits, {shots} shots, median of {args.repeats}, "
          f"load average {os.getloadavg()[0]:.1f}")
    print(f"{'state':8} {'numpy':>10} {'measure_counts':>15} {'speed-up':>9} {'outcomes':>9}")
    for name, build in (("uniform", uniform), ("ghz", ghz)):
        sv = build(n)
        p = probabilities(sv)
        ref_time, ref = median_seconds(lambda: numpy_counts(p, n, shots, 7), args.repeats)
        ours_time, ours = median_seconds(lambda: sv.measure_counts(shots, 7), args.repeats)
        # Different generators, so only the shape of the results can agree.
        assert sum(ours.values()) == shots and sum(ref.values()) == shots
        assert all(len(k) == n for k in ours)
        if name == "ghz":
            assert set(ours) == set(ref) == {"0" * n, "1" * n}
        print(f"{name:8} {ref_time * 1e3:8.1f}ms {ours_time * 1e3:13.1f}ms "
              f"{ref_time / ours_time:8.1f}x {len(ours):9}")


if __name__ == "__main__":
    main()
