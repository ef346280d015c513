"""Argument fuzzing: every method and constructor called with random mixes of positional and
keyword arguments of random types. Only the argument, index, value and borrow exceptions (or the
very exception a callback raised) may come out; a failed call leaves its object bit for bit as it
was, generator included; the object stays usable.

Valid sizes stay small (at most 12 qubits, 10,000 shots); invalid ranges are fuzzed freely."""

import functools

import numpy as np
import pytest
from hypothesis import event, given, note, strategies as st

from amplion import QuantumCircuit, StateVecPy
from conftest import (CIRCUIT_METHODS, STATEVEC_METHODS, CallbackError, CallsBack, Index, Raising,
                      array_bits, bits, caused_type_error)

MAX_QUBITS = 12
MAX_SHOTS = 10_000
ALLOWED = (TypeError, OverflowError, ValueError, IndexError, RuntimeError)
INDEX_MESSAGES = {"qubit index out of range", "control/target index out of range",
                  "swap index out of range", "index out of range",
                  "amplitude index out of range"}
VALUE_MESSAGES = {"n_qubits must be between 1 and 30", "A weight is invalid in distribution",
                  "All weights are zero in distribution"}
BORROW_MESSAGES = {"Already borrowed", "Already mutably borrowed"}

# NumPy's own warnings about the values we hand it (a bool as an index, float32 overflow).
pytestmark = [
    pytest.mark.filterwarnings("ignore:In future, it will be an error for 'np.bool_'"),
    pytest.mark.filterwarnings("ignore:overflow encountered in cast:RuntimeWarning"),
]

CONSTRUCTORS = {StateVecPy: ["n_qubits", "seed"], QuantumCircuit: ["n_qubits"]}
OPTIONAL = {"seed"}


class Context:
    """The object a call is made on, for callbacks that call back into it, and every exception
    that callbacks raised during the call. One for the module: the strategies are built once."""

    def __init__(self):
        self.obj = None
        self.raised = []

    def start(self, obj):
        self.obj, self.raised = obj, []


CTX = Context()


def record(error):
    """Notes an exception that a callback raises, which the call may then let out."""
    CTX.raised.append(error)


def call_back(method, args):
    """Calls `method(*args)` on the object being called."""
    return getattr(CTX.obj, method)(*args)


class CallbackBaseError(BaseException):
    pass


class Floaty:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value

    def __repr__(self):
        return f"Floaty({self.value!r})"


class Key(str):
    """A keyword name of a str subclass whose str() (used in the parser's messages) raises."""

    def __str__(self):
        error = CallbackError(f"str of {self!r}")
        CTX.raised.append(error)
        raise error


class BadStr:
    def __str__(self):
        error = CallbackError("str")
        CTX.raised.append(error)
        raise error


class OddMeta(type):
    """A metaclass that answers __qualname__ with the class's `answer`: not always a str, or an
    exception class whose new instance it raises."""

    def __getattribute__(cls, name):
        if name == "__qualname__":
            answer = type.__getattribute__(cls, "answer")
            if isinstance(answer, type) and issubclass(answer, BaseException):
                error = answer("qualname")
                CTX.raised.append(error)
                raise error
            return answer
        return super().__getattribute__(name)


class OddInt(metaclass=OddMeta):
    answer = 12345


class OddKey(metaclass=OddMeta):
    answer = Key("Odd")


class OddRaise(metaclass=OddMeta):
    answer = CallbackError


P = functools.partial
ERRORS = [P(CallbackError, "cb"), P(CallbackBaseError, "base"), caused_type_error,
          P(TypeError, "t"), P(OverflowError, "o"), P(ValueError, "v"), P(IndexError, "i"),
          P(ZeroDivisionError, "z"), MemoryError]
SPECIAL_INTS = [0, 1, 2, 11, 12, 13, 29, 30, 31, 63, 64, 65, 2 ** 31, 2 ** 32, 2 ** 63 - 1,
                2 ** 63, 2 ** 64 - 1, 2 ** 64, 2 ** 65, 2 ** 1000, -1, -2, -(2 ** 63),
                -(2 ** 64), -(2 ** 1000)]
NUMPY_INTS = [np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint16, np.uint32, np.uint64]


