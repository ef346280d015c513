"""The gate set: one row per gate that a circuit and OpenQASM 2 know, with its argument names and
its expansion into amplion's own gates plus the global phase that expansion drops.

Qubit q is bit q of the basis-state index. A controlled gate applies its target matrix where every
control is 1; `matrix` says, for the documentation, which matrix each name means. An expansion
takes the gate's qubits and bound angles and returns the amplion calls, in order, and a phase φ
such that the gate's matrix is e^(iφ) times the product of those calls.
"""
from __future__ import annotations

import math
from typing import Callable, Dict, List, NamedTuple, Sequence, Tuple, Union

# One amplion gate call: the method name shared by StateVecPy and QuantumCircuit, and its
# positional arguments (qubits, then the angle).
CoreCall = Tuple[str, Tuple[Union[int, float], ...]]
Expansion = Tuple[List[CoreCall], float]
Expander = Callable[[Sequence[int], Sequence[float]], Expansion]

PI = math.pi


class Gate(NamedTuple):
    name: str
    qubits: Tuple[str, ...]  # argument names, in call order
    params: Tuple[str, ...]  # angle names, in call order
    expand: Expander
    core: bool  # amplion has it, with the same qubits and angle
    qelib1: bool  # defined by include "qelib1.inc"; U and CX are the language's own
    matrix: str


def _core(name: str) -> Expander:
    return lambda q, p: ([(name, (*q, *p))], 0.0)


def _u3(q: int, theta: float, phi: float, lam: float) -> Expansion:
    # u3 = e^(i(φ+λ)/2) · rz(φ) ry(θ) rz(λ)
    return [("rz", (q, lam)), ("ry", (q, theta)), ("rz", (q, phi))], (phi + lam) * 0.5


def _phase(q: int, lam: float) -> CoreCall:
    # cp with both qubits equal multiplies the amplitudes where q is 1 by e^(iλ): diag(1, e^(iλ)).
    return ("cp", (q, q, lam))


def _cu3(c: int, t: int, theta: float, phi: float, lam: float, gamma: float) -> Expansion:
    # e^(iγ)·u3 on t where c is 1: rz(φ) ry(θ) rz(λ) = A X B X C with ABC = 1, and the phase
    # e^(i(γ + (φ+λ)/2)) on c's |1>.
    return [("rz", (t, (lam - phi) * 0.5)), ("cx", (c, t)),
            ("rz", (t, -(phi + lam) * 0.5)), ("ry", (t, -theta * 0.5)), ("cx", (c, t)),
            ("ry", (t, theta * 0.5)), ("rz", (t, phi)),
            _phase(c, gamma + (phi + lam) * 0.5)], 0.0


def _controlled_rotation(rotation: str, flip: str) -> Expander:
    # flip·r(-θ/2)·flip = r(θ/2) on the target where the control is 1, r(-θ/2) r(θ/2) = 1 elsewhere.
    return lambda q, p: ([(rotation, (q[1], p[0] * 0.5)), (flip, (q[0], q[1])),
                          (rotation, (q[1], -p[0] * 0.5)), (flip, (q[0], q[1]))], 0.0)


def _all_ones_phase(qubits: Sequence[int], theta: float) -> List[CoreCall]:
    """diag(..., e^(iθ)) on the state where every qubit is 1, without extra qubits.

    The product of k bits is the alternating sum of the parities of their non-empty subsets,
    divided by 2^(k-1). Each parity is gathered on the subset's highest qubit by CX gates along a
    Gray code, phased there, and scattered again.
    """
    unit = theta / 2 ** (len(qubits) - 1)
    calls: List[CoreCall] = []
    for m, top in enumerate(qubits):
        size, previous = 1, 0
        for step in range(1 << m):
            gray = step ^ (step >> 1)
            if step:
                bit = (gray ^ previous).bit_length() - 1
                calls.append(("cx", (qubits[bit], top)))
                size += 1 if gray >> bit & 1 else -1
            calls.append(_phase(top, unit if size % 2 else -unit))
            previous = gray
        if m:
            calls.append(("cx", (qubits[m - 1], top)))  # a Gray code ends on its highest bit
    return calls


