"""The quantities of every day: probabilities, expectation values of Pauli strings, and counts
over some of the qubits.

Sums have a fixed order, so results are the same bits on every machine: NumPy is used only for
element-wise arithmetic, each operation rounded once, never for a reduction such as np.sum, whose
order of additions may change with the processor.
"""
from __future__ import annotations

import math
import operator
from typing import (TYPE_CHECKING, Any, Dict, Iterable, Mapping, SupportsFloat, SupportsIndex,
                    Union)

import amplion

from .circuit import Circuit

if TYPE_CHECKING:
    import numpy
    from numpy.typing import ArrayLike
    State = Union[amplion.StateVecPy, Circuit, ArrayLike]
    Vector = numpy.ndarray[Any, numpy.dtype[numpy.complex128]]
    Reals = numpy.ndarray[Any, numpy.dtype[numpy.float64]]

PAULI = frozenset("IXYZ")


def _vector(state: State) -> Vector:
    """The amplitudes as a new contiguous complex128 array, which the caller may overwrite. A
    circuit gives amplion's state without its global phase, which no quantity here can see."""
    import numpy
    if isinstance(state, amplion.StateVecPy):
        return state.statevector()
    if isinstance(state, Circuit):
        return state.to_amplion().statevector()
    array = numpy.asarray(state)
    if array.dtype.kind not in "biufc" or array.ndim != 1 or array.size & (array.size - 1) \
            or not array.size:
        raise ValueError("a state is a StateVecPy, a Circuit or a 1-D array of 2**n amplitudes, "
                         "got %s of shape %s" % (array.dtype, array.shape))
    return numpy.array(array, dtype=numpy.complex128, order="C")


def probabilities(state: State) -> Reals:
    """For every basis index, the weight that measurement samples it with: re·re + im·im, each
    square rounded, then added.

    >>> probabilities(Circuit(1).h(0)).tolist()
    [0.4999999999999999, 0.4999999999999999]
    """
    import numpy
    parts = _vector(state).view(numpy.float64)
    numpy.multiply(parts, parts, out=parts)
    return numpy.add(parts[0::2], parts[1::2])


# The partner ψ[i ^ x] is gathered in two passes of numpy.take: rows of 2^_LOW amplitudes by the
# flipped bits above, then positions within each row by the flipped bits below.
_LOW = 8


def _fold(values: Reals, negate: int, last: int = 1) -> float:
    """Σ ±values[j] over the j that agree with 0 below bit `last`, the sign (−1)^popcount(j &
    negate), by halving from the top: values[j] ± values[j + half] for the highest bit of j
    first, down to bit `last`. Each step is one element-wise add or subtract, so the order of
    additions is the same on every machine. `values` (of a power-of-two length) is overwritten.
    """
    import numpy
    half = values.size >> 1
    while half >= last:
        low, high = values[:half], values[half:2 * half]
        if negate & half:
            numpy.subtract(low, high, out=low)
        else:
            numpy.add(low, high, out=low)
        half >>= 1
    return float(values[0])


def _pauli(vector: Vector, n_qubits: int, pauli: str) -> float:
    """<ψ|P|ψ> for one Pauli string, rightmost character on qubit 0. `vector` is overwritten.

    P|i> = i^y · (−1)^popcount(i & z) · |i ^ x>, with x the qubits of X and Y, z those of Z and
    Y, and y the number of Ys. So <ψ|P|ψ> = Σ s_i·Re(i^y · conj(φ_i)·ψ_i), with s_i =
    (−1)^popcount(i & z) and the partner φ_i = ψ[i ^ x]. Amplitudes are read as (re, im) pairs
    of doubles, float j holding part j & 1 of amplitude j >> 1, and their products are folded
    over the qubits with the signs s_i.
    """
    import numpy
    flip = negate = count_y = 0
    for q, letter in enumerate(reversed(pauli)):
        if letter in "XY":
            flip |= 1 << q
        if letter in "ZY":
            negate |= 1 << q
        count_y += letter == "Y"
    parts = vector.view(numpy.float64)
    if not flip:
        numpy.multiply(parts, parts, out=parts)  # re·re and im·im, added by the last fold step
        return _fold(parts, negate << 1)
    low = min(_LOW, n_qubits)
    rows = vector.reshape(-1, 1 << low)
    if flip >> low:
        rows = numpy.take(rows, numpy.arange(rows.shape[0]) ^ (flip >> low), axis=0)
    if flip & ((1 << low) - 1):
        rows = numpy.take(rows, numpy.arange(1 << low) ^ (flip & ((1 << low) - 1)), axis=1)
    partner = rows.reshape(-1).view(numpy.float64)
    if count_y % 2 == 0:
        # Σ s_i·Re(conj(φ_i)ψ_i): the products φre·ψre and φim·ψim, added by the last fold step.
        numpy.multiply(partner, parts, out=partner)
        total = _fold(partner, negate << 1)
        return -total if count_y % 4 == 2 else total
    # For an odd y, Re(i^y · conj(φ_i)ψ_i) = ∓Im(conj(φ_i)ψ_i) = ∓(φre·ψim − φim·ψre), and the
    # second product at i is the first at i ^ x with the opposite sign s: the sum is twice
    # Σ s_i·φre·ψim. Shifting ψ's parts by one double lines φre up with ψim in the even places;
    # the odd places, which the fold keeps apart, are not used.
    numpy.multiply(partner[:-1], parts[1:], out=partner[:-1])
    total = 2.0 * _fold(partner, negate << 1, last=2)
    return -total if count_y % 4 == 1 else total