def ints_for(param):
    """Integers for a parameter: any size and sign, except valid values that would make a call
    expensive (more than 12 qubits, more than 10,000 shots)."""
    if param == "n_qubits":
        return st.one_of(st.integers(0, MAX_QUBITS),
                         st.integers(31, 2 ** 70), st.integers(max_value=-1),
                         st.sampled_from([v for v in SPECIAL_INTS if not 12 < v < 31]))
    if param == "shots":
        return st.one_of(st.integers(0, 40), st.integers(0, MAX_SHOTS), st.integers(max_value=-1),
                         st.integers(min_value=2 ** 64),
                         st.sampled_from([v for v in SPECIAL_INTS if v <= MAX_SHOTS
                                          or v >= 2 ** 64]))
    return st.one_of(st.integers(0, MAX_QUBITS + 1), st.integers(), st.sampled_from(SPECIAL_INTS))


def numpy_int(param):
    """NumPy integers of every width, inside each type's range and the parameter's cheap range."""
    def of_type(dtype):
        info = np.iinfo(dtype)
        lo, hi = int(info.min), int(info.max)
        if param == "n_qubits":
            return st.one_of(st.integers(lo, MAX_QUBITS), st.integers(31, hi)).map(dtype)
        if param == "shots":
            return st.integers(lo, min(hi, MAX_SHOTS)).map(dtype)
        return st.integers(lo, hi).map(dtype)
    return st.one_of([of_type(dtype) for dtype in NUMPY_INTS])


# Calls back into the object being called: reads (shared borrows) and changes (exclusive ones).
REGISTER_CALLBACKS = [("length", ()), ("amplitude", (0,)), ("x", (0,)), ("h", (0,)),
                      ("measure_counts", (1, 0)), ("amplitudes", ()), ("statevector", ()),
                      ("check_qubit", (0,))]
CIRCUIT_CALLBACKS = [("x", (0,)), ("cx", (0, 1)), ("statevector", ()), ("run", (1, 0))]


def call(cls):
    return cls()


@functools.lru_cache(maxsize=None)
def values_for(param, callbacks=()):
    """Any value for `param`: ints and floats of every kind, text, None, NumPy scalars, objects
    with __index__ / __float__ that return, raise, or call back into the object being called."""
    ints = ints_for(param)
    floats = st.floats(allow_nan=True, allow_infinity=True)
    # Kinds the parameter accepts (some values still out of range)...
    natural = [ints, st.booleans(), numpy_int(param), ints.map(Index)]
    if param == "theta":
        natural += [floats, floats.map(np.float64), floats.map(np.float32), floats.map(Floaty)]
    # ...and everything else.
    others = [
        st.text(max_size=3), st.none(), st.just(b"\x00"), st.just(1j), st.just([]),
        st.booleans().map(np.bool_),
        st.one_of(floats, st.text(max_size=1)).map(Index),
        st.one_of(ints, st.text(max_size=1)).map(Floaty),
        st.sampled_from(ERRORS).map(lambda error: Raising(error, note=record)),
        st.sampled_from([OddInt, OddKey, OddRaise]).map(call),
    ]
    if param != "theta":
        others += [floats, floats.map(np.float64), floats.map(Floaty)]
    if callbacks:
        others.append(st.builds(
            lambda call, value, swallow: CallsBack(P(call_back, *call), value, swallow, record),
            st.sampled_from(callbacks), ints, st.booleans()))
    # Two values in three are of an accepted kind, so that whole calls succeed often.
    accepted = st.one_of(natural)
    return st.one_of(accepted, accepted, st.one_of(others))


def arguments(params, value_of):
    """Positional and keyword arguments for `params`: either a well-formed mix (a prefix by
    position, the rest by keyword in random order) or a random one (too many, too few, unknown
    and repeated names)."""
    names = list(params)

    @st.composite
    def well_formed(draw):
        split = draw(st.integers(0, len(names)))
        args = [draw(value_of(p)) for p in names[:split]]
        rest = [p for p in names[split:] if p not in OPTIONAL or draw(st.booleans())]
        rest = draw(st.permutations(rest))
        return args, {p: draw(value_of(p)) for p in rest}

    @st.composite
    def anything(draw):
        count = draw(st.integers(0, len(names) + 1))
        args = [draw(value_of(names[k] if k < len(names) else "q")) for k in range(count)]
        keys = draw(st.lists(st.sampled_from(names + ["bogus", "Q", "seed", "self"]),
                             unique=True, max_size=len(names) + 1))
        kwargs = {k: draw(value_of(k if k in names else "q")) for k in keys}
        if kwargs and draw(st.booleans()):
            kwargs = {Key(k): v for k, v in kwargs.items()}
        return args, kwargs

    # Three calls in four are well formed.
    return st.one_of(well_formed(), well_formed(), well_formed(), anything())


