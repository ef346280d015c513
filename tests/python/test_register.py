"""Constructing a register, reading it back and dropping it."""
import sys

import pytest

import amplion
from conftest import SANITIZED, amp_bits, bits, resident_bytes

StateVecPy = amplion.StateVecPy


@pytest.mark.parametrize("n", [0, 31, 64, 2 ** 64 - 1])
def test_qubit_count_out_of_range(n):
    with pytest.raises(ValueError) as info:
        StateVecPy(n)
    assert type(info.value) is ValueError
    assert info.value.args == ("n_qubits must be between 1 and 30",)


def test_negative_qubit_count_fails_in_conversion():
    with pytest.raises(OverflowError):
        StateVecPy(-1)


@pytest.mark.parametrize("n", [1, 2, 3, 12])
def test_initial_state(n):
    r = StateVecPy(n, seed=3)
    assert r.n_qubits == n
    assert r.length() == 2 ** n
    assert amp_bits(r, 0) == (bits(1.0), 0)
    assert all(amp_bits(r, i) == (0, 0) for i in range(1, 2 ** n))


def test_unseeded_constructor_uses_entropy():
    assert StateVecPy(2).length() == 4
    assert StateVecPy(n_qubits=2, seed=None).length() == 4


def test_amplitude_bounds():
    r = StateVecPy(3, seed=0)
    assert r.amplitude(7) == (0.0, 0.0)
    assert r.amplitude(i=0) == (1.0, 0.0)
    for i in (8, 2 ** 63, 2 ** 64 - 1):
        with pytest.raises(IndexError) as info:
            r.amplitude(i)
        assert info.value.args == ("amplitude index out of range",)
    amp = r.amplitude(0)
    assert type(amp) is tuple and all(type(v) is float for v in amp)


def test_check_qubit_bounds():
    r = StateVecPy(3, seed=0)
    assert r.check_qubit(2) is None
    assert r.check_qubit(q=0) is None
    for q in (3, 64, 2 ** 64 - 1):
        with pytest.raises(IndexError) as info:
            r.check_qubit(q)
        assert info.value.args == ("qubit index out of range",)


def test_length_counts_amplitudes_not_qubits():
    r = StateVecPy(3, seed=0)
    assert r.length() == 8 and r.n_qubits == 3
    assert type(r.length()) is int


def test_many_registers_are_independent():
    regs = [StateVecPy(10, seed=i) for i in range(50)]
    for i, r in enumerate(regs):
        r.x(i % 10)
    for i, r in enumerate(regs):
        assert amp_bits(r, 1 << (i % 10)) == (bits(1.0), 0), i
        assert amp_bits(r, 0) == (0, 0), i


@pytest.mark.skipif(SANITIZED, reason="the sanitizer's quarantine keeps freed memory resident")
def test_dropped_registers_return_their_vectors_and_type_references():
    # 64 registers of 1 MiB, each written through and dropped in turn: a vector that outlived its
    # register would leave 64 MiB resident, an instance kept alive or a type reference not
    # dropped would show in the reference counts.
    StateVecPy(16, seed=0).x(15)
    type_refs = sys.getrefcount(StateVecPy)
    before = resident_bytes()
    for i in range(64):
        r = StateVecPy(16, seed=i)
        r.x(15)
        assert sys.getrefcount(r) == 2
        del r
    assert resident_bytes() - before < (16 << 20)
    assert sys.getrefcount(StateVecPy) == type_refs
