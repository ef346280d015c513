"""rx on a 1- to 10-qubit register called from Python, timed for several builds in one run.

    /usr/bin/python3 bench/rotation_bench.py build/release/python build/exact/python --no-fma

Each folder holds an amplion.abi3.so (the default build, the exact-rotations build); each is
timed in its own child interpreter, the children taking turns so that a busy machine slows them
alike; the time is the child's processor time, which other users of the machine disturb less
than the clock on the wall. --no-fma adds a run of every folder under GLIBC_TUNABLES=glibc.cpu.hwcaps=-FMA,-AVX2,
where the exact build takes MPFR. Prints the median time per call in nanoseconds.
"""

import argparse
import json
import os
import random
import statistics
import subprocess
import sys
import time

NO_FMA = "glibc.cpu.hwcaps=-FMA,-AVX2"
QUBITS = range(1, 11)


def child(calls):
    import amplion
    rng = random.Random(1)
    thetas = [rng.uniform(-12.566370614359172, 12.566370614359172) for _ in range(calls)]
    per_call = {}
    for n in QUBITS:
        reg = amplion.StateVecPy(n, seed=1)
        rx = reg.rx
        start = time.process_time()
        for theta in thetas:
            rx(0, theta)
        per_call[n] = (time.process_time() - start) / calls * 1e9
    print(json.dumps(per_call))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folders", nargs="+", help="folders holding amplion.abi3.so")
    parser.add_argument("--no-fma", action="store_true", help="also time each under " + NO_FMA)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--calls", type=int, default=20000)
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.calls)
        return

    runs = [(folder, None) for folder in args.folders]
    if args.no_fma:
        runs += [(folder, NO_FMA) for folder in args.folders]
    times = {run: {n: [] for n in QUBITS} for run in runs}
    for _ in range(args.repeats):
        for folder, tunables in runs:
            env = dict(os.environ, PYTHONPATH=os.path.abspath(folder))
            env.pop("GLIBC_TUNABLES", None)
            if tunables:
                env["GLIBC_TUNABLES"] = tunables
            out = subprocess.run([sys.executable, __file__, "--child", "--calls", str(args.calls),
                                  folder], env=env, check=True, capture_output=True, text=True)
            for n, ns in json.loads(out.stdout).items():
                times[(folder, tunables)][int(n)].append(ns)

    labels = [folder + (" (-FMA,-AVX2)" if tunables else "") for folder, tunables in runs]
    for i, label in enumerate(labels):
        print(f"[{i}] {label}")
    print("qubits " + "".join(f"{f'[{i}] ns/call':>15}" for i in range(len(runs))))
    for n in QUBITS:
        cells = "".join(f"{statistics.median(times[run][n]):15.0f}" for run in runs)
        print(f"{n:6d} {cells}")


if __name__ == "__main__":
    main()
