"""Reference and memory leaks: every method of both classes, on success and on every way it can
fail, called thousands of times; the interpreter's allocated blocks and the process's resident
memory must stay flat once caches and free lists have warmed up."""

import gc
import math
import sys
import textwrap

import pytest

from amplion import QuantumCircuit, StateVecPy
from conftest import (CIRCUIT_METHODS, SANITIZED, STATEVEC_METHODS, CallbackError, CallsBack,
                      Index, Raising, caused_type_error, method_parameters, resident_bytes,
                      run_python)

NO_BLOCK_COUNTS = pytest.mark.skipif(
    SANITIZED, reason="PYTHONMALLOC=malloc under the sanitizers: sys.getallocatedblocks() reads 0")
NO_RSS = pytest.mark.skipif(
    SANITIZED, reason="the sanitizer's quarantine keeps freed memory resident")

N_QUBITS = 4
WARM_UP = 200
WINDOWS = 2
ROUNDS = 700  # per window
# A leak of one block per call shows as ROUNDS blocks in every window. The interpreter's free lists
# and caches grow a little whenever a window sets a new peak of garbage awaiting collection (up to
# about 120 blocks in the first window after warm-up, fewer in each later one); they stay well
# below this in at least one of the windows.
BLOCK_SLACK = ROUNDS // 4

# Methods whose failures of the engine are out-of-range qubits (the rest have none or others).
STATEVEC_INDEXED = {name for name, params in STATEVEC_METHODS.items()
                    if params and name not in ("amplitude", "measure_counts")}
CIRCUIT_RECORDING = {name for name in CIRCUIT_METHODS
                     if name not in ("run", "statevector", "apply_gates")}


def valid_value(param, sv_factory):
    if param == "theta":
        return 0.25
    if param == "shots":
        return 40
    if param == "seed":
        return 7
    if param == "sv":
        return sv_factory()
    if param == "i":
        return 3
    return 1


BIG = 2 ** 63 + 5


def large(param):
    return {"theta": 2 ** 70, "shots": 10 ** 30}.get(param, BIG)


def large_outcome(cls_name, param):
    if param == "shots":
        return OverflowError
    if param in ("theta", "seed") or cls_name == "QuantumCircuit":
        return None
    return IndexError


class World:
    """The objects the calls work on: a register, a NaN register, circuits that replay well or
    fail, and fresh objects where success would otherwise accumulate state."""

    def __init__(self, n=N_QUBITS):
        self.n = n
        self.sv = StateVecPy(n, seed=1)
        self.sv.h(0)
        self.nan_sv = StateVecPy(n, seed=1)
        self.nan_sv.rx(0, math.nan)
        self.qc = QuantumCircuit(n)
        self.qc.h(0)
        self.qc.cx(0, n - 1)
        self.bad_qc = QuantumCircuit(n)
        self.bad_qc.x(0)
        self.bad_qc.cx(0, n + 3)
        self.nan_qc = QuantumCircuit(n)
        self.nan_qc.rx(0, math.nan)
        self.empty_qc = QuantumCircuit(0)
        self.target = StateVecPy(n, seed=2)

    def fresh_sv(self):
        return StateVecPy(self.n, seed=3)


