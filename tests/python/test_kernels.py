"""The _cpp gates of StateVecPy as Python sees them, and their agreement with the plain gates."""
import itertools
import random

import pytest

from amplion import StateVecPy
from conftest import state_bits

KERNEL_METHODS = [
    ("h_cpp", "($self, q)"),
    ("x_cpp", "($self, q)"),
    ("cx_cpp", "($self, c, t)"),
    ("ccx_cpp", "($self, c1, c2, t)"),
    ("cswap_cpp", "($self, c, t1, t2)"),
]

# 0x3FE6A09E667F3BCC, 0x3FEFFFFFFFFFFFFE, 1.0 and 0.0 as bit patterns.
H_FACTOR = 0x3FE6A09E667F3BCC
ALMOST_ONE = 0x3FEFFFFFFFFFFFFE
ONE = 0x3FF0000000000000


def basis(n, k):
    """A fresh register holding basis state k, set with x_cpp."""
    sv = StateVecPy(n, seed=0)
    for q in range(n):
        if k >> q & 1:
            sv.x_cpp(q)
    return sv


def test_methods_lead_the_table_with_their_text_signatures():
    names = [name for name in vars(StateVecPy) if not name.startswith("__")]
    assert names[:5] == [name for name, _ in KERNEL_METHODS]
    for name, signature in KERNEL_METHODS:
        method = getattr(StateVecPy, name)
        assert method.__text_signature__ == signature, name
        assert method.__doc__ is None, name


def test_fresh_register_hadamard_twice():
    sv = StateVecPy(1, seed=0)
    assert sv.h_cpp(0) is None
    assert state_bits(sv) == [(H_FACTOR, 0), (H_FACTOR, 0)]
    sv.h_cpp(0)
    assert state_bits(sv) == [(ALMOST_ONE, 0), (0, 0)]


# Where basis state k ends up, for k = 0..7 on three qubits, worked out by hand.
IMAGES = [
    ("x_cpp", (2,), [4, 5, 6, 7, 0, 1, 2, 3]),
    ("cx_cpp", (0, 2), [0, 5, 2, 7, 4, 1, 6, 3]),
    ("ccx_cpp", (0, 1, 2), [0, 1, 2, 7, 4, 5, 6, 3]),
    ("ccx_cpp", (1, 1, 0), [0, 1, 3, 2, 4, 5, 7, 6]),
    ("cswap_cpp", (2, 0, 1), [0, 1, 2, 3, 4, 6, 5, 7]),
    ("cswap_cpp", (0, 0, 2), [0, 4, 2, 6, 1, 5, 3, 7]),
]


@pytest.mark.parametrize("name, args, images", IMAGES, ids=lambda v: str(v))
def test_exchange_gates_map_basis_states(name, args, images):
    for k in range(8):
        sv = basis(3, k)
        getattr(sv, name)(*args)
        want = [(0, 0)] * 8
        want[images[k]] = (ONE, 0)
        assert state_bits(sv) == want, k


def test_keyword_arguments_use_the_kernel_parameter_names():
    by_position = basis(3, 5)
    by_keyword = basis(3, 5)
    by_position.cswap_cpp(0, 1, 2)
    by_keyword.cswap_cpp(t2=2, c=0, t1=1)
    assert state_bits(by_keyword) == state_bits(by_position)
    with pytest.raises(TypeError) as info:
        by_keyword.cx_cpp(control=0, t=1)
    assert str(info.value) == "StateVecPy.cx_cpp() got an unexpected keyword argument 'control'"


OUT_OF_RANGE = [
    (2, "h_cpp", (2,)),
    (2, "cx_cpp", (0, 2)),
    (2, "ccx_cpp", (0, 1, 2)),
    (2, "cswap_cpp", (2, 0, 1)),
    (3, "x_cpp", (2**64 - 1,)),
    (3, "cx_cpp", (3, 0)),
    (3, "ccx_cpp", (3, 0, 1)),
    (3, "ccx_cpp", (0, 64, 1)),
    (3, "cswap_cpp", (0, 3, 1)),
    (3, "cswap_cpp", (0, 1, 2**63)),
]


@pytest.mark.parametrize("n, name, args", OUT_OF_RANGE, ids=lambda v: str(v))
def test_an_index_of_n_or_more_raises_and_changes_nothing(n, name, args):
    sv = StateVecPy(n, seed=0)
    sv.h_cpp(0)
    sv.x_cpp(1)
    before = state_bits(sv)
    with pytest.raises(IndexError) as info:
        getattr(sv, name)(*args)
    assert str(info.value) == "qubit index out of range"
    assert state_bits(sv) == before


def test_every_argument_is_converted_before_any_range_check():
    sv = StateVecPy(2, seed=0)
    before = state_bits(sv)
    with pytest.raises(OverflowError):
        sv.cx_cpp(5, -1)
    with pytest.raises(TypeError) as info:
        sv.ccx_cpp(7, 0, "t")
    assert str(info.value) == "argument 't': 'str' object cannot be interpreted as an integer"
    assert state_bits(sv) == before


