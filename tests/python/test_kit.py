"""amplion_kit's Circuit, parameters, running against amplion bit for bit, the quantities against
exact oracles, and the command line."""
import doctest
import json
import math
import os
import pickle
import random
import subprocess
import sys
import textwrap
from fractions import Fraction

import numpy as np
import pytest

import amplion
import amplion_kit
from amplion_kit import Circuit, Parameter, expectation, marginal_counts, probabilities
from conftest import array_bits, bits, module_dir, run_python, state_bits

CORE_ONE = ["h", "x", "y", "z", "s", "sdg", "t", "tdg", "sx", "sxdg"]


def random_core_calls(n_qubits, count, rng):
    """(method, args) of amplion's gates on distinct qubits, angles included."""
    calls = []
    for _ in range(count):
        kind = rng.randrange(2 if n_qubits < 2 else 4 if n_qubits < 3 else 5)
        if kind == 0:
            calls.append((rng.choice(CORE_ONE), (rng.randrange(n_qubits),)))
        elif kind == 1:
            calls.append((rng.choice(["rx", "ry", "rz"]),
                          (rng.randrange(n_qubits), rng.uniform(-7, 7))))
        elif kind == 2:
            calls.append((rng.choice(["cx", "cy", "cz", "swap"]),
                          tuple(rng.sample(range(n_qubits), 2))))
        elif kind == 3:
            calls.append(("cp", (*rng.sample(range(n_qubits), 2), rng.uniform(-7, 7))))
        else:
            calls.append((rng.choice(["ccx", "cswap"]), tuple(rng.sample(range(n_qubits), 3))))
    return calls


# -- building and inspecting ---------------------------------------------------------------------

def test_both_classes_argument_names_build_the_same_circuit():
    expected = Circuit(3).cx(0, 1).cp(2, 0, 0.5).crz(1, 2, -1.0).ccx(0, 1, 2).cswap(2, 0, 1)
    for built in [Circuit(3).cx(control=0, target=1).cp(control=2, target=0, theta=0.5)
                  .crz(control=1, target=2, theta=-1.0).ccx(c1=0, c2=1, t=2).cswap(c=2, t1=0, t2=1),
                  Circuit(3).cx(c=0, t=1).cp(c=2, t=0, theta=0.5).crz(1, t=2, theta=-1.0)
                  .ccx(0, 1, 2).cswap(2, 0, 1)]:
        assert built == expected


# (what is done to Circuit(2, 1).h(0).measure(1, 0), exception, message)
REFUSED = [
    (lambda c: c.cx(0), TypeError, "cx() takes 'target' or 't', exactly one of them"),
    (lambda c: c.cx(0, 1, c=0), TypeError, "cx() takes 'control' or 'c', exactly one of them"),
    (lambda c: c.cp(0, 1), TypeError, "cp() missing required argument 'theta'"),
    (lambda c: c.h(2), IndexError, "h: qubit 2 out of range for 2 qubits"),
    (lambda c: c.h(-1), IndexError, "h: qubit -1 out of range for 2 qubits"),
    (lambda c: c.swap(0, 0), ValueError, "swap needs distinct qubits, got [0, 0]"),
    (lambda c: c.h(0.5), TypeError, "a qubit must be an integer, not float"),
    (lambda c: c.rx(0, "pi"), TypeError, "rx takes numbers or parameters as angles, not str"),
    (lambda c: c.append("foo", [0]), ValueError, "unknown gate 'foo'"),
    (lambda c: c.append("h", [0, 1]), TypeError, "h takes 1 qubits and 0 angles, got 2 and 0"),
    (lambda c: c.measure(0, 1), IndexError, "measure: clbit 1 out of range for 1 classical bits"),
    (lambda c: c.x(1), ValueError, "x on qubit 1 after its measurement: measurements must come"),
    (lambda c: c.cz(0, 1), ValueError, "cz on qubit 1 after its measurement"),
    (lambda c: c.reset(0), ValueError, "reset of qubit 0 after it was used"),
    (lambda c: c.compose(Circuit(3)), IndexError, "compose: qubit 2 out of range for 2 qubits"),
    (lambda c: c.compose(Circuit(1).h(0), qubits=[1]), ValueError, "h on qubit 1 after its"),
    (lambda c: c.bind(theta=1.0), ValueError, "the circuit has no parameter 'theta'"),
    (lambda c: Circuit(2, qregs=[("a", 1)]), ValueError, "the qreg sizes must be positive and add"),
    (lambda c: Circuit(2, 2, cregs=[("q", 2)]), ValueError, "register names must differ"),
    (lambda c: Circuit(-1), ValueError, "n_qubits and n_clbits must not be negative"),
]