def ops_for(world, cls_name, method):
    """(label, call, expected exception class or None) for every way `method` can go."""
    n = world.n
    if cls_name == "StateVecPy":
        obj, params = world.sv, STATEVEC_METHODS[method]
    else:
        obj, params = world.qc, CIRCUIT_METHODS[method]
    recording = cls_name == "QuantumCircuit" and method in CIRCUIT_RECORDING

    def target():
        # Successful recording grows a circuit; a fresh one per call keeps memory flat.
        return QuantumCircuit(n) if recording else obj

    ops = []
    if params is None:
        ops.append(("ok", lambda: getattr(target(), method)(), None))
        ops.append(("argument given", lambda: getattr(target(), method)(1), TypeError))
        # Refused borrow: the call runs while an exclusive borrow of the object is held.
        ops.append(("borrowed", lambda: obj.x(CallsBack(getattr(obj, method))), RuntimeError))
        if method == "statevector" and cls_name == "QuantumCircuit":
            ops.append(("range", lambda: world.empty_qc.statevector(), ValueError))
            ops.append(("replay fails", lambda: world.bad_qc.statevector(), IndexError))
        return ops

    values = [valid_value(p, world.fresh_sv) for p in params]
    # Required parameters only; the trailing seed stays optional.
    required = [v for p, v in zip(params, values) if p != "seed"]

    def call(*args, **kwargs):
        return lambda: getattr(target(), method)(*args, **kwargs)

    def with_value(k, make_value):
        """Parameter k replaced by make_value(the object called)."""
        def go():
            t = target()
            args = list(values)
            args[k] = make_value(t)
            return getattr(t, method)(*args)
        return go

    ops.append(("positional", call(*values), None))
    ops.append(("keywords", call(**dict(zip(params, values))), None))
    if "seed" in params:
        ops.append(("no seed", call(*required), None))
        ops.append(("seed None", call(*required, seed=None), None))
    ops.append(("missing", call(), TypeError))
    ops.append(("too many", call(*values, 0), TypeError))
    ops.append(("unexpected keyword", call(*required, bogus=0), TypeError))
    ops.append(("multiple values", call(*values, **{params[0]: values[0]}), TypeError))

    # Shared outer borrows refuse an exclusive inner call (x); exclusive ones refuse any, a read
    # (length, statevector) included.
    shared_outer = method in ("amplitude", "check_qubit", "run", "apply_gates")

    def exclusive_inner(t):
        return t.x(0)

    def shared_inner(t):
        return t.length() if cls_name == "StateVecPy" else t.statevector()

    refused_inner = exclusive_inner if shared_outer else shared_inner

    for k, p in enumerate(params):
        if p == "sv":
            ops.append((f"{p} not a register", with_value(k, lambda t: 5), TypeError))
            ops.append((f"{p} borrowed", lambda: world.target.x(
                CallsBack(lambda: obj.apply_gates(world.target))), RuntimeError))
            continue
        bad_type = "x" if p == "theta" else 1.5
        too_big = 10 ** 400 if p == "theta" else -1
        good = values[k] if p != "theta" else 0
        ops += [
            (f"{p} type", with_value(k, lambda t, v=bad_type: v), TypeError),
            (f"{p} type with cause", with_value(k, lambda t: Raising(caused_type_error())),
             TypeError),
            (f"{p} overflow", with_value(k, lambda t, v=too_big: v), OverflowError),
            (f"{p} callback raises", with_value(k, lambda t: Raising(CallbackError("cb"))),
             CallbackError),
            (f"{p} via __index__", with_value(k, lambda t, v=good: Index(v)), None),
            # A new int each time, not one of the cached small ones, so that a lost
            # reference to what __index__ returned shows in the block count.
            (f"{p} large via __index__", with_value(k, lambda t, v=large(p): Index(v + 0)),
             large_outcome(cls_name, p)),
            # A call back into the object being called: refused, then let out or swallowed.
            (f"{p} reentrant refused",
             with_value(k, lambda t: CallsBack(lambda: refused_inner(t))), RuntimeError),
            (f"{p} reentrant swallowed",
             with_value(k, lambda t: CallsBack(lambda: refused_inner(t), swallow=True)), None),
        ]
        if shared_outer:
            ops.append((f"{p} reentrant shared read",
                        with_value(k, lambda t: CallsBack(lambda: shared_inner(t))), None))
        if cls_name == "StateVecPy" and method in STATEVEC_INDEXED and p != "theta":
            ops.append((f"{p} out of range", with_value(k, lambda t: n), IndexError))
    if method == "amplitude":
        ops.append(("i out of range", lambda: obj.amplitude(1 << n), IndexError))
    if method == "measure_counts":
        ops.append(("sampler NaN", lambda: world.nan_sv.measure_counts(10, 1), ValueError))
        ops.append(("sampler NaN no seed", lambda: world.nan_sv.measure_counts(10), ValueError))
    if method == "run":
        ops.append(("sampler NaN", lambda: world.nan_qc.run(10, 1), ValueError))
        ops.append(("range", lambda: world.empty_qc.run(10, 1), ValueError))
        ops.append(("replay fails", lambda: world.bad_qc.run(10, 1), IndexError))
    if method == "apply_gates":
        ops.append(("replay fails", lambda: world.bad_qc.apply_gates(world.target), IndexError))
    return ops


