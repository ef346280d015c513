"""amplion_kit's gates and OpenQASM 2.0: every gate against its dense matrix, the language by tables
of snippets, the corpus against a small dense NumPy evaluation written here, and exact round trips
through the writer."""
import math
import random
import re
import struct
from pathlib import Path

import numpy as np
import pytest

from amplion_kit import GATES, Circuit, Parameter, QasmError, from_qasm, load, to_qasm

CORPUS = Path(__file__).resolve().parents[1] / "data" / "qasm"
DOCS = Path(__file__).resolve().parents[2] / "docs" / "kit.md"
HEADER = 'OPENQASM 2.0; include "qelib1.inc";\n'

# -- the dense reference: matrices with the first qubit argument most significant -------------
I2, X, Y, Z = np.eye(2), np.array([[0, 1], [1, 0]]), np.array([[0, -1j], [1j, 0]]), np.diag([1, -1])
H = np.array([[1, 1], [1, -1]]) / math.sqrt(2)
SX = np.array([[1 + 1j, 1 - 1j], [1 - 1j, 1 + 1j]]) / 2
SWAP = np.eye(4)[[0, 2, 1, 3]]


def u3(theta, phi, lam):
    c, s = math.cos(theta / 2), math.sin(theta / 2)
    return np.array([[c, -np.exp(1j * lam) * s],
                     [np.exp(1j * phi) * s, np.exp(1j * (phi + lam)) * c]])


def phase(lam):
    return np.diag([1, np.exp(1j * lam)])


def rotation(pauli, theta):
    return math.cos(theta / 2) * np.eye(len(pauli)) - 1j * math.sin(theta / 2) * pauli


def controlled(u, controls=1):
    m = np.eye(2 ** controls * len(u), dtype=complex)
    m[-len(u):, -len(u):] = u
    return m


# The relative-phase Toffolis are what their qelib1.inc bodies compute.
RELATIVE_PHASE_BODIES = {
    "rccx": ("a,b,c", "u2(0,pi) c; u1(pi/4) c; cx b,c; u1(-pi/4) c; cx a,c; u1(pi/4) c; cx b,c; "
             "u1(-pi/4) c; u2(0,pi) c;"),
    "rc3x": ("a,b,c,d", "u2(0,pi) d; u1(pi/4) d; cx c,d; u1(-pi/4) d; u2(0,pi) d; cx a,d; "
             "u1(pi/4) d; cx b,d; u1(-pi/4) d; cx a,d; u1(pi/4) d; cx b,d; u1(-pi/4) d; "
             "u2(0,pi) d; u1(pi/4) d; cx c,d; u1(-pi/4) d; u2(0,pi) d;"),
}

REFERENCE = {
    "U": u3, "u3": u3, "u": u3, "u2": lambda p, l: u3(math.pi / 2, p, l), "u1": phase, "p": phase,
    "u0": lambda g: I2, "id": lambda: I2,
    "rx": lambda t: rotation(X, t), "ry": lambda t: rotation(Y, t), "rz": lambda t: rotation(Z, t),
    "x": lambda: X, "y": lambda: Y, "z": lambda: Z, "h": lambda: H, "s": lambda: phase(math.pi / 2),
    "sdg": lambda: phase(-math.pi / 2), "t": lambda: phase(math.pi / 4),
    "tdg": lambda: phase(-math.pi / 4), "sx": lambda: SX, "sxdg": lambda: SX.conj().T,
    "cx": lambda: controlled(X), "CX": lambda: controlled(X), "cy": lambda: controlled(Y),
    "cz": lambda: controlled(Z), "ch": lambda: controlled(H), "swap": lambda: SWAP,
    "crx": lambda t: controlled(rotation(X, t)), "cry": lambda t: controlled(rotation(Y, t)),
    "crz": lambda t: controlled(rotation(Z, t)), "cu1": lambda l: controlled(phase(l)),
    "cp": lambda l: controlled(phase(l)), "cu3": lambda t, p, l: controlled(u3(t, p, l)),
    "cu": lambda t, p, l, g: controlled(np.exp(1j * g) * u3(t, p, l)),
    "csx": lambda: controlled(SX), "rxx": lambda t: rotation(np.kron(X, X), t),
    "rzz": lambda t: rotation(np.kron(Z, Z), t), "ccx": lambda: controlled(X, 2),
    "cswap": lambda: controlled(SWAP), "c3x": lambda: controlled(X, 3),
    "c3sqrtx": lambda: controlled(SX, 3), "c4x": lambda: controlled(X, 4),
    "rccx": lambda: body_unitary(*RELATIVE_PHASE_BODIES["rccx"]),
    "rc3x": lambda: body_unitary(*RELATIVE_PHASE_BODIES["rc3x"]),
}