@pytest.mark.parametrize("action, error, message", REFUSED, ids=range(len(REFUSED)))
def test_refused_operations_leave_the_circuit_as_it_was(action, error, message):
    circuit = Circuit(2, 1).h(0).measure(1, 0)
    before = pickle.dumps(circuit)
    with pytest.raises(error) as caught:
        action(circuit)
    assert str(caught.value).startswith(message), str(caught.value)
    assert pickle.dumps(circuit) == before


def test_inspection_copy_compose_and_pickle():
    theta = Parameter("theta")
    circuit = Circuit(3, 2, qregs=[("a", 1), ("b", 2)]).h(0).rx(1, 2 * theta - 1).barrier()
    circuit.measure(2, 1)
    assert len(circuit) == 4 and circuit.n_qubits == 3 and circuit.n_clbits == 2
    assert [tuple(op) for op in circuit] == [
        ("h", (0,), ()), ("rx", (1,), (2 * theta - 1,)), ("barrier", (0, 1, 2), ()),
        ("measure", (2,), (1,))]
    assert circuit[1].params[0] == 2 * theta - 1 and circuit[1:2] == [circuit[1]]
    assert repr(circuit) == ("Circuit(3, 2, qregs=[('a', 1), ('b', 2)]).h(0)"
                             ".rx(1, 2.0*Parameter('theta') - 1.0).barrier(0, 1, 2).measure(2, 1)")
    assert repr(Circuit(1).U(0, 1.0, 2.0, 3.0)) == "Circuit(1).append('U', [0], [1.0, 2.0, 3.0])"
    assert repr(Circuit(1).h(0).h(0).h(0).h(0).h(0).h(0).h(0).h(0).h(0).h(0).h(0).h(0).h(0)) == (
        "Circuit(1)" + ".h(0)" * 12 + "  # and 1 more operations")
    for other in [pickle.loads(pickle.dumps(circuit)), circuit.copy()]:
        assert other == circuit and other is not circuit
    copy = circuit.copy().x(1)
    assert len(copy) == 5 and len(circuit) == 4 and copy != circuit
    assert Circuit(2).h(0) != Circuit(2, qregs=[("r", 2)]).h(0) != Circuit(3).h(0)
    composed = Circuit(3, 1).x(2).compose(Circuit(2, 1).cx(0, 1).measure(1, 0), qubits=[2, 0])
    assert composed == Circuit(3, 1).x(2).cx(2, 0).measure(0, 0)


# -- parameters ----------------------------------------------------------------------------------

def test_parameter_arithmetic_binds_to_float_arithmetic():
    a, b = Parameter("a"), Parameter("b")
    values = {"a": 0.3, "b": -1.7}
    x, y = values["a"], values["b"]
    for expression, expected, text in [
            (2 * a + 1, 2.0 * x + 1.0, "2.0*a + 1.0"), (a - b / 3, x - y / 3.0, "a - b/3.0"),
            (1 - (a - b), 1.0 - (x - y), "1.0 - (a - b)"), (-a * b, -x * y, "-a*b"),
            (a ** 2 / (b + a), math.pow(x, 2.0) / (y + x), "a**2.0/(b + a)"),
            (2 ** -a, math.pow(2.0, -x), "2.0**(-a)"), (+a / 4, x / 4.0, "a/4.0")]:
        assert str(expression) == text
        assert expression.bind(values) == expected and float(expression.bind(values)) == expected
        assert pickle.loads(pickle.dumps(expression)) == expression
        assert eval(repr(expression), {"Parameter": Parameter}) == expression
    partial = (a * b).bind({"a": 2.0})
    assert partial == 2.0 * b and partial.parameters == {"b"}
    with pytest.raises(TypeError, match="unbound parameters: a, b"):
        float(a + b)


