"""QuantumCircuit as Python sees it: its method table, recording, replay, fresh registers."""

import math
import random

import numpy as np
import pytest

import amplion
from amplion import QuantumCircuit, StateVecPy
from conftest import CallsBack, array_bits

ONE = 0x3FF0000000000000
H = 0x3FE6A09E667F3BCC  # 0.7071067811865475
RANGE = "n_qubits must be between 1 and 30"

RECORDING = [
    ("x", "q"),
    ("y", "q"),
    ("z", "q"),
    ("h", "q"),
    ("s", "q"),
    ("sdg", "q"),
    ("t", "q"),
    ("tdg", "q"),
    ("sx", "q"),
    ("sxdg", "q"),
    ("rx", "q, theta"),
    ("ry", "q, theta"),
    ("rz", "q, theta"),
    ("cx", "c, t"),
    ("swap", "q1, q2"),
    ("cy", "c, t"),
    ("cz", "c, t"),
    ("ccx", "c1, c2, t"),
    ("cswap", "c, t1, t2"),
    ("cp", "c, t, theta"),
]
# The register's names for the same gates where they differ.
REGISTER_PARAMS = {"cx": ("control", "target"), "cy": ("control", "target"),
                   "cz": ("control", "target"), "cp": ("control", "target", "theta")}


def basis(n, i):
    out = [0] * (2 << n)
    out[2 * i] = ONE
    return out


@pytest.mark.parametrize(
    "name, signature",
    RECORDING + [("run", "shots, seed=None"), ("statevector", ""), ("apply_gates", "sv")],
)
def test_method_signatures_and_docs(name, signature):
    method = getattr(QuantumCircuit(1), name)
    assert method.__text_signature__ == "($self" + (", " + signature if signature else "") + ")"
    assert method.__doc__ is None


def test_class_surface():
    assert QuantumCircuit.__text_signature__ == "(n_qubits)"
    assert QuantumCircuit.__module__ == "builtins"
    public = {m for m in vars(QuantumCircuit) if not m.startswith("_")}
    assert public == {name for name, _ in RECORDING} | {"run", "statevector", "apply_gates"}
    with pytest.raises(AttributeError):
        QuantumCircuit(1).n_qubits


@pytest.mark.parametrize("name, params", RECORDING)
def test_recording_accepts_its_keywords_only(name, params):
    names = params.split(", ")
    values = {p: (0.25 if p == "theta" else 0) for p in names}
    circuit = QuantumCircuit(1)
    assert getattr(circuit, name)(**values) is None
    if name in REGISTER_PARAMS:
        wrong = dict(zip(REGISTER_PARAMS[name], values.values()))
        key = REGISTER_PARAMS[name][0]
        with pytest.raises(TypeError) as e:
            getattr(circuit, name)(**wrong)
        assert str(e.value) == f"QuantumCircuit.{name}() got an unexpected keyword argument '{key}'"
    with pytest.raises(TypeError) as e:
        getattr(circuit, name)()
    quoted = [f"'{p}'" for p in names]
    listed = (quoted[0] if len(quoted) == 1 else " and ".join(quoted) if len(quoted) == 2
              else ", ".join(quoted[:-1]) + ", and " + quoted[-1])
    plural = "argument" if len(names) == 1 else "arguments"
    assert str(e.value) == (f"QuantumCircuit.{name}() missing {len(names)} required "
                            f"positional {plural}: {listed}")


def test_recording_never_validates():
    circuit = QuantumCircuit(2)
    circuit.cx(0, 0)
    circuit.h(2**64 - 1)
    circuit.rx(0, float("nan"))
    circuit.cp(c=5, t=5, theta=float("-inf"))
    with pytest.raises(IndexError):  # only replay looks at the indices
        circuit.statevector()


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda c: c.x(-1), OverflowError),
        (lambda c: c.h(2**64), OverflowError),
        (lambda c: c.cx(0, 1.5), TypeError),
        (lambda c: c.rx(0, "a"), TypeError),
        (lambda c: c.ccx(0, 1, None), TypeError),
    ],
)
def test_failed_conversion_records_nothing(call, error):
    circuit = QuantumCircuit(2)
    circuit.x(1)
    with pytest.raises(error):
        call(circuit)
    assert array_bits(circuit.statevector()) == basis(2, 2)


def test_conversion_messages_name_the_parameter():
    circuit = QuantumCircuit(2)
    with pytest.raises(TypeError, match=r"^argument 't': 'float' object cannot be interpreted"):
        circuit.cx(0, 1.5)
    with pytest.raises(TypeError, match=r"^argument 'theta': "):
        circuit.cp(0, 1, "a")


@pytest.mark.parametrize("n", [0, 31, 2**64 - 1])
@pytest.mark.parametrize("build", [
    lambda c: c.statevector(),
    lambda c: c.run(1),
    lambda c: c.run(0, seed=3),
])
def test_out_of_range_count_accepted_until_a_register_is_built(n, build):
    circuit = QuantumCircuit(n)
    with pytest.raises(ValueError) as e:
        build(circuit)
    assert e.value.args == (RANGE,)
    circuit.h(99)  # the count is checked before any gate is replayed
    with pytest.raises(ValueError) as e:
        build(circuit)
    assert e.value.args == (RANGE,)


