"""The gate methods of StateVecPy as Python sees them: signatures, argument handling, messages,
borrows, and amplitudes compared by bit pattern."""

import math
import textwrap

import pytest

from amplion import StateVecPy
from conftest import run_python, state_bits

SQRT_DOC = "√X dagger (SXdg) on qubit q. Matrix = (1/2)[[1-i, 1+i],[1+i,1-i]]."
RX_DOC = "RX(θ) on qubit q: exp(-i θ X / 2)."

# name, text signature, __doc__, in the order of the class's method table
GATES = [
    ("x", "($self, q)", None),
    ("y", "($self, q)", None),
    ("z", "($self, q)", None),
    ("h", "($self, q)", None),
    ("s", "($self, q)", None),
    ("sdg", "($self, q)", None),
    ("t", "($self, q)", None),
    ("tdg", "($self, q)", None),
    ("sx", "($self, q)", None),
    ("sxdg", "($self, q)", SQRT_DOC),
    ("rx", "($self, q, theta)", RX_DOC),
    ("ry", "($self, q, theta)", None),
    ("rz", "($self, q, theta)", None),
    ("cx", "($self, control, target)", None),
    ("swap", "($self, q1, q2)", None),
    ("cy", "($self, control, target)", None),
    ("cz", "($self, control, target)", None),
    ("ccx", "($self, c1, c2, t)", None),
    ("cswap", "($self, c, t1, t2)", None),
    ("cp", "($self, control, target, theta)", None),
]

ZERO = 0x0000000000000000
NEG_ZERO = 0x8000000000000000
ONE = 0x3FF0000000000000
NEG_ONE = 0xBFF0000000000000
INV_SQRT2 = 0x3FE6A09E667F3BCC  # 0.7071067811865475
COS_QUARTER = 0x3FE6A09E667F3BCD  # 0.7071067811865476
TWO_H_SQUARED = 0x3FEFFFFFFFFFFFFE  # 0.9999999999999998
COS_HALF_PI = 0x3C91A62633145C07  # 6.123233995736766e-17
SIN_PI = 0x3CA1A62633145C07  # 1.2246467991473532e-16
PI = 3.141592653589793


def scrambled(n_qubits):
    """A register whose amplitudes are all distinct and non-zero."""
    sv = StateVecPy(n_qubits, seed=3)
    for q in range(n_qubits):
        sv.ry(q, 0.3 + 0.2 * q)
        sv.rz(q, 0.7 - 0.1 * q)
    return sv