def test_binding_replaces_parameters_and_running_names_the_unbound_ones():
    theta, phi = Parameter("theta"), Parameter("phi")
    circuit = Circuit(2).h(0).rx(0, theta).crz(0, 1, theta + phi).u3(1, 0.1, phi, 0.2)
    assert circuit.parameters == (phi, theta)
    for action in [lambda: circuit.run(10, seed=1), circuit.statevector, circuit.to_amplion,
                   lambda: circuit.bind(theta=0.5).run(1)]:
        with pytest.raises(ValueError, match=r"^unbound parameters: phi(, theta)?; bind them"):
            action()
    expected = Circuit(2).h(0).rx(0, 0.5).crz(0, 1, 0.5 + -2.0).u3(1, 0.1, -2.0, 0.2)
    assert circuit.bind(theta=0.5, phi=-2.0) == expected
    assert circuit.bind({"theta": 0.5, phi: -2}) == expected
    assert circuit.bind({theta: 0.5}).bind(phi=-2.0) == expected
    assert circuit.parameters == (phi, theta)  # binding returns a copy
    with pytest.raises(TypeError, match="parameter 'theta' must be bound to a number, not str"):
        circuit.bind(theta="0.5")


# -- running against amplion ---------------------------------------------------------------------

def test_core_gates_give_amplions_bits_and_seeded_counts():
    rng = random.Random(1)
    for n_qubits in (3, 5):
        calls = random_core_calls(n_qubits, 60, rng)
        kit, core, reg = Circuit(n_qubits), amplion.QuantumCircuit(n_qubits), amplion.StateVecPy(
            n_qubits, seed=2)
        for name, args in calls:
            for target in (kit, core, reg):
                getattr(target, name)(*args)
        assert array_bits(kit.statevector()) == array_bits(core.statevector())
        assert array_bits(kit.to_amplion().statevector()) == array_bits(core.statevector())
        applied = amplion.StateVecPy(n_qubits, seed=2)
        kit.apply(applied)
        assert state_bits(applied) == state_bits(reg)
        for seed in (0, 7, 2 ** 64 - 1):
            assert kit.run(500, seed=seed) == core.run(500, seed=seed)


def test_measurements_give_keys_over_every_classical_bit():
    circuit = Circuit(3, 4, cregs=[("low", 1), ("high", 3)]).x(0).x(2)
    assert circuit.run(20, seed=1) == {"101": 20}  # no measurement: keys over the qubits
    circuit.measure(0, 1).measure(2, 3).measure(1, 0)
    assert circuit.run(20, seed=1) == {"1010": 20}
    assert circuit.copy().measure(1, 3).run(5) == {"0010": 5}  # the last measurement wins
    bell = Circuit(2, 2).h(0).cx(0, 1).measure(0, 0).measure(1, 1)
    counts = bell.run(1000, seed=3)
    assert counts == bell.to_amplion().run(1000, seed=3) and set(counts) == {"00", "11"}


def test_global_phase_is_in_the_statevector_and_nowhere_else():
    circuit = Circuit(2, 1).h(0).u3(1, 0.3, 0.4, 0.5).cu(0, 1, 0.1, 0.2, 0.3, 0.4).measure(1, 0)
    state, core = circuit.statevector(), circuit.to_amplion().statevector()
    turn = complex(math.cos(0.45), math.sin(0.45))
    assert np.abs(state - core * turn).max() < 4e-16 and np.abs(state - core).max() > 0.1
    assert array_bits(probabilities(circuit)) == array_bits(probabilities(core))
    assert expectation(circuit, "XZ") == expectation(core, "XZ")
    assert circuit.run(50, seed=4) == Circuit(2, 1).compose(circuit).run(50, seed=4)


def test_apply_checks_the_register_first():
    reg = amplion.StateVecPy(2, seed=1)
    reg.h(1)
    before = state_bits(reg)
    with pytest.raises(ValueError, match="the register has 2 qubits, the circuit needs 3"):
        Circuit(3).x(0).apply(reg)
    with pytest.raises(TypeError, match="apply takes an amplion.StateVecPy, not QuantumCircuit"):
        Circuit(1).x(0).apply(amplion.QuantumCircuit(1))
    assert state_bits(reg) == before
    Circuit(1).x(0).apply(reg)
    assert reg.amplitude(0) == reg.amplitude(2) == (0.0, 0.0) != reg.amplitude(1)


# -- quantities ----------------------------------------------------------------------------------

def random_register(n_qubits, seed):
    reg = amplion.StateVecPy(n_qubits, seed=seed)
    for name, args in random_core_calls(n_qubits, 8 * n_qubits, random.Random(seed)):
        getattr(reg, name)(*args)
    return reg


