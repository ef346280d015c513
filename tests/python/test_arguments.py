"""The argument parser's messages and the conversions of indices, seeds and angles."""
import numpy as np
import pytest

import amplion
from conftest import Index, Raising

StateVecPy = amplion.StateVecPy
QuantumCircuit = amplion.QuantumCircuit


def reg():
    return StateVecPy(2, seed=0)


# (callable, args, kwargs, message)
PARSER_CASES = [
    ("h missing", lambda: reg().h, (), {},
     "StateVecPy.h() missing 1 required positional argument: 'q'"),
    ("cx missing target", lambda: reg().cx, (0,), {},
     "StateVecPy.cx() missing 1 required positional argument: 'target'"),
    ("cx missing both", lambda: reg().cx, (), {},
     "StateVecPy.cx() missing 2 required positional arguments: 'control' and 'target'"),
    ("ccx missing three", lambda: QuantumCircuit(2).ccx, (), {},
     "QuantumCircuit.ccx() missing 3 required positional arguments: 'c1', 'c2', and 't'"),
    ("ccx missing after keyword", lambda: reg().ccx, (), {"c2": 0},
     "StateVecPy.ccx() missing 2 required positional arguments: 'c1' and 't'"),
    ("new missing", lambda: StateVecPy, (), {},
     "StateVecPy.__new__() missing 1 required positional argument: 'n_qubits'"),
    ("new seed only", lambda: StateVecPy, (), {"seed": 1},
     "StateVecPy.__new__() missing 1 required positional argument: 'n_qubits'"),
    ("circuit new missing", lambda: QuantumCircuit, (), {},
     "QuantumCircuit.__new__() missing 1 required positional argument: 'n_qubits'"),
    ("h too many", lambda: reg().h, (0, 1), {},
     "StateVecPy.h() takes 1 positional arguments but 2 were given"),
    ("amplitude too many", lambda: reg().amplitude, (0, 1, 2), {},
     "StateVecPy.amplitude() takes 1 positional arguments but 3 were given"),
    ("measure too many", lambda: reg().measure_counts, (10, 1, 2), {},
     "StateVecPy.measure_counts() takes from 1 to 2 positional arguments but 3 were given"),
    ("new too many", lambda: StateVecPy, (1, 2, 3), {},
     "StateVecPy.__new__() takes from 1 to 2 positional arguments but 3 were given"),
    ("circuit new too many", lambda: QuantumCircuit, (1, 2), {},
     "QuantumCircuit.__new__() takes 1 positional arguments but 2 were given"),
    ("unexpected keyword", lambda: reg().h, (), {"qubit": 0},
     "StateVecPy.h() got an unexpected keyword argument 'qubit'"),
    ("unexpected before missing", lambda: reg().cx, (), {"c": 0, "t": 1},
     "StateVecPy.cx() got an unexpected keyword argument 'c'"),
    ("circuit rejects register names", lambda: QuantumCircuit(2).cx, (),
     {"control": 0, "target": 1},
     "QuantumCircuit.cx() got an unexpected keyword argument 'control'"),
    ("multiple values", lambda: reg().h, (0,), {"q": 0},
     "StateVecPy.h() got multiple values for argument 'q'"),
    ("multiple values seed", lambda: StateVecPy, (1, 2), {"seed": 3},
     "StateVecPy.__new__() got multiple values for argument 'seed'"),
    ("too many beats bad keyword", lambda: reg().h, (0, 1), {"qubit": 0},
     "StateVecPy.h() takes 1 positional arguments but 2 were given"),
]


@pytest.mark.parametrize("name, target, args, kwargs, message", PARSER_CASES,
                         ids=[c[0] for c in PARSER_CASES])
def test_parser_messages(name, target, args, kwargs, message):
    fn = target()
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    assert type(info.value) is TypeError
    assert str(info.value) == message


def test_keywords_in_any_order_and_by_position_agree():
    a, b, c = reg(), reg(), reg()
    a.cx(0, 1)
    b.cx(target=1, control=0)
    c.cx(0, target=1)
    assert a.amplitude(3) == b.amplitude(3) == c.amplitude(3)


class TypeErrorSubclass(TypeError):
    pass