def _multi_controlled_x_power(power: float) -> Expander:
    # X^power = H diag(1, e^(iπ·power)) H, applied where every control is 1.
    def expand(q: Sequence[int], p: Sequence[float]) -> Expansion:
        target = q[-1]
        return [("h", (target,)), *_all_ones_phase(q, PI * power), ("h", (target,))], 0.0
    return expand


def _h(q: int) -> CoreCall:
    return ("h", (q,))


def _t(q: int) -> CoreCall:
    return ("t", (q,))


def _tdg(q: int) -> CoreCall:
    return ("tdg", (q,))


def _cx(c: int, t: int) -> CoreCall:
    return ("cx", (c, t))


# The relative-phase Toffoli gates keep the matrices of their qelib1.inc bodies, where u2(0,π) is
# exactly H and u1(±π/4) is T or T†.
def _rccx(q: Sequence[int], p: Sequence[float]) -> Expansion:
    a, b, c = q
    return [_h(c), _t(c), _cx(b, c), _tdg(c), _cx(a, c), _t(c), _cx(b, c), _tdg(c), _h(c)], 0.0


def _rc3x(q: Sequence[int], p: Sequence[float]) -> Expansion:
    a, b, c, d = q
    return [_h(d), _t(d), _cx(c, d), _tdg(d), _h(d),
            _cx(a, d), _t(d), _cx(b, d), _tdg(d), _cx(a, d), _t(d), _cx(b, d), _tdg(d),
            _h(d), _t(d), _cx(c, d), _tdg(d), _h(d)], 0.0


def _ch(q: Sequence[int], p: Sequence[float]) -> Expansion:
    # H = (S H T) X (T† H S†) with (S H T)(T† H S†) = 1.
    c, t = q
    return [("sdg", (t,)), _h(t), _tdg(t), _cx(c, t), _t(t), _h(t), ("s", (t,))], 0.0


def _rzz(q: Sequence[int], p: Sequence[float]) -> Expansion:
    return [_cx(q[0], q[1]), ("rz", (q[1], p[0])), _cx(q[0], q[1])], 0.0


def _rxx(q: Sequence[int], p: Sequence[float]) -> Expansion:
    a, b = q
    return [_h(a), _h(b), *_rzz(q, p)[0], _h(a), _h(b)], 0.0


def _one(name: str, matrix: str, core: bool = True) -> Gate:
    return Gate(name, ("q",), (), _core(name), core, True, matrix)


def _rotation(name: str, matrix: str) -> Gate:
    return Gate(name, ("q",), ("theta",), _core(name), True, True, matrix)


CONTROL_TARGET = ("control", "target")
U3_MATRIX = "[[cos(θ/2), −e^(iλ)·sin(θ/2)], [e^(iφ)·sin(θ/2), e^(i(φ+λ))·cos(θ/2)]]"