def constructor_ops(cls_name, n):
    if cls_name == "StateVecPy":
        return [
            ("ok", lambda: StateVecPy(n, seed=5), None),
            ("keywords", lambda: StateVecPy(seed=5, n_qubits=n), None),
            ("no seed", lambda: StateVecPy(n), None),
            ("index objects", lambda: StateVecPy(Index(2), Index(9)), None),
            ("large index objects", lambda: StateVecPy(Index(BIG + 0)), ValueError),
            ("large seed object", lambda: StateVecPy(2, Index(BIG + 0)), None),
            ("zero", lambda: StateVecPy(0, 1), ValueError),
            ("thirty-one", lambda: StateVecPy(31), ValueError),
            ("negative", lambda: StateVecPy(-1), OverflowError),
            ("seed negative", lambda: StateVecPy(1, -1), OverflowError),
            ("type", lambda: StateVecPy("x"), TypeError),
            ("seed type", lambda: StateVecPy(1, seed=1.5), TypeError),
            ("type with cause", lambda: StateVecPy(Raising(caused_type_error())), TypeError),
            ("callback raises", lambda: StateVecPy(1, Raising(CallbackError())), CallbackError),
            ("missing", lambda: StateVecPy(), TypeError),
            ("too many", lambda: StateVecPy(1, 2, 3), TypeError),
            ("unexpected keyword", lambda: StateVecPy(1, bogus=2), TypeError),
            ("multiple values", lambda: StateVecPy(1, n_qubits=1), TypeError),
        ]
    return [
        ("ok", lambda: QuantumCircuit(n), None),
        ("keyword", lambda: QuantumCircuit(n_qubits=0), None),
        ("huge", lambda: QuantumCircuit(2 ** 64 - 1), None),
        ("large index object", lambda: QuantumCircuit(Index(BIG + 0)), None),
        ("negative", lambda: QuantumCircuit(-1), OverflowError),
        ("type", lambda: QuantumCircuit(None), TypeError),
        ("callback raises", lambda: QuantumCircuit(Raising(CallbackError())), CallbackError),
        ("missing", lambda: QuantumCircuit(), TypeError),
        ("too many", lambda: QuantumCircuit(1, 2), TypeError),
        ("unexpected keyword", lambda: QuantumCircuit(n=1), TypeError),
    ]


def getter_ops(world):
    sv = world.sv
    return [
        ("ok", lambda: sv.n_qubits, None),
        ("borrowed", lambda: sv.h(CallsBack(lambda: sv.n_qubits)), RuntimeError),
        ("read only", lambda: setattr(sv, "n_qubits", 3), AttributeError),
    ]


CASES = ([("StateVecPy", m) for m in STATEVEC_METHODS]
         + [("QuantumCircuit", m) for m in CIRCUIT_METHODS]
         + [("StateVecPy", "__new__"), ("QuantumCircuit", "__new__"), ("StateVecPy", "n_qubits")])


def all_ops(world, cls_name, method):
    if method == "__new__":
        return constructor_ops(cls_name, world.n)
    if method == "n_qubits":
        return getter_ops(world)
    return ops_for(world, cls_name, method)


def run_op(call, expected):
    if expected is None:
        call()
        return
    try:
        call()
    except expected:
        return
    raise AssertionError(f"no {expected.__name__}")


def run_ops(ops, rounds):
    calls = [(call, expected) for _, call, expected in ops]
    for _ in range(rounds):
        for call, expected in calls:
            run_op(call, expected)


def blocks():
    gc.collect()
    return sys.getallocatedblocks()


def test_cases_cover_every_method_of_both_classes():
    for cls, table in ((StateVecPy, STATEVEC_METHODS), (QuantumCircuit, CIRCUIT_METHODS)):
        assert method_parameters(cls) == table, cls.__name__


