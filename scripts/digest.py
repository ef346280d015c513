"""Prints one SHA-256 digest of a fixed random workload run on the amplion found on sys.path: every
gate (the _cpp ones too), rotations and cp at random angles, circuit replays and seeded counts.

Two builds agree on every amplitude and count of the workload exactly when they print the same
digest. Amplitudes are read with amplitude(i) and hashed by their bits, so NumPy is not needed; when
it is present, QuantumCircuit.statevector is hashed too. Runs on Python 3.8 and later.
"""
import hashlib
import math
import random
import struct

import amplion

# name: (number of qubits, takes an angle)
GATES = {
    "h": (1, False), "x": (1, False), "y": (1, False), "z": (1, False), "s": (1, False),
    "sdg": (1, False), "t": (1, False), "tdg": (1, False), "sx": (1, False), "sxdg": (1, False),
    "rx": (1, True), "ry": (1, True), "rz": (1, True),
    "cx": (2, False), "cy": (2, False), "cz": (2, False), "cp": (2, True), "swap": (2, False),
    "ccx": (3, False), "cswap": (3, False),
    "h_cpp": (1, False), "x_cpp": (1, False), "cx_cpp": (2, False), "ccx_cpp": (3, False),
    "cswap_cpp": (3, False),
}
CASES = 40
GATES_PER_CASE = 120
SHOTS = 2000


def random_circuit(rng, n_qubits):
    names = sorted(name for name, (arity, _) in GATES.items() if arity <= n_qubits)
    gates = []
    for _ in range(GATES_PER_CASE):
        name = names[int(rng.random() * len(names))]
        arity, takes_angle = GATES[name]
        qubits = list(range(n_qubits))
        rng.shuffle(qubits)
        args = qubits[:arity]
        if takes_angle:
            args.append((rng.random() - 0.5) * 4 * math.pi)
        gates.append((name, args))
    return gates


def hash_register(digest, reg):
    for i in range(reg.length()):
        digest.update(struct.pack("<dd", *reg.amplitude(i)))


def hash_counts(digest, counts):
    for outcome in sorted(counts):
        digest.update(("%s=%d;" % (outcome, counts[outcome])).encode())


def main():
    try:
        import numpy  # noqa: F401
        with_statevector = True
    except ImportError:
        with_statevector = False
    rng = random.Random(20240611)
    digest = hashlib.sha256()
    for case in range(CASES):
        n_qubits = 1 + case % 10
        gates = random_circuit(rng, n_qubits)
        seed = rng.getrandbits(64)

        reg = amplion.StateVecPy(n_qubits, seed=seed)
        for name, args in gates:
            getattr(reg, name)(*args)
        hash_register(digest, reg)
        hash_counts(digest, reg.measure_counts(SHOTS, seed=seed))
        hash_counts(digest, reg.measure_counts(SHOTS))

        # The recorder has no _cpp methods; their plain twins use the other 1/sqrt(2) constant.
        circuit = amplion.QuantumCircuit(n_qubits)
        for name, args in gates:
            getattr(circuit, name.replace("_cpp", ""))(*args)
        replayed = amplion.StateVecPy(n_qubits, seed=seed)
        replayed.h(0)
        circuit.apply_gates(replayed)
        hash_register(digest, replayed)
        hash_counts(digest, circuit.run(SHOTS, seed=seed))
        if with_statevector:
            digest.update(circuit.statevector().astype("<c16").tobytes())
    print(digest.hexdigest(), "statevector" if with_statevector else "no-statevector")


if __name__ == "__main__":
    main()