def test_statevector_of_empty_and_bell_circuits():
    arr = QuantumCircuit(2).statevector()
    assert arr.dtype == np.complex128 and arr.shape == (4,)
    assert arr.flags.c_contiguous and arr.flags.writeable and arr.flags.owndata
    assert array_bits(arr) == basis(2, 0)
    bell = QuantumCircuit(2)
    bell.h(0)
    bell.cx(0, 1)
    first = bell.statevector()
    assert array_bits(first) == [H, 0, 0, 0, 0, 0, H, 0]
    first[:] = 0
    second = bell.statevector()
    assert not np.shares_memory(first, second)
    assert array_bits(second) == [H, 0, 0, 0, 0, 0, H, 0]


def test_statevector_replay_error():
    circuit = QuantumCircuit(2)
    circuit.h(5)
    with pytest.raises(IndexError) as e:
        circuit.statevector()
    assert e.value.args == ("qubit index out of range",)


def test_apply_gates_keeps_the_gates_before_a_failing_one():
    circuit = QuantumCircuit(2)
    circuit.x(0)
    circuit.cx(0, 7)
    circuit.x(1)
    sv = StateVecPy(2, seed=1)
    with pytest.raises(IndexError) as e:
        circuit.apply_gates(sv)
    assert e.value.args == ("control/target index out of range",)
    assert array_bits(sv.amplitudes()) == basis(2, 1)
    sv.x(0)  # the register is not left borrowed
    assert array_bits(sv.amplitudes()) == basis(2, 0)


@pytest.mark.parametrize(
    "name, args, message",
    [
        ("swap", (0, 9), "swap index out of range"),
        ("ccx", (0, 1, 9), "index out of range"),
        ("cswap", (9, 0, 1), "qubit index out of range"),
        ("rz", (2, 0.5), "qubit index out of range"),
        ("cy", (0, 9), None),
        ("cz", (0, 9), None),
        ("cp", (9, 0, 0.5), None),
    ],
)
def test_replay_fails_like_the_register_method(name, args, message):
    circuit = QuantumCircuit(2)
    circuit.h(1)
    getattr(circuit, name)(*args)
    replayed = StateVecPy(2, seed=1)
    direct = StateVecPy(2, seed=1)
    direct.h(1)

    def outcome(call):
        try:
            call()
        except Exception as e:  # noqa: BLE001 - the outcome itself is compared
            return type(e), e.args
        return None

    got = outcome(lambda: circuit.apply_gates(replayed))
    assert got == outcome(lambda: getattr(direct, name)(*args))
    if message is not None:
        assert got == (IndexError, (message,))
    assert array_bits(replayed.amplitudes()) == array_bits(direct.amplitudes())


def test_replay_onto_a_larger_register():
    circuit = QuantumCircuit(1)
    circuit.h(0)
    sv = StateVecPy(3, seed=1)
    circuit.apply_gates(sv)
    assert array_bits(sv.amplitudes()) == [H, 0, H, 0] + [0] * 12


def test_empty_circuit_leaves_the_register_unchanged():
    sv = StateVecPy(2, seed=1)
    sv.ry(1, 0.3)
    before = array_bits(sv.amplitudes())
    QuantumCircuit(5).apply_gates(sv=sv)
    assert array_bits(sv.amplitudes()) == before


@pytest.mark.parametrize(
    "arg, message",
    [
        (5, "argument 'sv': 'int' object cannot be converted to 'StateVecPy'"),
        (None, "argument 'sv': 'NoneType' object cannot be converted to 'StateVecPy'"),
        ("qc", "argument 'sv': 'QuantumCircuit' object cannot be converted to 'StateVecPy'"),
    ],
)
def test_apply_gates_rejects_other_objects(arg, message):
    circuit = QuantumCircuit(1)
    if arg == "qc":
        arg = circuit
    with pytest.raises(TypeError) as e:
        circuit.apply_gates(arg)
    assert e.value.args == (message,)


def test_apply_gates_needs_an_unborrowed_register():
    circuit = QuantumCircuit(1)
    circuit.x(0)
    sv = StateVecPy(2, seed=1)
    seen = []

    class ReplaysDuringGate:
        def __index__(self):
            try:
                circuit.apply_gates(sv)
            except RuntimeError as e:
                seen.append(e.args)
            return 1

    sv.x(ReplaysDuringGate())
    assert seen == [("Already borrowed",)]
    assert array_bits(sv.amplitudes()) == basis(2, 2)