@pytest.mark.parametrize("cls_name, method", CASES, ids=[f"{c}.{m}" for c, m in CASES])
def test_every_path_raises_what_it_should(cls_name, method):
    world = World()
    ops = all_ops(world, cls_name, method)
    assert any(e is None for _, _, e in ops) and any(e is not None for _, _, e in ops)
    for label, call, expected in ops:
        try:
            call()
        except BaseException as error:  # PanicException must not slip by either
            assert expected is not None and type(error) is expected, (label, repr(error))
        else:
            assert expected is None, (label, "no error")
    # Nothing stays borrowed: an exclusive borrow of each object is granted.
    for obj in (world.sv, world.target):
        obj.x(0)
    world.qc.statevector()
    world.qc.x(0)


@NO_BLOCK_COUNTS
@pytest.mark.parametrize("cls_name, method", CASES, ids=[f"{c}.{m}" for c, m in CASES])
def test_allocated_blocks_stay_flat(cls_name, method):
    world = World()
    ops = all_ops(world, cls_name, method)
    run_ops(ops, WARM_UP)
    # A leak grows in both windows; a cache or free list that fills late shows in one at most.
    growth = []
    for _ in range(WINDOWS):
        before = blocks()
        run_ops(ops, ROUNDS)
        growth.append(blocks() - before)
    print(f"{cls_name}.{method}: {len(ops)} paths x {WARM_UP + WINDOWS * ROUNDS} calls, "
          f"block growth per window {growth}")
    assert min(growth) < BLOCK_SLACK, (growth, len(ops) * ROUNDS)


@NO_RSS
def test_resident_memory_stays_flat_with_large_vectors():
    # 12 qubits: every vector, copy, array and probability list is 32 to 64 KiB, so a leak of any
    # one of them per call is tens of MiB over the rounds.
    world = World(12)
    ops = []
    for cls_name, method in CASES:
        for label, call, expected in all_ops(world, cls_name, method):
            if label in ("ok", "positional", "no seed", "replay fails", "sampler NaN", "borrowed"):
                ops.append((label, call, expected))
    run_ops(ops, 20)
    before = resident_bytes()
    run_ops(ops, 400)
    after = resident_bytes()
    print(f"{len(ops)} paths x 420 calls at 12 qubits: resident {before} -> {after} bytes")
    assert after - before < (4 << 20), (before, after)


NUMPY_MISSING = textwrap.dedent(
    """
    import gc, os, sys
    sys.modules["numpy"] = None  # import numpy now fails
    import amplion

    def resident():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    sv = amplion.StateVecPy(10, seed=1)
    qc = amplion.QuantumCircuit(10)
    qc.h(0)
    calls = (sv.amplitudes, sv.statevector, qc.statevector)

    def fault_round():
        for call in calls:
            try:
                call()
            except Exception as e:
                raise AssertionError(repr(e))
            except BaseException as e:
                assert type(e).__name__ == "PanicException", repr(e)
                assert e.args[0].startswith("Failed to access NumPy array API capsule: "), e
            else:
                raise AssertionError("no fault")

    for _ in range(100):
        fault_round()
    gc.collect()
    blocks, rss = sys.getallocatedblocks(), resident()
    for _ in range(3000):
        fault_round()
    gc.collect()
    print(blocks, sys.getallocatedblocks(), rss, resident())
    sv.x(0)  # no borrow lingers
    qc.x(0)
    del sys.modules["numpy"]
    assert sv.amplitudes().view("u8")[2] == 0x3FF0000000000000
    """
)


def test_numpy_missing_fault_leaks_nothing():
    result = run_python(NUMPY_MISSING, timeout=300)
    assert result.returncode == 0, result.stderr
    before, after, rss_before, rss_after = map(int, result.stdout.split())
    print(f"NumPy missing, 3 x 3100 faults: blocks {before} -> {after}, "
          f"resident {rss_before} -> {rss_after} bytes")
    if not SANITIZED:
        assert after - before < BLOCK_SLACK, (before, after)
        assert rss_after - rss_before < (4 << 20), (rss_before, rss_after)
