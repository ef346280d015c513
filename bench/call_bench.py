"""The fixed cost of a call and of building a register, timed for several builds in one run.

    /usr/bin/python3 bench/call_bench.py build/before/python build/release/python

Each folder holds an amplion.abi3.so; each is timed in its own child interpreter, the children
taking turns so that a busy machine slows them alike, by the child's processor time. Prints the
median per call in nanoseconds (microseconds for the constructions) and each build's ratio to the
first.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

# name: (statement, setup, calls per timing, unit)
CASES = {
    "z(0), 2 qubits": ("z(0)", "r = amplion.StateVecPy(2, seed=1); z = r.z", 20000, 1e9),
    "h(0), 2 qubits": ("h(0)", "r = amplion.StateVecPy(2, seed=1); h = r.h", 20000, 1e9),
    "StateVecPy(2)": ("amplion.StateVecPy(2, seed=1)", "", 20000, 1e9),
    "StateVecPy(20), us": ("amplion.StateVecPy(20, seed=1)", "", 50, 1e6),
    "StateVecPy(24), us": ("amplion.StateVecPy(24, seed=1)", "", 5, 1e6),
}


def child():
    import amplion
    per_call = {}
    for name, (statement, setup, calls, unit) in CASES.items():
        scope = {"amplion": amplion}
        exec(setup, scope)
        code = compile("for _ in range(%d): %s" % (calls, statement), name, "exec")
        start = time.process_time()
        exec(code, scope)
        per_call[name] = (time.process_time() - start) / calls * unit
    print(json.dumps(per_call))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folders", nargs="*", help="folders holding amplion.abi3.so")
    parser.add_argument("--repeats", type=int, default=9)
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child()
        return
    times = {folder: {name: [] for name in CASES} for folder in args.folders}
    for _ in range(args.repeats):
        for folder in args.folders:
            env = dict(os.environ, PYTHONPATH=os.path.abspath(folder))
            out = subprocess.run([sys.executable, __file__, "--child"], env=env, check=True,
                                 capture_output=True, text=True)
            for name, value in json.loads(out.stdout).items():
                times[folder][name].append(value)
    print(f"median of {args.repeats}, load average {os.getloadavg()[0]:.1f}")
    for i, folder in enumerate(args.folders):
        print(f"[{i}] {folder}")
    print(f"{'':20}" + "".join(f"{f'[{i}]':>10}{f'/[0]':>7}" for i in range(len(args.folders))))
    for name in CASES:
        first = statistics.median(times[args.folders[0]][name])
        cells = ""
        for folder in args.folders:
            m = statistics.median(times[folder][name])
            cells += f"{m:10.0f}{m / first:7.2f}"
        print(f"{name:20}{cells}")


if __name__ == "__main__":
    main()
