"""amplion_kit speed against its goals, each next to a reference measured in the same run:

- reading OpenQASM: at least 50,000 gate statements a second;
- Circuit.run on 20 qubits and 1,000 of amplion's gates: at most 1.1 times
  amplion.QuantumCircuit.run of the same gates;
- expectation at 20 qubits: a Z string at most 3 times StateVecPy.statevector(), a string with X
  or Y at most 10 times.

Run: PYTHONPATH=build/release/python python3 bench/kit_bench.py [--quick]
Prints medians and ratios, and exits with 1 when a goal is missed.
"""
import argparse
import os
import random
import statistics
import time

import amplion

from amplion_kit import Circuit, expectation, from_qasm

ONE_QUBIT = ["h", "x", "y", "z", "s", "sdg", "t", "tdg", "sx", "sxdg"]
ROTATIONS = ["rx", "ry", "rz"]
TWO_QUBIT = ["cx", "cy", "cz", "swap"]


def median_time(function, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def qasm_text(statements, rng):
    lines = ['OPENQASM 2.0;', 'include "qelib1.inc";', "qreg q[20];", "creg c[20];"]
    for _ in range(statements):
        a, b = rng.sample(range(20), 2)
        kind = rng.randrange(4)
        if kind == 0:
            lines.append("%s q[%d];" % (rng.choice(ONE_QUBIT), a))
        elif kind == 1:
            lines.append("cx q[%d],q[%d];" % (a, b))
        elif kind == 2:
            lines.append("rz(pi*%r) q[%d];" % (rng.random(), a))
        else:
            lines.append("u3(%r,%r,-pi/2) q[%d];" % (rng.random(), rng.random(), a))
    return "\n".join(lines) + "\nmeasure q -> c;\n"


def random_core_gates(n_qubits, count, rng):
    gates = []
    for _ in range(count):
        kind = rng.randrange(3)
        if kind == 0:
            gates.append((rng.choice(ONE_QUBIT), (rng.randrange(n_qubits),)))
        elif kind == 1:
            gates.append((rng.choice(ROTATIONS), (rng.randrange(n_qubits), rng.uniform(-4, 4))))
        else:
            gates.append((rng.choice(TWO_QUBIT), tuple(rng.sample(range(n_qubits), 2))))
    return gates


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer repeats and statements")
    quick = parser.parse_args().quick
    rng = random.Random(2024)
    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    failed = []

    statements = 20_000 if quick else 100_000
    text = qasm_text(statements, rng)
    seconds = median_time(lambda: from_qasm(text), 3 if quick else 7)
    rate = statements / seconds
    print("parse: %d gate statements in %.3f s (median): %.0f statements/s (goal >= 50,000)"
          % (statements, seconds, rate))
    if rate < 50_000:
        failed.append("parse")

    n_qubits, gates = 20, random_core_gates(20, 1000, rng)
    kit = Circuit(n_qubits)
    core = amplion.QuantumCircuit(n_qubits)
    for name, args in gates:
        getattr(kit, name)(*args)
        getattr(core, name)(*args)
    assert kit.run(100, seed=5) == core.run(100, seed=5)
    repeats = 3 if quick else 7
    kit_times, core_times = [], []
    for k in range(repeats):  # interleaved, in alternating order, so that load hits both alike
        for label in (["kit", "core"] if k % 2 == 0 else ["core", "kit"]):
            runner, times = (kit, kit_times) if label == "kit" else (core, core_times)
            times.append(median_time(lambda: runner.run(1000, seed=1), 1))
    ratio = statistics.median(kit_times) / statistics.median(core_times)
    print("run: 20 qubits, 1000 gates, 1000 shots: Circuit.run %.3f s, QuantumCircuit.run "
          "%.3f s (medians of %d): ratio %.3f (goal <= 1.1)"
          % (statistics.median(kit_times), statistics.median(core_times), repeats, ratio))
    if ratio > 1.1:
        failed.append("run")
    # The only work Circuit.run adds: expanding the operations and recording amplion's circuit.
    overhead = median_time(kit.to_amplion, 21)
    print("run: Circuit.run's own work (expanding and recording 1000 gates): %.3f ms, %.4f of "
          "QuantumCircuit.run" % (overhead * 1e3, overhead / statistics.median(core_times)))

    reg = amplion.StateVecPy(n_qubits, seed=3)
    for name, args in gates[:200]:
        getattr(reg, name)(*args)
    strings = [("Z string", "Z" * 20, 3.0), ("X string", "X" * 20, 10.0),
               ("Y string", "Y" * 20, 10.0), ("mixed string", "XYZI" * 5, 10.0),
               ("alternating string", "XI" * 10, 10.0)]
    times = {label: [] for label, _, _ in strings}
    times["statevector"] = []
    for _ in range(9 if quick else 25):  # each round: the reference, then every string
        times["statevector"].append(median_time(reg.statevector, 1))
        for label, pauli, _ in strings:
            times[label].append(median_time(lambda: expectation(reg, pauli), 1))
    base = statistics.median(times["statevector"])
    print("StateVecPy.statevector() at 20 qubits: %.2f ms (median of %d)"
          % (base * 1e3, len(times["statevector"])))
    for label, pauli, goal in strings:
        seconds = statistics.median(times[label])
        print("expectation, %s %s: %.2f ms, %.2f times statevector() (goal <= %g)"
              % (label, pauli, seconds * 1e3, seconds / base, goal))
        if seconds / base > goal:
            failed.append(label)
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())
    if failed:
        raise SystemExit("missed: " + ", ".join(failed))


if __name__ == "__main__":
    main()