def test_callback_into_the_same_register_is_refused_and_leaves_no_borrow():
    sv = StateVecPy(2, seed=0)

    class Sneaky:
        def __index__(self):
            sv.amplitude(0)
            return 0

    with pytest.raises(RuntimeError) as info:
        sv.h_cpp(Sneaky())
    assert str(info.value) == "Already mutably borrowed"
    assert state_bits(sv) == [(ONE, 0), (0, 0), (0, 0), (0, 0)]
    sv.h_cpp(0)
    assert state_bits(sv)[1] == (H_FACTOR, 0)


# Differential tests: the same seeded random state goes through the kernel gate and the plain
# gate, and the amplitudes must agree bit for bit.

ONE_QUBIT = ["h", "x", "y", "z", "s", "sdg", "t", "tdg", "sx", "sxdg"]
ROTATIONS = ["rx", "ry", "rz"]
TWO_QUBIT = ["cx", "cy", "cz", "swap"]
SIZES = [1, 2, 3, 4]
SEEDS = [11, 12, 13]


def random_state(n, seed):
    """A register in a state reached by a fixed, seeded sequence of plain gates."""
    rng = random.Random(seed)
    sv = StateVecPy(n, seed=0)
    for _ in range(8 * n):
        kind = rng.randrange(4)
        if kind == 0:
            getattr(sv, rng.choice(ONE_QUBIT))(rng.randrange(n))
        elif kind == 1:
            getattr(sv, rng.choice(ROTATIONS))(rng.randrange(n), rng.uniform(-4.0, 4.0))
        elif kind == 2 and n >= 2:
            getattr(sv, rng.choice(TWO_QUBIT))(*rng.sample(range(n), 2))
        elif kind == 3 and n >= 2:
            sv.cp(*rng.sample(range(n), 2), rng.uniform(-4.0, 4.0))
    return sv


def after(n, seed, name, args):
    sv = random_state(n, seed)
    getattr(sv, name)(*args)
    return state_bits(sv)


@pytest.mark.parametrize("n", SIZES)
@pytest.mark.parametrize("kernel, plain", [("h_cpp", "h"), ("x_cpp", "x")])
def test_one_qubit_kernels_match_plain_gates(n, kernel, plain):
    for seed, q in itertools.product(SEEDS, range(n)):
        got = after(n, seed, kernel, (q,))
        assert got == after(n, seed, plain, (q,)), (seed, q)
        assert got != state_bits(random_state(n, seed)), (seed, q)


@pytest.mark.parametrize("n", SIZES)
@pytest.mark.parametrize("kernel, plain, arity", [("cx_cpp", "cx", 2), ("ccx_cpp", "ccx", 3)])
def test_controlled_kernels_match_plain_gates_for_every_index_combination(
        n, kernel, plain, arity):
    for seed in SEEDS:
        for args in itertools.product(range(n), repeat=arity):
            assert after(n, seed, kernel, args) == after(n, seed, plain, args), (seed, args)


def cswap_cpp_effect(c, t1, t2):
    """What cswap_cpp(c, t1, t2) amounts to when indices coincide: a swap pair or nothing."""
    if t1 == t2:
        return None
    if c == t1:
        return (c, t2) if t2 > c else None
    return (c, t1) if t1 > c else None


def cswap_effect(c, t1, t2):
    """The same for the plain cswap."""
    if t1 == t2 or c == t2:
        return None
    return (c, t2)


@pytest.mark.parametrize("n", SIZES)
def test_cswap_kernel_matches_plain_gate_or_its_own_rule(n):
    for seed in SEEDS:
        unchanged = state_bits(random_state(n, seed))
        for args in itertools.product(range(n), repeat=3):
            got = after(n, seed, "cswap_cpp", args)
            plain = after(n, seed, "cswap", args)
            if len(set(args)) == 3:
                assert got == plain, (seed, args)
                continue
            for result, effect in ((got, cswap_cpp_effect(*args)), (plain, cswap_effect(*args))):
                want = unchanged if effect is None else after(n, seed, "swap", effect)
                assert result == want, (seed, args, effect)


def test_coinciding_cswap_examples_on_two_qubits():
    for name, args, images in [
        ("cswap_cpp", (1, 1, 0), [0, 1, 2, 3]),
        ("cswap", (1, 1, 0), [0, 2, 1, 3]),
        ("cswap_cpp", (0, 1, 0), [0, 2, 1, 3]),
        ("cswap", (0, 1, 0), [0, 1, 2, 3]),
    ]:
        for k in range(4):
            sv = basis(2, k)
            getattr(sv, name)(*args)
            want = [(0, 0)] * 4
            want[images[k]] = (ONE, 0)
            assert state_bits(sv) == want, (name, args, k)