def apply_matrix(state, matrix, qubits, n):
    k = len(qubits)
    axes = [n - 1 - q for q in qubits]
    tensor = np.tensordot(matrix.reshape([2] * 2 * k), state.reshape([2] * n),
                          axes=(list(range(k, 2 * k)), axes))
    return np.moveaxis(tensor, list(range(k)), axes).reshape(-1)


def split(text):
    return [part.strip() for part in (text or "").split(",") if part.strip()]


def value(expression, env):
    names = {"pi": math.pi, "sin": math.sin, "cos": math.cos, "tan": math.tan, "exp": math.exp,
             "ln": math.log, "sqrt": math.sqrt, **env}
    return float(eval(expression.replace("^", "**"), {"__builtins__": {}}, names))


def reference_state(text, state=None):
    """The final state of an OpenQASM 2 text without conditions: regular expressions and eval,
    gate definitions expanded by substitution, measurements and barriers skipped."""
    text = re.sub(r"//[^\n]*", "", text)
    defined = {}

    def define(match):
        name, params, args, body = match.groups()
        defined[name] = (split(params), split(args), [s for s in body.split(";") if s.strip()])
        return ""

    text = re.sub(r"gate\s+(\w+)\s*(?:\(([^)]*)\))?([^{]*)\{([^}]*)\}", define, text)
    registers, n = {}, 0
    for name, size in re.findall(r"qreg\s+(\w+)\s*\[\s*(\d+)\s*\]", text):
        registers[name], n = (n, int(size)), n + int(size)
    if state is None:
        state = np.zeros(2 ** n, complex)
        state[0] = 1

    def call(state, statement, env, bind):
        name, params, args = re.match(r"\s*(\w+)\s*(?:\((.*)\))?(.*)", statement, re.S).groups()
        params = [value(p, env) for p in split(params)]
        if name in defined:
            names, qargs, body = defined[name]
            inner = dict(zip(names, params))
            outer = dict(zip(qargs, [bind[a] for a in split(args)]))
            for sub in body:
                if not sub.strip().startswith("barrier"):
                    state = call(state, sub, inner, outer)
            return state
        return apply_matrix(state, REFERENCE[name](*params), [bind[a] for a in split(args)], n)

    for statement in text.split(";"):
        word = statement.split()[0] if statement.split() else ""
        if word in ("", "OPENQASM", "include", "qreg", "creg", "measure", "barrier"):
            continue
        head, args = re.match(r"\s*(\w+\s*(?:\(.*\))?)(.*)", statement, re.S).groups()
        lists = []
        for arg in split(args):
            reg, index = re.match(r"(\w+)\s*(?:\[\s*(\d+)\s*\])?", arg).groups()
            first, size = registers[reg]
            lists.append([first + int(index)] if index else list(range(first, first + size)))
        for k in range(max(len(l) for l in lists)):
            qubits = [l[k] if len(l) > 1 else l[0] for l in lists]
            bind = {"q%d" % i: q for i, q in enumerate(qubits)}
            state = call(state, "%s %s" % (head, ",".join(bind)), {}, bind)
    return state


def body_unitary(args, body):
    k = len(split(args))
    text = "qreg q[%d]; gate g %s { %s } g %s;" % (
        k, args, body, ",".join("q[%d]" % (k - 1 - i) for i in range(k)))
    columns = [reference_state(text, np.eye(2 ** k)[j]) for j in range(2 ** k)]
    return np.array(columns).T


def kit_unitary(name, params):
    """Columns of the gate's matrix from Circuit.statevector(), first argument on the top qubit."""
    k = len(GATES[name].qubits)
    columns = []
    for j in range(2 ** k):
        circuit = Circuit(k)
        for q in range(k):
            if j >> q & 1:
                circuit.x(q)
        columns.append(circuit.append(name, range(k - 1, -1, -1), params).statevector())
    return np.array(columns).T