@pytest.mark.parametrize("value, expected", [
    (0, 0), (True, 1), (False, 0), (np.int64(2), 2), (np.uint8(1), 1), (Index(2), 2),
])
def test_index_accepts_ints_bools_numpy_and_index(value, expected):
    r = StateVecPy(3, seed=0)
    assert r.check_qubit(value) is None
    assert r.amplitude(value) == ((1.0, 0.0) if expected == 0 else (0.0, 0.0))


@pytest.mark.parametrize("value", [-1, -(2 ** 70), 2 ** 64, 2 ** 100, Index(-1), Index(2 ** 64)])
def test_index_out_of_unsigned_range_is_overflow_error(value):
    with pytest.raises(OverflowError):
        StateVecPy(1, seed=0).check_qubit(value)


def test_index_maximum_reaches_the_range_check():
    with pytest.raises(IndexError, match="^qubit index out of range$"):
        StateVecPy(1, seed=0).check_qubit(2 ** 64 - 1)
    with pytest.raises(IndexError, match="^amplitude index out of range$"):
        StateVecPy(1, seed=0).amplitude(2 ** 64 - 1)


@pytest.mark.parametrize("value, text", [
    (1.5, "'float' object cannot be interpreted as an integer"),
    ("0", "'str' object cannot be interpreted as an integer"),
    (None, "'NoneType' object cannot be interpreted as an integer"),
    (np.float64(1.0), "'numpy.float64' object cannot be interpreted as an integer"),
])
def test_index_type_errors_name_the_argument(value, text):
    with pytest.raises(TypeError) as info:
        StateVecPy(1, seed=0).check_qubit(value)
    assert type(info.value) is TypeError
    assert str(info.value) == "argument 'q': " + text
    with pytest.raises(TypeError) as info:
        StateVecPy(value)
    assert str(info.value) == "argument 'n_qubits': " + text


def test_reworded_type_error_keeps_the_cause_not_the_error_itself():
    root = KeyError("root")
    inner = TypeError("inner")
    inner.__cause__ = root
    with pytest.raises(TypeError) as info:
        StateVecPy(1, seed=0).check_qubit(Raising(inner))
    assert str(info.value) == "argument 'q': inner"
    assert info.value is not inner
    assert info.value.__cause__ is root

    with pytest.raises(TypeError) as info:
        StateVecPy(1, seed=0).check_qubit(Raising(TypeError("plain")))
    assert info.value.__cause__ is None


@pytest.mark.parametrize("error", [TypeErrorSubclass("sub"), ValueError("v"), KeyError("k"),
                                   OverflowError("o"), ZeroDivisionError("z")])
def test_other_conversion_errors_pass_through_unchanged(error):
    with pytest.raises(type(error)) as info:
        StateVecPy(1, seed=0).check_qubit(Raising(error))
    assert info.value is error


@pytest.mark.parametrize("seed", [None, 0, 7, 2 ** 64 - 1, True, np.uint64(5), Index(3)])
def test_seed_accepts_none_and_unsigned_64_bit(seed):
    assert StateVecPy(1, seed).n_qubits == 1
    assert StateVecPy(1, seed=seed).n_qubits == 1


@pytest.mark.parametrize("seed, error", [(-1, OverflowError), (2 ** 64, OverflowError),
                                         (1.0, TypeError), ("1", TypeError)])
def test_seed_conversion_errors(seed, error):
    with pytest.raises(error) as info:
        StateVecPy(1, seed=seed)
    if error is TypeError:
        assert str(info.value).startswith("argument 'seed': ")


def test_n_qubits_converted_before_seed():
    with pytest.raises(TypeError, match="^argument 'n_qubits': "):
        StateVecPy("x", seed="y")
    with pytest.raises(OverflowError):
        StateVecPy(-1, seed="y")


def test_n_qubits_range_check_comes_after_seed_conversion():
    with pytest.raises(TypeError, match="^argument 'seed': "):
        StateVecPy(0, seed="y")
    with pytest.raises(ValueError, match="^n_qubits must be between 1 and 30$"):
        StateVecPy(0, seed=1)


def test_reentrant_read_during_read_is_allowed():
    r = StateVecPy(2, seed=0)

    class Reads:
        def __index__(self):
            return r.length() - 1

    assert r.amplitude(Reads()) == (0.0, 0.0)