def method_calls(table, value_of):
    """(method name, (args, kwargs)) for any method of `table`."""
    return st.one_of([st.tuples(st.just(name), arguments(params or [], value_of))
                      for name, params in sorted(table.items())])


def check_failure(error, where):
    """The exception is one of the allowed classes with one of the module's messages, or exactly
    an exception that a callback raised."""
    if any(error is e for e in CTX.raised):
        return
    assert type(error) in ALLOWED, (where, repr(error))
    text = str(error)
    if type(error) is TypeError:
        assert (text.startswith("argument '") or text.startswith(where)
                or "takes no arguments" in text), (where, text)
    elif type(error) is IndexError:
        assert text in INDEX_MESSAGES, (where, text)
    elif type(error) is ValueError:
        assert text in VALUE_MESSAGES, (where, text)
    elif type(error) is RuntimeError:
        assert text in BORROW_MESSAGES, (where, text)


def attempt(fn, args, kwargs):
    """(result, None) or (None, the exception)."""
    try:
        return fn(*args, **kwargs), None
    except BaseException as error:  # PanicException derives from BaseException
        return None, error


def outcome(error):
    """Counts what fuzzed calls ended in (pytest --hypothesis-show-statistics)."""
    event("call succeeded" if error is None else f"call raised {type(error).__name__}")


def words(reg):
    return array_bits(reg.amplitudes())


def same_result(a, b):
    if isinstance(a, np.ndarray):
        return array_bits(a) == array_bits(b)
    if isinstance(a, tuple):
        return [bits(x) for x in a] == [bits(x) for x in b]
    return a == b


def still_usable(reg):
    """Shared and exclusive borrows are granted; z twice restores every bit."""
    before = words(reg)
    assert reg.check_qubit(0) is None
    reg.z(0)
    reg.z(0)
    assert words(reg) == before


def generators_agree(a, b):
    """Makes both registers sensitive to their generators (H on every qubit), then measures."""
    for q in range(a.n_qubits):
        a.h(q)
        b.h(q)
    assert words(a) == words(b)
    ra, ea = attempt(a.measure_counts, (256,), {})
    rb, eb = attempt(b.measure_counts, (256,), {})
    assert (type(ea), str(ea)) == (type(eb), str(eb))
    assert ra == rb


def prepare(obj, gates, n):
    """Applies or records a valid history, its qubits taken modulo n."""
    for name, qubits, theta in gates:
        args = [q % n for q in qubits] + ([theta] if theta is not None else [])
        getattr(obj, name)(*args)


Q = st.integers(0, MAX_QUBITS - 1)
ANGLE = st.floats(-7, 7, allow_nan=False)
# A short valid history, so that the fuzzed calls meet states other than |0...0>.
HISTORY = st.lists(st.one_of(
    st.tuples(st.sampled_from(["h", "x", "y", "s", "t", "sx"]), st.tuples(Q), st.none()),
    st.tuples(st.sampled_from(["rx", "ry", "rz"]), st.tuples(Q), ANGLE),
    st.tuples(st.sampled_from(["cx", "cy", "cz", "swap"]), st.tuples(Q, Q), st.none()),
    st.tuples(st.just("cp"), st.tuples(Q, Q), ANGLE),
    st.tuples(st.sampled_from(["ccx", "cswap"]), st.tuples(Q, Q, Q), st.none()),
), max_size=6)
SEEDS = st.integers(0, 2 ** 64 - 1)


def register_values(param):
    return values_for(param, tuple(REGISTER_CALLBACKS))


REGISTER_CALLS = st.lists(method_calls(STATEVEC_METHODS, register_values), min_size=1, max_size=3)


@given(n=st.one_of(st.integers(1, 4), st.integers(1, MAX_QUBITS)), seed=SEEDS, gates=HISTORY,
       calls=REGISTER_CALLS)