@pytest.mark.parametrize("name,signature,doc", GATES, ids=[g[0] for g in GATES])
def test_text_signature_and_doc(name, signature, doc):
    method = getattr(StateVecPy, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


def test_gate_methods_keep_the_table_order():
    names = [name for name in vars(StateVecPy) if name in dict((g[0], g) for g in GATES)]
    assert names == [g[0] for g in GATES]


EDGE_CASES = [
    ("h", 1, lambda sv: sv.h(0), {0: (INV_SQRT2, ZERO), 1: (INV_SQRT2, ZERO)}),
    ("h h", 1, lambda sv: (sv.h(0), sv.h(0)), {0: (TWO_H_SQUARED, ZERO), 1: (ZERO, ZERO)}),
    ("x t", 1, lambda sv: (sv.x(0), sv.t(0)), {1: (COS_QUARTER, INV_SQRT2)}),
    ("x z", 1, lambda sv: (sv.x(0), sv.z(0)), {1: (NEG_ONE, NEG_ZERO)}),
    ("x sdg", 1, lambda sv: (sv.x(0), sv.sdg(0)), {1: (ZERO, NEG_ONE)}),
    ("y", 1, lambda sv: sv.y(0), {0: (ZERO, NEG_ZERO), 1: (ZERO, ONE)}),
    ("rz pi", 1, lambda sv: sv.rz(0, PI), {0: (COS_HALF_PI, NEG_ONE), 1: (ZERO, ZERO)}),
    ("rx pi", 1, lambda sv: sv.rx(0, PI), {0: (COS_HALF_PI, ZERO), 1: (ZERO, NEG_ONE)}),
    ("ry pi", 1, lambda sv: sv.ry(0, PI), {0: (COS_HALF_PI, ZERO), 1: (ONE, ZERO)}),
    ("x on qubit 2", 3, lambda sv: sv.x(2), {0: (ZERO, ZERO), 4: (ONE, ZERO)}),
    (
        "bell",
        2,
        lambda sv: (sv.h(0), sv.cx(0, 1)),
        {0: (INV_SQRT2, ZERO), 1: (ZERO, ZERO), 2: (ZERO, ZERO), 3: (INV_SQRT2, ZERO)},
    ),
    ("cz", 2, lambda sv: sv.cz(0, 1), {3: (NEG_ZERO, NEG_ZERO)}),
    ("cy", 2, lambda sv: (sv.x(0), sv.cy(0, 1)), {1: (ZERO, NEG_ZERO), 3: (ZERO, ONE)}),
    ("cp pi", 2, lambda sv: (sv.x(0), sv.x(1), sv.cp(0, 1, PI)), {3: (NEG_ONE, SIN_PI)}),
    ("ccx(c, c, t)", 2, lambda sv: (sv.x(1), sv.ccx(1, 1, 0)), {2: (ZERO, ZERO), 3: (ONE, ZERO)}),
    (
        "cswap(c, c, t2)",
        2,
        lambda sv: (sv.x(0), sv.cswap(0, 0, 1)),
        {1: (ZERO, ZERO), 2: (ONE, ZERO)},
    ),
]


@pytest.mark.parametrize("name,n_qubits,gates,expected", EDGE_CASES, ids=[c[0] for c in EDGE_CASES])
def test_edge_values_bit_for_bit(name, n_qubits, gates, expected):
    sv = StateVecPy(n_qubits, seed=1)
    gates(sv)
    got = state_bits(sv)
    for index, pair in expected.items():
        assert got[index] == pair, f"amplitude {index}: {got[index][0]:#x}, {got[index][1]:#x}"


# Arguments in range on a three-qubit register, and the same call with one index out of range.
INDEX_ERRORS = [
    ("h", (3,), "qubit index out of range"),
    ("x", (2**64 - 1,), "qubit index out of range"),
    ("y", (64,), "qubit index out of range"),
    ("z", (3,), "qubit index out of range"),
    ("s", (3,), "qubit index out of range"),
    ("sdg", (3,), "qubit index out of range"),
    ("t", (3,), "qubit index out of range"),
    ("tdg", (3,), "qubit index out of range"),
    ("sx", (3,), "qubit index out of range"),
    ("sxdg", (3,), "qubit index out of range"),
    ("rx", (3, 0.5), "qubit index out of range"),
    ("ry", (3, 0.5), "qubit index out of range"),
    ("rz", (3, 0.5), "qubit index out of range"),
    ("cx", (3, 0), "control/target index out of range"),
    ("cx", (0, 3), "control/target index out of range"),
    ("cy", (1, 3), "control/target index out of range"),
    ("cy", (2**64 - 1, 0), "control/target index out of range"),
    ("cz", (0, 3), "control/target index out of range"),
    ("cz", (3, 3), "control/target index out of range"),
    ("cp", (3, 0, 1.0), "control/target index out of range"),
    ("cp", (0, 64, 1.0), "control/target index out of range"),
    ("swap", (0, 3), "swap index out of range"),
    ("ccx", (0, 1, 3), "index out of range"),
    ("ccx", (3, 1, 0), "index out of range"),
    ("cswap", (3, 0, 1), "qubit index out of range"),
    ("cswap", (0, 1, 2**64 - 1), "qubit index out of range"),
]


@pytest.mark.parametrize("name,args,message", INDEX_ERRORS)
def test_index_error_leaves_register_unchanged(name, args, message):
    sv = scrambled(3)
    before = state_bits(sv)
    with pytest.raises(IndexError) as info:
        getattr(sv, name)(*args)
    assert str(info.value) == message
    assert state_bits(sv) == before
    sv.h(2)  # not left borrowed
    assert state_bits(sv) != before


@pytest.mark.parametrize("name", ["rx", "ry", "rz", "cp"])
def test_theta_is_converted_before_the_index_check(name):
    sv = StateVecPy(1, seed=1)
    indices = (5,) if name != "cp" else (5, 5)
    with pytest.raises(TypeError) as info:
        getattr(sv, name)(*indices, "half")
    assert str(info.value) == "argument 'theta': must be real number, not str"
    with pytest.raises(IndexError):
        getattr(sv, name)(*indices, 0.5)


def test_qubit_is_converted_before_theta():
    sv = StateVecPy(1, seed=1)
    with pytest.raises(TypeError) as info:
        sv.rx("q", "theta")
    assert str(info.value) == "argument 'q': 'str' object cannot be interpreted as an integer"
    with pytest.raises(OverflowError):
        sv.rz(-1, 0.5)


@pytest.mark.parametrize("name", ["rx", "ry", "rz"])
def test_integer_theta_equals_float_theta(name):
    by_int, by_float = StateVecPy(2, seed=1), StateVecPy(2, seed=1)
    getattr(by_int, name)(1, 3)
    getattr(by_float, name)(1, 3.0)
    assert state_bits(by_int) == state_bits(by_float)
    assert state_bits(by_int) != state_bits(StateVecPy(2, seed=1))


@pytest.mark.parametrize("name", ["rx", "ry", "rz"])
@pytest.mark.parametrize("theta", [math.nan, math.inf, -math.inf])
def test_non_finite_rotation_writes_nan_everywhere(name, theta):
    sv = StateVecPy(2, seed=1)
    getattr(sv, name)(0, theta)
    for i in range(sv.length()):
        re, im = sv.amplitude(i)
        assert math.isnan(re) and math.isnan(im)


KEYWORD_CALLS = [
    ("cx", {"control": 0, "target": 1}, {"c": 0, "t": 1}),
    ("cy", {"control": 0, "target": 1}, {"c": 0, "t": 1}),
    ("cz", {"control": 0, "target": 1}, {"c": 0, "t": 1}),
    ("cp", {"control": 0, "target": 1, "theta": 0.5}, {"c": 0, "t": 1, "theta": 0.5}),
    ("swap", {"q1": 0, "q2": 2}, {"a": 0, "b": 2}),
    ("ccx", {"c1": 0, "c2": 1, "t": 2}, {"c": 0, "c2": 1, "t": 2}),
    ("cswap", {"c": 0, "t1": 1, "t2": 2}, {"control": 0, "t1": 1, "t2": 2}),
    ("rx", {"q": 1, "theta": 0.25}, {"qubit": 1, "theta": 0.25}),
]


@pytest.mark.parametrize("name,good,bad", KEYWORD_CALLS, ids=[k[0] for k in KEYWORD_CALLS])
def test_keyword_arguments(name, good, bad):
    by_keyword, by_position = scrambled(3), scrambled(3)
    getattr(by_keyword, name)(**good)
    getattr(by_position, name)(*good.values())
    assert state_bits(by_keyword) == state_bits(by_position)
    before = state_bits(by_keyword)
    with pytest.raises(TypeError, match="unexpected keyword argument"):
        getattr(by_keyword, name)(**bad)
    assert state_bits(by_keyword) == before


class ReadsDuringConversion:
    """An index whose conversion calls back into the register it is passed to."""

    def __init__(self, sv, value):
        self.sv = sv
        self.value = value
        self.inner_error = None

    def __index__(self):
        try:
            self.sv.amplitude(0)
        except RuntimeError as error:
            self.inner_error = error
            raise
        return self.value


def test_reentrant_read_during_index_conversion_is_refused():
    sv = StateVecPy(1, seed=1)
    arg = ReadsDuringConversion(sv, 0)
    with pytest.raises(RuntimeError) as info:
        sv.h(arg)
    assert str(info.value) == "Already mutably borrowed"
    assert info.value is arg.inner_error
    assert state_bits(sv) == [(ONE, ZERO), (ZERO, ZERO)]
    sv.h(0)  # the borrow was released
    assert state_bits(sv) == [(INV_SQRT2, ZERO), (INV_SQRT2, ZERO)]


def test_reentrant_gate_during_theta_conversion_is_refused():
    sv = StateVecPy(1, seed=1)
    seen = []

    class Angle:
        def __float__(self):
            try:
                sv.x(0)
            except RuntimeError as error:
                seen.append(str(error))
            return PI

    sv.ry(0, Angle())
    assert seen == ["Already borrowed"]
    assert state_bits(sv)[1] == (ONE, ZERO)  # ry(pi) ran; the inner x did not


def test_refused_allocation_raises_memory_error_and_keeps_the_register():
    script = textwrap.dedent(
        """
        import os, resource, struct
        import amplion

        def mapped():
            with open("/proc/self/statm") as f:
                return int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")

        sv = amplion.StateVecPy(20, seed=1)
        sv.x_cpp(3)  # in place: no spare vector is left to compute into
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        resource.setrlimit(resource.RLIMIT_AS, (mapped() + (8 << 20), hard))
        for call in (lambda: sv.h(0), lambda: sv.cy(3, 19), lambda: sv.rx(19, 0.5)):
            try:
                call()
                print("no error")
            except MemoryError as error:
                print(error)
        sv.z(3)
        sv.cx(3, 0)
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        print(sv.amplitude(8), sv.amplitude(9))
        sv.h(0)
        print(sv.amplitude(8))
        """
    )
    result = run_python(script)
    assert result.returncode == 0, result.stderr
    message = "cannot allocate 16777216 bytes for 20 qubits"
    assert result.stdout.splitlines() == [
        message,
        message,
        message,
        "(-0.0, -0.0) (-1.0, -0.0)",
        "(-0.7071067811865475, -0.0)",
    ]