def _check_pauli(pauli: object, n_qubits: int) -> str:
    if not isinstance(pauli, str) or len(pauli) != n_qubits or not PAULI.issuperset(pauli):
        raise ValueError("an observable is a Pauli string of exactly %d characters from I, X, "
                         "Y and Z (rightmost on qubit 0), or a dict of them to real weights; "
                         "got %r" % (n_qubits, pauli))
    return pauli


def expectation(state: State, observable: Union[str, Mapping[str, float]]) -> float:
    """<ψ|O|ψ> for a Pauli string ("ZZI", rightmost character on qubit 0) or a weighted sum of
    them ({"ZZ": 0.5, "XI": -1.0}), the same bits on every machine.

    Each string's value is summed by halving (see _pauli and _fold); a weighted sum adds the
    weighted values with math.fsum, correctly rounded.

    >>> expectation(Circuit(2).h(0).cx(0, 1), {"ZZ": 0.5, "XX": 0.5})
    0.9999999999999998
    """
    vector = _vector(state)
    n_qubits = vector.size.bit_length() - 1
    if isinstance(observable, str):
        return _pauli(vector, n_qubits, _check_pauli(observable, n_qubits))
    if not isinstance(observable, Mapping):
        _check_pauli(observable, n_qubits)
    terms = []
    for pauli, weight in observable.items():
        _check_pauli(pauli, n_qubits)
        if isinstance(weight, (bool, complex)) or not isinstance(weight, SupportsFloat):
            raise ValueError("the weight of %r is not a real number: %r" % (pauli, weight))
        terms.append((float(weight), pauli))
    last = len(terms) - 1  # every term but the last works on a copy
    return math.fsum(weight * _pauli(vector if k == last else vector.copy(), n_qubits, pauli)
                     for k, (weight, pauli) in enumerate(terms))


def marginal_counts(counts: Mapping[str, int], qubits: Iterable[SupportsIndex]) -> Dict[str, int]:
    """Counts over the given qubits only, summed over the others. The keys hold the given qubits
    in ascending order, the lowest rightmost, as amplion's keys do.

    >>> marginal_counts({"110": 3, "011": 5, "010": 2}, [0, 2])
    {'10': 3, '01': 5, '00': 2}
    """
    chosen = sorted(operator.index(q) for q in qubits)
    if len(set(chosen)) != len(chosen) or (chosen and chosen[0] < 0):
        raise ValueError("marginal_counts takes distinct qubits from 0, got %s" % chosen)
    width = None
    result: Dict[str, int] = {}
    for key, count in counts.items():
        if width is None and isinstance(key, str):
            width = len(key)
            if chosen and chosen[-1] >= width:
                raise ValueError("qubit %d is out of range for keys of %d qubits"
                                 % (chosen[-1], width))
        if not isinstance(key, str) or len(key) != width or not set(key) <= {"0", "1"}:
            raise ValueError("counts keys are strings of 0 and 1 of one length, got %r" % key)
        marginal = "".join(key[width - 1 - q] for q in reversed(chosen))
        result[marginal] = result.get(marginal, 0) + count
    return result