GATES: Dict[str, Gate] = {g.name: g for g in [
    Gate("U", ("q",), ("theta", "phi", "lam"), lambda q, p: _u3(q[0], *p), False, False,
         "u3(θ, φ, λ)"),
    Gate("CX", ("control", "target"), (), _core("cx"), False, False, "controlled x"),
    Gate("u3", ("q",), ("theta", "phi", "lam"), lambda q, p: _u3(q[0], *p), False, True,
         U3_MATRIX),
    Gate("u2", ("q",), ("phi", "lam"), lambda q, p: _u3(q[0], PI / 2, *p), False, True,
         "u3(π/2, φ, λ)"),
    Gate("u1", ("q",), ("lam",), lambda q, p: ([_phase(q[0], p[0])], 0.0), False, True,
         "diag(1, e^(iλ))"),
    Gate("u", ("q",), ("theta", "phi", "lam"), lambda q, p: _u3(q[0], *p), False, True,
         "u3(θ, φ, λ)"),
    Gate("u0", ("q",), ("gamma",), lambda q, p: ([], 0.0), False, True, "identity"),
    Gate("p", ("q",), ("theta",), lambda q, p: ([_phase(q[0], p[0])], 0.0), False, True,
         "diag(1, e^(iθ))"),
    Gate("id", ("q",), (), lambda q, p: ([], 0.0), False, True, "identity"),
    _rotation("rx", "[[cos(θ/2), −i·sin(θ/2)], [−i·sin(θ/2), cos(θ/2)]]"),
    _rotation("ry", "[[cos(θ/2), −sin(θ/2)], [sin(θ/2), cos(θ/2)]]"),
    _rotation("rz", "diag(e^(−iθ/2), e^(iθ/2))"),
    _one("x", "[[0, 1], [1, 0]]"),
    _one("y", "[[0, −i], [i, 0]]"),
    _one("z", "diag(1, −1)"),
    _one("h", "[[1, 1], [1, −1]]/√2"),
    _one("s", "diag(1, i)"),
    _one("sdg", "diag(1, −i)"),
    _one("t", "diag(1, e^(iπ/4))"),
    _one("tdg", "diag(1, e^(−iπ/4))"),
    _one("sx", "[[1+i, 1−i], [1−i, 1+i]]/2"),
    _one("sxdg", "[[1−i, 1+i], [1+i, 1−i]]/2"),
    Gate("cx", CONTROL_TARGET, (), _core("cx"), True, True, "controlled x"),
    Gate("cy", CONTROL_TARGET, (), _core("cy"), True, True, "controlled y"),
    Gate("cz", CONTROL_TARGET, (), _core("cz"), True, True, "controlled z"),
    Gate("ch", CONTROL_TARGET, (), _ch, False, True, "controlled h"),
    Gate("swap", ("q1", "q2"), (), _core("swap"), True, True, "exchanges the two qubits"),
    Gate("crx", CONTROL_TARGET, ("theta",), _controlled_rotation("rx", "cz"), False, True,
         "controlled rx(θ)"),
    Gate("cry", CONTROL_TARGET, ("theta",), _controlled_rotation("ry", "cx"), False, True,
         "controlled ry(θ)"),
    Gate("crz", CONTROL_TARGET, ("theta",), _controlled_rotation("rz", "cx"), False, True,
         "controlled rz(θ)"),
    Gate("cu1", CONTROL_TARGET, ("lam",), _core("cp"), False, True, "controlled u1(λ)"),
    Gate("cp", CONTROL_TARGET, ("theta",), _core("cp"), True, True, "controlled p(θ)"),
    Gate("cu3", CONTROL_TARGET, ("theta", "phi", "lam"),
         lambda q, p: _cu3(q[0], q[1], p[0], p[1], p[2], 0.0), False, True,
         "controlled u3(θ, φ, λ)"),
    Gate("cu", CONTROL_TARGET, ("theta", "phi", "lam", "gamma"),
         lambda q, p: _cu3(q[0], q[1], p[0], p[1], p[2], p[3]), False, True,
         "controlled e^(iγ)·u3(θ, φ, λ)"),
    Gate("csx", CONTROL_TARGET, (), lambda q, p: (
        [_h(q[1]), ("cp", (q[0], q[1], PI / 2)), _h(q[1])], 0.0), False, True, "controlled sx"),
    Gate("rxx", ("q1", "q2"), ("theta",), _rxx, False, True, "exp(−iθ/2·X⊗X)"),
    Gate("rzz", ("q1", "q2"), ("theta",), _rzz, False, True, "exp(−iθ/2·Z⊗Z)"),
    Gate("ccx", ("c1", "c2", "t"), (), _core("ccx"), True, True, "x where c1 and c2 are 1"),
    Gate("cswap", ("c", "t1", "t2"), (), _core("cswap"), True, True,
         "exchanges t1 and t2 where c is 1"),
    Gate("rccx", ("c1", "c2", "t"), (), _rccx, False, True,
         "ccx up to relative phases: h, t, cx(c2, t), tdg, cx(c1, t), t, cx(c2, t), tdg, h "
         "in turn on t"),
    Gate("rc3x", ("c1", "c2", "c3", "t"), (), _rc3x, False, True,
         "c3x up to relative phases: its qelib1.inc body, where u2(0, π) is h and u1(±π/4) is "
         "t or tdg"),
    Gate("c3x", ("c1", "c2", "c3", "t"), (), _multi_controlled_x_power(1.0), False, True,
         "x where c1, c2, c3 are 1"),
    Gate("c3sqrtx", ("c1", "c2", "c3", "t"), (), _multi_controlled_x_power(0.5), False, True,
         "sx where c1, c2, c3 are 1"),
    Gate("c4x", ("c1", "c2", "c3", "c4", "t"), (), _multi_controlled_x_power(1.0), False, True,
         "x where c1, c2, c3, c4 are 1"),
]}