# -- gates ---------------------------------------------------------------------------------------

def test_every_gate_matches_its_matrix_with_its_global_phase():
    assert set(REFERENCE) == set(GATES)
    rng = random.Random(20)
    for name, gate in GATES.items():
        for params in ([0.0] * len(gate.params), [rng.uniform(-7, 7) for _ in gate.params]):
            expected = REFERENCE[name](*params)
            assert np.abs(kit_unitary(name, params) - expected).max() < 1e-14, (name, params)


def test_docs_list_every_gate_of_the_table():
    rows = ["| `%s` | %d | %s | %s |" % (g.name, len(g.qubits), ", ".join(g.params) or "",
                                         g.matrix) for g in GATES.values()]
    text = DOCS.read_text()
    assert [line for line in text.splitlines() if line in rows] == rows


# -- the language --------------------------------------------------------------------------------

# (text after HEADER, or a whole program, and the circuit it reads as).
PI = math.pi
SNIPPETS = [
    ("qreg q[2]; h q; cx q[0], q[1];", Circuit(2).h(0).h(1).cx(0, 1)),
    ("qreg a[1];\nqreg b[2]; creg c[2]; creg d[1];\n"
     "cx a[0], b; measure b -> c; measure a[0] -> d[0];",
     Circuit(3, 3, qregs=[("a", 1), ("b", 2)], cregs=[("c", 2), ("d", 1)])
     .cx(0, 1).cx(0, 2).measure(1, 0).measure(2, 1).measure(0, 2)),
    ("qreg q[1]; rz(-pi/2 + 2*3^2 - 1.5e1/3) q[0]; rx(-2^2) q[0]; ry(2^-1) q[0]; rz(2^3^2) q[0];",
     Circuit(1).rz(0, -PI / 2 + 2 * 9.0 - 15.0 / 3).rx(0, -4.0).ry(0, 0.5).rz(0, 512.0)),
    ("qreg q[1]; u3(sin(pi/2), cos(0), tan(0.5)) q[0]; u2(exp(1), ln(2)) q[0]; u1(sqrt(2)) q[0];",
     Circuit(1).u3(0, 1.0, 1.0, math.tan(0.5)).u2(0, math.e, math.log(2)).u1(0, math.sqrt(2))),
    ("qreg q[1]; rz((1+2)*-3) q[0]; rz(.5) q[0]; rz(5.) q[0]; rz(1.5E-3) q[0]; rz(- -1) q[0];",
     Circuit(1).rz(0, -9.0).rz(0, 0.5).rz(0, 5.0).rz(0, 0.0015).rz(0, 1.0)),
    ("gate g(a,b) x,y { rz(a*b) x; cx x,y; }\ngate f(t) p,r { g(t, 2) r, p; barrier p, r; }\n"
     "qreg q[2]; f(0.25) q[0], q[1]; f(-1) q[1], q[0];",
     Circuit(2).rz(1, 0.5).cx(1, 0).barrier(0, 1).rz(0, -2.0).cx(0, 1).barrier(1, 0)),
    ("OPENQASM 2.0; qreg q[2]; U(0.1, 0.2, 0.3) q[0]; CX q[0], q[1];",
     Circuit(2).U(0, 0.1, 0.2, 0.3).CX(0, 1)),
    ("OPENQASM 2.0;\ngate h a { U(pi/2, 0, pi) a; }\nqreg q[1]; h q[0];",
     Circuit(1).U(0, PI / 2, 0.0, PI)),
    ("qreg q[2]; qreg r[1]; barrier q, r[0]; barrier r;",
     Circuit(3, qregs=[("q", 2), ("r", 1)]).barrier(0, 1, 2).barrier(2)),
    ("qreg q[2]; reset q; // a comment\nh q[0]; // the end", Circuit(2).reset(0).reset(1).h(0)),
    ("qreg q[1]; qreg r[3]; h() q; cx q[0], r; swap q, r[2];",
     Circuit(4, qregs=[("q", 1), ("r", 3)]).h(0).cx(0, 1).cx(0, 2).cx(0, 3).swap(0, 3)),
    ("qreg q[2]; creg c[2]; h q[0]; measure q[0] -> c[0]; x q[1]; barrier q; measure q[1] -> c[1];",
     Circuit(2, 2).h(0).measure(0, 0).x(1).barrier(0, 1).measure(1, 1)),
    ("qreg q[5]; c4x q[4],q[3],q[2],q[1],q[0]; rc3x q[0],q[1],q[2],q[3];\n"
     "cu(1.,2.,3.,4.) q[0],q[1];",
     Circuit(5).c4x(4, 3, 2, 1, 0).rc3x(0, 1, 2, 3).cu(0, 1, 1.0, 2.0, 3.0, 4.0)),
    ("include \"qelib1.inc\"; qreg q[1]; id q[0];", Circuit(1).id(0)),
]