def test_probabilities_are_the_sampled_weights():
    reg = random_register(5, 1)
    weights = [re * re + im * im for re, im in (reg.amplitude(i) for i in range(32))]
    assert array_bits(probabilities(reg)) == array_bits(np.array(weights))
    assert array_bits(probabilities(reg.statevector())) == array_bits(np.array(weights))


PAULI = {"I": [[1, 0], [0, 1]], "X": [[0, 1], [1, 0]], "Y": [[0, -1j], [1j, 0]],
         "Z": [[1, 0], [0, -1]]}


def exact_expectation(amplitudes, pauli):
    """<ψ|P|ψ> in exact rational arithmetic from the doubles of ψ, and Σ|terms| for the bound."""
    n = len(pauli)
    amps = [(Fraction(z.real), Fraction(z.imag)) for z in amplitudes]
    total, size = Fraction(0), Fraction(0)
    for i, (ar, ai) in enumerate(amps):
        j, factor = 0, complex(1)  # P|i> = factor·|j>
        for q, letter in enumerate(reversed(pauli)):
            bit = i >> q & 1
            column = PAULI[letter]
            out = 1 - bit if letter in "XY" else bit
            factor *= column[out][bit]
            j |= out << q
        br, bi = amps[j]
        fr, fi = Fraction(int(factor.real)), Fraction(int(factor.imag))
        # Re(conj(ψ_j)·factor·ψ_i)
        pr, pi = fr * ar - fi * ai, fr * ai + fi * ar
        term = br * pr + bi * pi
        total += term
        size += abs(term)
    return total, size


def test_expectation_is_within_rounding_of_the_exact_value():
    rng = random.Random(5)
    for n_qubits in (1, 2, 3, 4, 9):
        reg = random_register(n_qubits, n_qubits)
        amplitudes = reg.statevector()
        for pauli in ["".join(rng.choice("IXYZ") for _ in range(n_qubits)) for _ in range(12)]:
            exact, size = exact_expectation(amplitudes, pauli)
            got = expectation(reg, pauli)
            assert abs(Fraction(got) - exact) <= size * (n_qubits + 3) * Fraction(2) ** -52, pauli
            # the same bits from an array, an unaligned copy and a circuit's state
            unaligned = np.empty(2 ** n_qubits + 1, np.complex128)[1:]
            unaligned[:] = amplitudes
            assert bits(expectation(amplitudes, pauli)) == bits(expectation(unaligned, pauli))
            assert bits(expectation(amplitudes, pauli)) == bits(got)


def fold(values, negate):
    """The documented order, one double at a time: halves from the top bit down."""
    values = list(values)
    half = len(values) // 2
    while half:
        values[:half] = [values[j] - values[j + half] if negate & half else
                         values[j] + values[j + half] for j in range(half)]
        half //= 2
    return values[0]


def test_z_strings_are_summed_in_the_documented_order():
    reg = random_register(6, 9)
    parts = [p for re, im in (reg.amplitude(i) for i in range(64)) for p in (re * re, im * im)]
    for pauli in ["ZZZZZZ", "IZIIZZ", "IIIIII", "ZIIIII"]:
        negate = int(pauli.replace("I", "0").replace("Z", "1"), 2)
        assert bits(expectation(reg, pauli)) == bits(fold(parts, negate << 1))
    weighted = {"ZZZZZZ": 0.25, "XXIIYY": -1.5, "IIIIII": 3.0}
    assert expectation(reg, weighted) == math.fsum(w * expectation(reg, p)
                                                   for p, w in weighted.items())
    assert expectation(reg, {}) == 0.0


@pytest.mark.parametrize("observable", ["ZZ", "ZZZZ", "ZZa", "zzz", 5, ["ZZZ"], {"ZZ": 1.0},
                                        {"ZZZ": 1j}, {"ZZZ": "1"}, {"ZZZ": True}])
def test_other_observables_raise_value_error(observable):
    with pytest.raises(ValueError):
        expectation(random_register(3, 1), observable)


@pytest.mark.parametrize("state", [np.zeros((2, 2)), np.zeros(3), np.zeros(0), ["a", "b"]])
def test_other_states_raise_value_error(state):
    with pytest.raises(ValueError, match="a state is a StateVecPy, a Circuit or a 1-D array"):
        probabilities(state)