def test_register_methods_fail_cleanly(n, seed, gates, calls):
    a, b = StateVecPy(n, seed=seed), StateVecPy(n, seed=seed)
    prepare(a, gates, n)
    prepare(b, gates, n)
    for method, (args, kwargs) in calls:
        where = f"StateVecPy.{method}()"
        note(f"{where} args={args!r} kwargs={kwargs!r}")
        before = words(a)
        CTX.start(a)
        result, error = attempt(getattr(a, method), args, kwargs)
        outcome(error)
        CTX.obj = b
        if error is not None:
            check_failure(error, where)
            assert words(a) == before, where
            if method == "measure_counts":
                # Its failures keep the generator's reseed or skip: the twin takes the same call.
                _, twin_error = attempt(b.measure_counts, args, kwargs)
                assert type(twin_error) is type(error), (repr(error), repr(twin_error))
        else:
            twin_result, twin_error = attempt(getattr(b, method), args, kwargs)
            assert twin_error is None, repr(twin_error)
            assert same_result(result, twin_result), (result, twin_result)
            assert words(a) == words(b)
        still_usable(a)
    assert words(a) == words(b)
    generators_agree(a, b)


@functools.lru_cache(maxsize=None)
def generic_state(n):
    """A circuit that leaves n qubits in a state with no zero amplitude and no symmetry."""
    prep = QuantumCircuit(n)
    for q in range(n):
        prep.h(q)
        prep.rx(q, 0.3 + q)
        prep.rz(q, 1.1 * q + 0.2)
    return prep


def fingerprint(circuit, n):
    """What replaying the circuit does to a register in a generic state, so that every recorded
    gate up to the first failing one shows in the bits."""
    reg = StateVecPy(n, seed=0)
    generic_state(n).apply_gates(reg)
    _, error = attempt(circuit.apply_gates, (reg,), {})
    return type(error), str(error), words(reg)


SV = object()  # stands for the register that apply_gates replays onto


def circuit_values(param):
    values = values_for(param, tuple(CIRCUIT_CALLBACKS))
    return st.one_of(st.just(SV), values) if param == "sv" else values


CIRCUIT_CALLS = st.lists(method_calls(CIRCUIT_METHODS, circuit_values), min_size=1, max_size=3)


@given(n=st.one_of(st.integers(0, 4), st.integers(0, MAX_QUBITS)), seed=SEEDS, gates=HISTORY,
       calls=CIRCUIT_CALLS)
def test_circuit_methods_fail_cleanly(n, seed, gates, calls):
    fp_qubits = max(n, 1)
    circuit = QuantumCircuit(n)
    prepare(circuit, gates, fp_qubits)
    # apply_gates replays onto `a`; `b`, its twin, takes the same replays.
    a, b = StateVecPy(fp_qubits, seed=seed), StateVecPy(fp_qubits, seed=seed)
    recorded = fingerprint(circuit, fp_qubits)
    for method, (args, kwargs) in calls:
        where = f"QuantumCircuit.{method}()"
        note(f"{where} args={args!r} kwargs={kwargs!r}")
        before = words(a)

        def resolve(reg):
            return ([reg if v is SV else v for v in args],
                    {k: (reg if v is SV else v) for k, v in kwargs.items()})

        CTX.start(circuit)
        _, error = attempt(getattr(circuit, method), *resolve(a))
        outcome(error)
        if error is not None:
            check_failure(error, where)
        if method == "apply_gates":
            # A replay keeps the gates before the failing one: the twin shows how far.
            _, twin_error = attempt(circuit.apply_gates, *resolve(b))
            assert type(twin_error) is type(error), (repr(error), repr(twin_error))
            if error is not None and type(error) is not IndexError:
                assert words(a) == before
        else:
            assert words(a) == before
        assert words(a) == words(b)
        # Only a successful recording call changes the circuit. The fingerprint's replay also
        # shows that no borrow of the circuit lingers.
        after = fingerprint(circuit, fp_qubits)
        assert after[0] is not RuntimeError
        if error is not None or method in ("run", "statevector", "apply_gates"):
            assert after == recorded, where
        recorded = after
        still_usable(a)
    circuit.h(0)  # and an exclusive borrow is granted
    generators_agree(a, b)