@pytest.mark.parametrize("call", [
    lambda c, sv: c.statevector(),
    lambda c, sv: c.apply_gates(sv),
])
def test_replays_are_refused_while_recording(call):
    circuit = QuantumCircuit(1)
    sv = StateVecPy(1, seed=1)
    seen = []

    class ReplaysDuringRecording:
        def __index__(self):
            try:
                call(circuit, sv)
            except RuntimeError as e:
                seen.append(e.args)
            return 0

    circuit.x(ReplaysDuringRecording())
    assert seen == [("Already mutably borrowed",)]
    assert array_bits(circuit.statevector()) == basis(1, 1)


FINITE = [0.0, -0.0, math.pi, -0.125, 1.3125, 1e300]
NON_FINITE = FINITE + [float("inf"), float("-inf"), float("nan")]


def random_circuit(seed):
    """Qubit count and 40 gates over all twenty kinds; indices may repeat, all in range."""
    rng = random.Random(seed)
    n = 1 + seed % 4
    # Every third circuit also meets non-finite angles; the rest keep informative amplitudes.
    angles = NON_FINITE if seed % 3 == 0 else FINITE
    gates = []
    for _ in range(40):
        name, params = RECORDING[rng.randrange(len(RECORDING))]
        args = [rng.choice(angles) if p == "theta" else rng.randrange(n)
                for p in params.split(", ")]
        gates.append((name, args))
    return n, gates


SEEDS = range(12)


@pytest.mark.parametrize("seed", SEEDS)
def test_random_circuits_replay_bit_for_bit(seed):
    n, gates = random_circuit(seed)
    circuit = QuantumCircuit(n)
    direct = StateVecPy(n, seed=2)
    for name, args in gates:
        getattr(circuit, name)(*args)
        getattr(direct, name)(*args)
    expected = array_bits(direct.amplitudes())
    assert expected != basis(n, 0)
    assert array_bits(circuit.statevector()) == expected
    target = StateVecPy(n, seed=3)
    circuit.apply_gates(target)
    assert array_bits(target.amplitudes()) == expected


def test_random_circuits_cover_every_gate_kind():
    seen = {name for seed in SEEDS for name, _ in random_circuit(seed)[1]}
    assert seen == {name for name, _ in RECORDING}


def superposition(n):
    circuit = QuantumCircuit(n)
    for q in range(n):
        circuit.h(q)
    return circuit


@pytest.mark.parametrize(
    "n, shots, seed, expected",
    [
        (1, 16, 0, {"0": 7, "1": 9}),
        (1, 16, 42, {"0": 8, "1": 8}),
        (2, 16, 0, {"00": 5, "01": 2, "10": 3, "11": 6}),
    ],
)
def test_run_known_counts(n, shots, seed, expected):
    circuit = superposition(n)
    assert circuit.run(shots, seed) == expected
    assert circuit.run(shots=shots, seed=seed) == expected


@pytest.mark.parametrize("seed", [7, 0, 2**64 - 1])
def test_run_equals_a_seeded_register_measured_with_the_same_seed(seed):
    n, gates = random_circuit(4)
    circuit = QuantumCircuit(n)
    direct = StateVecPy(n, seed=seed)
    for name, args in gates:
        getattr(circuit, name)(*args)
        getattr(direct, name)(*args)
    counts = circuit.run(100, seed=seed)
    assert counts == direct.measure_counts(100, seed=seed)
    assert counts == circuit.run(100, seed)
    assert sum(counts.values()) == 100
    assert all(len(key) == n and set(key) <= {"0", "1"} for key in counts)


def test_run_outcomes_and_unseeded_draws():
    circuit = QuantumCircuit(3)
    circuit.x(0)
    circuit.x(2)
    assert circuit.run(0) == {}
    assert circuit.run(25) == {"101": 25}
    assert circuit.run(25, None) == {"101": 25}


def test_run_errors():
    nan = QuantumCircuit(1)
    nan.rx(0, float("nan"))
    with pytest.raises(ValueError) as e:
        nan.run(10, seed=1)
    assert e.value.args == ("A weight is invalid in distribution",)
    bad = QuantumCircuit(2)
    bad.swap(0, 2)
    with pytest.raises(IndexError) as e:
        bad.run(10)
    assert e.value.args == ("swap index out of range",)
    # Arguments are converted before any register is built.
    with pytest.raises(OverflowError):
        QuantumCircuit(0).run(1, seed=-1)
    with pytest.raises(OverflowError):
        QuantumCircuit(0).run(-1)
    with pytest.raises(TypeError) as e:
        QuantumCircuit(1).run(1, 2, 3)
    assert e.value.args == (
        "QuantumCircuit.run() takes from 1 to 2 positional arguments but 3 were given",)


def test_run_holds_a_shared_borrow_while_converting():
    circuit = QuantumCircuit(1)
    circuit.x(0)
    seen = []

    def inner():
        seen.append(array_bits(circuit.statevector()))  # shared with shared: allowed
        try:
            circuit.h(0)
        except RuntimeError as e:
            seen.append(e.args)

    assert circuit.run(CallsBack(inner, value=4), seed=1) == {"1": 4}
    assert seen == [basis(1, 1), ("Already borrowed",)]