@pytest.mark.parametrize("text, expected", SNIPPETS, ids=range(len(SNIPPETS)))
def test_snippets_read_as_their_circuits(text, expected):
    program = text if text.startswith("OPENQASM") else HEADER + text
    assert from_qasm(program) == expected


# (text after HEADER, or a whole program, line, column, message). HEADER is line 1.
ERRORS = [
    ("qreg q[2];\nOPENQASM 2.0;", 3, 1, "the header OPENQASM comes once"),
    ("OPENQASM 3.0;", 1, 10, "only OpenQASM 2.0 is read, this file is version 3.0"),
    ("qreg q[1];", 1, 1, "expected the header 'OPENQASM 2.0;', found 'qreg'"),
    ("qreg q[2]\nh q[0];", 3, 1, "expected ';' after the register, found 'h'"),
    ("qreg q[2];\nfoo q[0];", 3, 1, "unknown gate 'foo'"),
    ("OPENQASM 2.0;\nqreg q[1]; h q[0];", 2, 12, "unknown gate 'h' (add include \"qelib1.inc\";"),
    ("qreg q[2];\nh q[2];", 3, 3, "index 2 is out of range for q[2]"),
    ("qreg q[2];\ncx q[1], q[1];", 3, 1, "cx uses qubit q[1] twice"),
    ("qreg q[2];\nrx q[0];", 3, 1, "gate 'rx' takes 1 parameters and 1 qubits, got 0 and 1"),
    ("qreg q[2]; qreg r[3];\ncx q, r;", 3, 1, "whole registers of different sizes [2, 3]"),
    ("qreg q[2];\ncreg q[1];", 3, 6, "register 'q' is already declared"),
    ("gate h a { x a; }", 2, 6, "gate 'h' is already defined"),
    ("gate g a { x a; }\ngate g a { x a; }", 3, 6, "gate 'g' is already defined"),
    ("qreg q[1];\nrz(theta) q[0];", 3, 4, "unknown parameter 'theta'"),
    ("qreg q[1];\nrz(1e-5) q[0];", 3, 4, "a real number needs a decimal point, as in 1.0e-05"),
    ("qreg q[1];\nrz(2 * (1/0)) q[0];", 3, 10, "division by zero"),
    ("qreg q[1];\nrz(.) q[0];", 3, 4, "expected an expression, found '.'"),
    ("qreg q[1];\nrz(ln(0)) q[0];", 3, 4, "math domain error in ln()"),
    ("qreg q[1];\nrz(10.0^400) q[0];", 3, 8, "math range error in '^'"),
    ("gate g(a) x {\n  rz(1/a) x; }\nqreg q[1]; g(0) q[0];", 3, 7,
     "division by zero (in gate 'g')"),
    ("qreg q[1]; creg c[1];\nif (c == 1) x q[0];", 3, 1, "'if' is not supported"),
    ("opaque g a;", 2, 1, "opaque gate 'g' is not supported"),
    ("qreg q[1]; creg c[1]; measure q[0] -> c[0];\nx q[0];", 3, 1,
     "measurement in mid-circuit: q[0], measured at <qasm>:2, is used again by x"),
    ("qreg q[1]; h q[0];\nreset q[0];", 3, 1, "reset is not supported after q[0] was used"),
    ("qreg q[1];\nmeasure q -> c;", 3, 14, "'c' is not a declared classical register"),
    ("qreg q[1]; creg c[2];\nmeasure q -> c;", 3, 1, "measure of 1 qubits into 2 classical bits"),
    ("qreg q[1]; creg c[1];\nmeasure q -> c[0];", 3, 1, "measure needs two whole registers"),
    ("qreg Q[1];", 2, 6, "a register name must start with a lower-case letter"),
    ("qreg q[0];", 2, 8, "a qreg needs at least one bit"),
    ("gate g a { h a[0]; }", 2, 15, "a gate body uses its qubit arguments whole"),
    ("gate g a { h b; }", 2, 14, "'b' is not a qubit argument of gate 'g'"),
    ("gate g a { measure a -> c; }", 2, 12, "'measure' cannot appear in a gate body"),
    ("gate g(a, a) x { }", 2, 11, "'a' is declared twice in gate 'g'"),
    ("qreg q[1];\nh q[0]", 3, 7, "expected ';' after the arguments, found the end of the file"),
    ("qreg q[1];\nrx(pi q[0];", 3, 7, "expected ')' after the parameters, found 'q'"),
    ("qreg q[1];\nrx(*) q[0];", 3, 4, "expected an expression, found '*'"),
    ("qreg q[1]; barrier q, q[0];", 2, 12, "barrier lists a qubit twice"),
    ("include \"missing.inc\";", 2, 1, "cannot read included file 'missing.inc'"),
    ("qreg q[1]; h q[0]; $", 2, 20, "expected a statement, found '$'"),
    ("qreg q[1];\nrz(" + "(-" * 60 + "1" + ")" * 60 + ") q[0];", 3, 104,
     "expression nested too deeply"),
    ("gate g(a) x { rz(a" + "+a" * 250 + ") x; }", 2, 417, "expression too deep"),
]