def test_marginal_counts():
    counts = {"110": 3, "011": 5, "010": 2}
    for qubits, expected in [([0, 2], {"10": 3, "01": 5, "00": 2}), ([2, 0], {"10": 3, "01": 5,
                             "00": 2}), ([1], {"1": 10}), ([], {"": 10}),
                             (range(3), counts)]:
        assert marginal_counts(counts, qubits) == expected
    for qubits, bad, message in [([0, 0], counts, "distinct qubits"), ([-1], counts, "distinct"),
                                 ([3], counts, "qubit 3 is out of range for keys of 3 qubits"),
                                 ([0], {"01": 1, "1": 1}, "strings of 0 and 1 of one length"),
                                 ([0], {"0a": 1}, "strings of 0 and 1"),
                                 ([0], {5: 1}, "strings of 0 and 1")]:
        with pytest.raises(ValueError, match=message):
            marginal_counts(bad, qubits)


# -- command line, NumPy, examples in docstrings -------------------------------------------------

BELL = 'OPENQASM 2.0;\ninclude "qelib1.inc";\nqreg q[2];\ncreg c[2];\nh q[0];\ncx q[0],q[1];\n' \
       'measure q -> c;\n'


def kit_command(args, stdin=None):
    return subprocess.run([sys.executable, "-m", "amplion_kit", *args], input=stdin,
                          capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, PYTHONPATH=module_dir()))


def test_command_line(tmp_path):
    path = tmp_path / "bell.qasm"
    path.write_text(BELL)
    counts = amplion_kit.load(path).run(100, seed=5)
    result = kit_command(["run", str(path), "--shots", "100", "--seed", "5"])
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout == "".join("%s %d\n" % kv for kv in sorted(counts.items()))
    result = kit_command(["run", "-", "--shots", "100", "--seed", "5", "--statevector", "--json"],
                         stdin=BELL)
    assert json.loads(result.stdout) == {"counts": counts, "statevector": [
        [0.7071067811865475, 0.0], [0.0, 0.0], [0.0, 0.0], [0.7071067811865475, 0.0]]}
    result = kit_command(["run", "-", "--statevector"], stdin=BELL)
    assert result.stdout.splitlines() == ["00 0.7071067811865475 0.0", "01 0.0 0.0",
                                          "10 0.0 0.0", "11 0.7071067811865475 0.0"]
    for args, stdin, status, stderr in [
            (["run", "-", "--shots", "1"], BELL.replace("cx q[0],", "cx q[0];\n"), 2,
             "<stdin>:6:1: gate 'cx' takes 0 parameters and 2 qubits, got 0 and 1\n"),
            (["run", str(path) + ".missing", "--shots", "1"], None, 1, "python -m amplion_kit: "
             "error: [Errno 2] No such file or directory: '%s.missing'\n" % path),
            (["run", "-"], BELL, 2, None)]:
        result = kit_command(args, stdin)
        assert result.returncode == status and result.stdout == "", result
        assert stderr is None or result.stderr == stderr


def test_reading_and_running_need_no_numpy():
    code = textwrap.dedent("""
        import sys
        sys.modules["numpy"] = None
        import amplion, amplion_kit
        circuit = amplion_kit.from_qasm(%r)
        core = amplion.QuantumCircuit(2)
        core.h(0)
        core.cx(0, 1)
        assert circuit.run(100, seed=1) == core.run(100, seed=1)
        assert amplion_kit.from_qasm(circuit.to_qasm()) == circuit
        assert amplion_kit.sweep(circuit, repeat=2, shots=100, seed=1, executor="inline") == [
            circuit.run(100, seed=amplion_kit.task_seed(1, i)) for i in range(2)]
        assert "distributed" not in sys.modules and "tqdm" not in sys.modules
        print(sorted(amplion_kit.marginal_counts({"01": 3, "11": 4}, [1]).items()))
        try:
            circuit.statevector()
        except ImportError:
            print("statevector needs numpy")
    """) % BELL
    result = run_python(code)
    assert result.stdout.splitlines() == ["[('0', 3), ('1', 4)]", "statevector needs numpy"], \
        result.stderr


def test_docstring_examples():
    for module in [amplion_kit, amplion_kit.circuit, amplion_kit.parameters,
                   amplion_kit.qasm_reader, amplion_kit.qasm_writer, amplion_kit.quantities,
                   sys.modules["amplion_kit.sweep"]]:  # the package's `sweep` is the function
        failed, attempted = doctest.testmod(module)
        assert failed == 0 and attempted > 0, module.__name__