CONSTRUCTOR_CALLS = st.one_of([st.tuples(st.just(cls), arguments(params, values_for))
                               for cls, params in CONSTRUCTORS.items()])


@given(call=CONSTRUCTOR_CALLS)
def test_constructors_fail_cleanly(call):
    cls, (args, kwargs) = call
    where = f"{cls.__name__}.__new__()"
    CTX.start(None)
    obj, error = attempt(cls, args, kwargs)
    outcome(error)
    if error is not None:
        check_failure(error, where)
        return
    assert type(obj) is cls
    if cls is StateVecPy:
        assert 1 <= obj.n_qubits <= MAX_QUBITS
        assert words(obj) == [0x3FF0000000000000] + [0] * (2 * obj.length() - 1)
        still_usable(obj)
    else:
        obj.h(0)
        obj.apply_gates(StateVecPy(1, seed=0))


# Hostile names seen in messages: a keyword of a str subclass whose __str__ raises, a type whose
# __qualname__ is not a str (formatting it as one read an int's memory as text and crashed).
@pytest.mark.parametrize("call, message", [
    (lambda: StateVecPy(1, 0, **{Key("seed"): None}),
     "StateVecPy.__new__() got multiple values for argument 'seed'"),
    (lambda: StateVecPy(1).h(**{Key("qubit"): 0}),
     "StateVecPy.h() got an unexpected keyword argument 'qubit'"),
    (lambda: QuantumCircuit(1).apply_gates(OddInt()),
     "argument 'sv': '12345' object cannot be converted to 'StateVecPy'"),
    (lambda: QuantumCircuit(1).apply_gates(sv=OddKey()),
     "argument 'sv': 'Odd' object cannot be converted to 'StateVecPy'"),
])
def test_hostile_names_in_messages(call, message):
    CTX.start(None)
    _, error = attempt(call, (), {})
    assert type(error) is TypeError and str(error) == message, repr(error)
    assert CTX.raised == []


def test_keyword_that_is_not_a_str_from_a_c_caller():
    # functools.partial hands its stored keywords over as they are, so a C caller can pass keys
    # that are not str; their str() names them, and a failing str() is what comes out.
    sv = StateVecPy(1, seed=0)
    call = functools.partial(sv.h)
    call.__setstate__((sv.h, (), {1: 2}, None))
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == "StateVecPy.h() got an unexpected keyword argument '1'"
    call.__setstate__((sv.h, (), {BadStr(): 2}, None))
    CTX.start(sv)
    _, error = attempt(call, (), {})
    assert CTX.raised and error is CTX.raised[0]
    assert words(sv) == [0x3FF0000000000000, 0, 0, 0]


def test_qualname_that_raises_passes_through():
    CTX.start(None)
    _, error = attempt(QuantumCircuit(1).apply_gates, (OddRaise(),), {})
    assert CTX.raised and error is CTX.raised[0]


# The methods read their payload from self without a check of their own: the method descriptors
# must refuse a self of any other type before the call gets that far.
UNBOUND = ([(StateVecPy, name) for name in STATEVEC_METHODS]
           + [(QuantumCircuit, name) for name in CIRCUIT_METHODS])


@pytest.mark.parametrize("cls, name", UNBOUND, ids=[f"{c.__name__}.{n}" for c, n in UNBOUND])
def test_methods_refuse_a_foreign_self(cls, name):
    params = (STATEVEC_METHODS if cls is StateVecPy else CIRCUIT_METHODS)[name] or []
    args = [StateVecPy(1, seed=0) if p == "sv" else 0 for p in params if p not in OPTIONAL]
    other = QuantumCircuit(1) if cls is StateVecPy else StateVecPy(1, seed=0)
    for foreign in (other, 0, None, object()):
        with pytest.raises(TypeError):
            vars(cls)[name](foreign, *args)
    if cls is QuantumCircuit:
        other.x(0)  # the register is not left borrowed
        assert words(other) == [0, 0, 0x3FF0000000000000, 0]


def test_n_qubits_refuses_a_foreign_self():
    descriptor = vars(StateVecPy)["n_qubits"]
    for foreign in (QuantumCircuit(1), 0, "x"):
        with pytest.raises(TypeError):
            descriptor.__get__(foreign, type(foreign))
    with pytest.raises(AttributeError):
        descriptor.__set__(StateVecPy(1, seed=0), 3)