@pytest.mark.parametrize("text, line, column, message", ERRORS, ids=range(len(ERRORS)))
def test_errors_name_the_place_and_what_was_expected(text, line, column, message):
    program = text if line == 1 or text.startswith("OPENQASM") else HEADER + text
    with pytest.raises(QasmError) as caught:
        from_qasm(program)
    error = caught.value
    assert (error.file, error.line, error.column) == ("<qasm>", line, column), str(error)
    assert message in error.message and str(error) == "<qasm>:%d:%d: %s" % (
        line, column, error.message)
    assert error.expected


def test_gates_nested_thousands_deep_expand():
    chain = ["gate g%d(t) a { g%d(t + 1) a; }" % (k, k - 1) for k in range(1, 3000)]
    text = HEADER + "gate g0(t) a { rz(t) a; }\n%s\nqreg q[1]; g2999(0.5) q[0];" % "\n".join(chain)
    assert from_qasm(text) == Circuit(1).rz(0, 2999.5)


def test_damaged_files_raise_only_qasm_errors():
    # Random deletions, duplications and substitutions of characters in real files: the reader
    # either reads the result or raises QasmError, never another exception from inside it.
    rng = random.Random(7)
    texts = [p.read_text() for p in sorted((CORPUS / "public").glob("*.qasm"))[:12]]
    alphabet = "qc[]();,{}->=\"/ *^.0123456789abexpiUCXgatemeasurbifnlude\n"
    outcomes = {"read": 0, "refused": 0}
    for _ in range(600):
        text = rng.choice(texts)
        for _ in range(rng.randint(1, 3)):
            at = rng.randrange(len(text))
            text = rng.choice([text[:at] + text[at + 1:], text[:at] + text[at] + text[at:],
                               text[:at] + rng.choice(alphabet) + text[at + 1:]])
        try:
            from_qasm(text)
            outcomes["read"] += 1
        except QasmError:
            outcomes["refused"] += 1
    assert min(outcomes.values()) > 50, outcomes


def test_included_files_are_read_beside_the_including_file(tmp_path):
    (tmp_path / "lib").mkdir()
    (tmp_path / "lib" / "mine.inc").write_text("gate bell a, b { h a; cx a, b; }\n")
    (tmp_path / "main.qasm").write_text(
        HEADER + 'include "lib/mine.inc";\nqreg q[2]; bell q[1], q[0];')
    assert load(tmp_path / "main.qasm") == Circuit(2).h(1).cx(1, 0)
    (tmp_path / "lib" / "mine.inc").write_text("gate bell a, b { h a; cx a, b }\n")
    with pytest.raises(QasmError, match=r"mine.inc:1:31: expected ';' after the arguments"):
        load(tmp_path / "main.qasm")
    (tmp_path / "self.qasm").write_text(HEADER + 'include "self.qasm";')
    with pytest.raises(QasmError, match="include of 'self.qasm' nests too deep or includes itself"):
        load(tmp_path / "self.qasm")


# -- the corpus ----------------------------------------------------------------------------------

@pytest.mark.parametrize("path", sorted((CORPUS / "public").glob("*.qasm")), ids=lambda p: p.stem)
def test_public_circuits_match_the_dense_reference(path):
    circuit = load(path)
    expected = reference_state(path.read_text())
    assert np.abs(circuit.statevector() - expected).max() < 1e-12
    assert from_qasm(to_qasm(circuit)) == circuit
    # Every sampled outcome is possible: its classical bits read the measured qubits of a basis
    # state of non-zero weight.
    measured = {op.params[0]: op.qubits[0] for op in circuit if op.name == "measure"}
    weights = np.abs(expected) ** 2
    for key in circuit.run(200, seed=11):
        bits = {c: key[circuit.n_clbits - 1 - c] == "1" for c in range(circuit.n_clbits)}
        possible = [i for i in range(len(weights)) if weights[i] > 1e-20 and all(
            bool(i >> q & 1) == bits[c] for c, q in measured.items())]
        assert possible and all(b is False for c, b in bits.items() if c not in measured), key


REFUSED = {"bb84_n8": (40, "measurement in mid-circuit: q[0], measured at "),
           "inverseqft_n4": (13, "'if' is not supported"),
           "ipea_n2": (29, "reset is not supported after q[0] was used"),
           "shor_n5": (9, "reset is not supported after q[4] was used")}


def test_refused_circuits_name_the_construct_and_its_line():
    paths = sorted((CORPUS / "refused").glob("*.qasm"))
    assert [p.stem for p in paths] == sorted(REFUSED)
    for path in paths:
        line, message = REFUSED[path.stem]
        with pytest.raises(QasmError) as caught:
            load(path)
        assert (caught.value.file, caught.value.line) == (str(path), line)
        assert caught.value.message.startswith(message)


# -- writing -------------------------------------------------------------------------------------

def bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


REALS = [(1e-05, "1.0e-05"), (-0.0, "-0.0"), (1e16, "1.0e+16"), (0.1, "0.1"), (3.0, "3.0"),
         (-2.5e-300, "-2.5e-300"), (5e-324, "5.0e-324"), (math.pi, "3.141592653589793"),
         (1.7976931348623157e308, "1.7976931348623157e+308")]


def test_angles_are_written_exactly():
    circuit = Circuit(1)
    for angle, _ in REALS:
        circuit.rz(0, angle)
    lines = to_qasm(circuit).splitlines()
    assert lines[:3] == ["OPENQASM 2.0;", 'include "qelib1.inc";', "qreg q[1];"]
    assert lines[3:] == ["rz(%s) q[0];" % text for _, text in REALS]
    back = from_qasm(to_qasm(circuit))
    assert [bits(op.params[0]) for op in back] == [bits(angle) for angle, _ in REALS]


@pytest.mark.parametrize("angle, message", [
    (math.inf, "cannot write the angle inf"), (-math.inf, "cannot write the angle -inf"),
    (math.nan, "cannot write the angle nan"),
    (Parameter("phi") + Parameter("beta"), "cannot write unbound parameters beta, phi")])
def test_writing_refuses_what_the_language_cannot_hold(angle, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        Circuit(2).h(0).rx(1, angle).to_qasm()
    with pytest.raises(ValueError, match="cannot write register 'Q' as OpenQASM"):
        Circuit(1, qregs=[("Q", 1)]).to_qasm()


def test_every_gate_and_statement_round_trips():
    rng = random.Random(3)
    circuit = Circuit(6, 4, qregs=[("a", 2), ("b", 4)], cregs=[("m", 1), ("n", 3)]).reset(5)
    for _ in range(3):
        for name, gate in GATES.items():
            circuit.append(name, rng.sample(range(5), len(gate.qubits)),
                           [rng.uniform(-1e3, 1e3) * 10.0 ** rng.randint(-20, 5)
                            for _ in gate.params])
    circuit.barrier(0, 2, 4).measure(3, 1).measure(4, 3).measure(3, 0)
    text = to_qasm(circuit)
    assert from_qasm(text) == circuit and to_qasm(from_qasm(text)) == text
