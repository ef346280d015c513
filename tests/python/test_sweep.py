"""Sweeps on real engines: the same seeded results inline, on process pools of one and two
workers, on a Dask cluster of two worker processes and on a pool made per call; workers that die;
failing tasks; Ctrl-C."""
import logging
import os
import signal
import sys
import textwrap
from concurrent.futures import ProcessPoolExecutor
from concurrent.futures.process import BrokenProcessPool

import pytest

from amplion_kit import Circuit, Parameter, SweepError, expectation, sweep, task_seed
from conftest import array_bits, run_python

# Debian's Dask starts its event loop through an API that this tornado deprecates.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")

A, B = Parameter("a"), Parameter("b")
ANSATZ = (Circuit(3, 3).h(0).rx(1, A).crz(0, 2, B - A).cx(1, 2).u3(2, A, B, 0.3)
          .measure(0, 0).measure(1, 1).measure(2, 2))
BINDINGS = [{"a": 0.4 * i, B: 1.0 - i} for i in range(9)]
OTHER = Circuit(3).ry(0, A).cx(0, 2).rzz(1, 2, A)

# (sweep arguments, the tasks as (circuit, bindings) in task order)
SWEEPS = [
    (dict(circuit=ANSATZ, bindings=BINDINGS, shots=300, seed=11), [(ANSATZ, b) for b in BINDINGS]),
    (dict(circuit=ANSATZ, bindings={"a": 0.5, "b": 1.0}, repeat=6, shots=50, seed=2 ** 64 - 1),
     [(ANSATZ, {"a": 0.5, "b": 1.0})] * 6),
    (dict(circuit=[ANSATZ, OTHER, ANSATZ.bind(a=1.0)], bindings=[{A: 0.5, B: 0.2}, {"a": -1.0},
                                                                 {"b": 3.0}],
          result="expectation", observable={"ZIZ": 0.5, "XYI": -1.0}),
     [(ANSATZ, {A: 0.5, B: 0.2}), (OTHER, {"a": -1.0}), (ANSATZ.bind(a=1.0), {"b": 3.0})]),
    (dict(circuit=[ANSATZ.bind(a=0.1, b=0.2), OTHER.bind(a=2.5)], result="statevector"),
     [(ANSATZ.bind(a=0.1, b=0.2), None), (OTHER.bind(a=2.5), None)]),
]


def comparable(results):
    return [array_bits(r) if hasattr(r, "view") else r for r in results]


def run_directly(arguments, tasks):
    """Each task's result from the circuit itself, task i sampling with task_seed(seed, i)."""
    results = []
    for i, (circuit, bindings) in enumerate(tasks):
        bound = circuit.bind(bindings or {})
        kind = arguments.get("result", "counts")
        if kind == "counts":
            results.append(bound.run(arguments["shots"], seed=task_seed(arguments["seed"], i)))
        elif kind == "statevector":
            results.append(bound.statevector())
        else:
            results.append(expectation(bound, arguments["observable"]))
    return comparable(results)


class DyingValue:
    """A binding value whose conversion to float kills the process converting it: every time,
    or, with `marker`, only while the file `marker` does not exist (it is made first)."""

    def __init__(self, value, marker=None):
        self.value, self.marker = value, marker

    def __float__(self):
        if self.marker is None or not os.path.exists(self.marker):
            if self.marker is not None:
                open(self.marker, "x").close()
            os.kill(os.getpid(), signal.SIGKILL)
        return self.value


@pytest.fixture(scope="session")
def dask_client():
    """A Dask cluster of two worker processes of one thread each, for the whole session."""
    distributed = pytest.importorskip("distributed", reason="Dask (python3-distributed) is not "
                                      "installed")
    environ = dict(os.environ)  # Dask's nanny sets MALLOC_TRIM_THRESHOLD_ in this process too
    try:
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                      dashboard_address=":0",
                                      silence_logs=logging.CRITICAL) as cluster:
            with distributed.Client(cluster, timeout=60) as client:
                yield client
    finally:
        os.environ.clear()
        os.environ.update(environ)


@pytest.fixture(scope="module")
def pools():
    with ProcessPoolExecutor(1) as one, ProcessPoolExecutor(2) as two:
        yield {1: one, 2: two}


def executor_named(name, request):
    if name.startswith("pool-"):
        return request.getfixturevalue("pools")[int(name[-1])]
    if name.startswith("dask"):
        client = request.getfixturevalue("dask_client")
        return client.get_executor() if name == "dask-executor" else client
    return {"inline": "inline", "default": None}[name]


# (executor, chunksize): batches of every size, so that results cannot depend on them either.
EXECUTORS = [("inline", None), ("pool-1", 1), ("pool-2", 3), ("dask-executor", None),
             ("dask-client", 2), ("default", None)]


@pytest.mark.parametrize("name, chunksize", EXECUTORS, ids=[e[0] for e in EXECUTORS])
def test_the_same_seeded_sweep_gives_the_same_results_everywhere(name, chunksize, request):
    executor = executor_named(name, request)
    for arguments, tasks in SWEEPS:
        got = sweep(**arguments, executor=executor, chunksize=chunksize)
        assert comparable(got) == run_directly(arguments, tasks), arguments


def test_task_seeds_follow_the_documented_rule_and_no_seed_means_fresh_entropy():
    assert [task_seed(1, i) for i in range(3)] == [0xa61488d29bccf5c3, 0x353ea32809d3b1e3,
                                                   0xa4b606d672cfa396]
    assert (task_seed(0, 0), task_seed(2 ** 64 - 1, 2 ** 64 - 1)) == (0x0e7494f907a55052,
                                                                      0x2787b85ccf3569f5)
    bound = ANSATZ.bind(a=0.5, b=1.0)
    first, second = sweep(bound, repeat=2, shots=2000, executor="inline")
    assert first != second and sum(first.values()) == 2000
    assert sweep(bound, repeat=0) == sweep(ANSATZ, []) == sweep([]) == []


# (arguments after the circuit, exception, start of the message); nothing is run
REFUSED = [
    (dict(), ValueError, "a sweep of one circuit needs bindings or repeat="),
    (dict(bindings={"a": 1.0}), ValueError, "bindings is a list of mappings from parameters to "
     "values, not dict"),
    (dict(bindings="ab"), ValueError, "bindings is a list of mappings"),
    (dict(bindings=[{"a": 1.0}, 2.0]), ValueError, "each binding maps parameter names or "
     "Parameters to values, got float"),
    (dict(bindings=BINDINGS, repeat=2), ValueError, "with repeat=, bindings is None or one "
     "mapping, not list"),
    (dict(repeat=-1), ValueError, "repeat must not be negative, got -1"),
    (dict(repeat=1.5), TypeError, "'float' object cannot be interpreted as an integer"),
    (dict(bindings=BINDINGS, shots=-1), ValueError, "shots must not be negative, got -1"),
    (dict(bindings=BINDINGS, seed=2 ** 64), ValueError, "a sweep's seed is from 0 to 2**64 - 1"),
    (dict(bindings=BINDINGS, seed=-1), ValueError, "a sweep's seed is from 0 to 2**64 - 1"),
    (dict(bindings=BINDINGS, result="probabilities"), ValueError, "result is one of 'counts', "
     "'statevector', 'expectation', not 'probabilities'"),
    (dict(bindings=BINDINGS, result="expectation"), ValueError, 'observable goes with '
     'result="expectation", and only with it'),
    (dict(bindings=BINDINGS, observable="ZZZ"), ValueError, "observable goes with"),
    (dict(bindings=BINDINGS, chunksize=0), ValueError, "chunksize must be positive, got 0"),
    (dict(bindings=BINDINGS, executor="threads"), TypeError, "executor is a "
     "concurrent.futures.Executor, a distributed.Client, 'inline' or None, not 'threads'"),
    (dict(bindings=[], executor=object()), TypeError, "executor is a"),
]


@pytest.mark.parametrize("arguments, error, message", REFUSED, ids=range(len(REFUSED)))
def test_refused_sweeps(arguments, error, message):
    with pytest.raises(error) as caught:
        sweep(ANSATZ, **arguments)
    assert str(caught.value).startswith(message), str(caught.value)


@pytest.mark.parametrize("circuits, bindings, repeat, message", [
    ("OPENQASM 2.0;", None, None, "a sweep runs a Circuit or a list of Circuits, not str"),
    ([ANSATZ, "h q[0];"], None, None, "a sweep runs a Circuit or a list of Circuits, not list"),
    ([ANSATZ, OTHER], [{"a": 1.0}], None, "2 circuits need 2 bindings, got 1"),
    ([ANSATZ], None, 2, "repeat= takes one circuit, not a list of them")])
def test_refused_task_lists(circuits, bindings, repeat, message):
    with pytest.raises(ValueError, match="^" + message):
        sweep(circuits, bindings, repeat=repeat)


class StubbornError(Exception):
    """Pickles, but does not unpickle: its constructor wants two arguments."""

    def __init__(self, message, detail):
        super().__init__(message)


class FailingValue:
    def __float__(self):
        raise StubbornError("no number here", None)

    def __repr__(self):
        return "FailingValue()"


@pytest.mark.parametrize("name", ["inline", "pool-2", "dask-client"])
def test_a_failing_task_is_raised_with_its_index_and_bindings(name, request):
    executor = executor_named(name, request)
    good = {"a": 0.1, "b": 0.2}
    for bindings, index, error, message in [
            ([good] * 5 + [{"a": 0.3}] + [good] * 4, 5, ValueError,
             "task 5 (bindings {'a': 0.3}) failed: ValueError: unbound parameters: b; bind them "
             "first with bind()"),
            ([good, {"a": FailingValue()}], 1, RuntimeError,  # it could not travel as it is
             "task 1 (bindings {'a': FailingValue()}) failed: RuntimeError: StubbornError: no "
             "number here")]:
        with pytest.raises(SweepError) as caught:
            sweep(ANSATZ, bindings, executor=executor, chunksize=2)
        assert str(caught.value) == message
        assert (caught.value.index, repr(caught.value.bindings)) == (index, repr(bindings[index]))
        assert type(caught.value.error) is error


def test_a_dask_worker_that_dies_is_replaced_and_the_results_stay_the_same(dask_client, tmp_path):
    marker = str(tmp_path / "died")
    values = [0.25 * i for i in range(16)]
    dying = [{"a": DyingValue(v, marker) if i == 5 else v, "b": 0.5} for i, v in enumerate(values)]
    got = sweep(ANSATZ, dying, shots=200, seed=3, executor=dask_client, chunksize=2)
    assert os.path.exists(marker)  # a worker did die in task 5
    assert got == sweep(ANSATZ, [{"a": v, "b": 0.5} for v in values], shots=200, seed=3,
                        executor="inline")
    dask_client.wait_for_workers(2, timeout=60)  # the nanny's restart, before anyone closes it


def test_a_pool_whose_worker_dies_raises_broken_process_pool_naming_the_unfinished_tasks():
    bindings = [{"a": DyingValue(0.5) if i == 5 else 0.5, "b": 0.5} for i in range(12)]
    with ProcessPoolExecutor(1) as pool:
        with pytest.raises(BrokenProcessPool, match=r"^a process of the pool died during the "
                           r"sweep; tasks 4-11 of 12 did not finish$"):
            sweep(ANSATZ, bindings, executor=pool, chunksize=2)


def test_ctrl_c_cancels_the_batches_that_have_not_started(tmp_path):
    # Task 3 sends SIGINT to the caller from the pool's one worker, which notes every task it
    # starts. Without cancelling, the pool's shutdown would wait for all 200.
    code = textwrap.dedent("""
        import os, signal
        from concurrent.futures import ProcessPoolExecutor
        from amplion_kit import Circuit, Parameter, sweep
        LOG = %r

        class Interrupting:
            def __init__(self, index, caller):
                self.index, self.caller = index, caller
            def __float__(self):
                with open(LOG, "a") as log:
                    log.write("%%d\\n" %% self.index)
                if self.index == 3:
                    os.kill(self.caller, signal.SIGINT)
                return 0.5

        circuit = Circuit(16).ry(0, Parameter("t"))  # a few milliseconds a task
        for q in range(1, 16):
            circuit.cx(q - 1, q).rx(q, 0.1 * q)
        pool = ProcessPoolExecutor(1)
        try:
            sweep(circuit, [{"t": Interrupting(i, os.getpid())} for i in range(200)],
                  executor=pool, chunksize=1)
        except KeyboardInterrupt:
            print("interrupted")
        pool.shutdown(wait=True)
        print(len(open(LOG).read().split()))
    """) % str(tmp_path / "started")
    result = run_python(code)
    lines = result.stdout.split()
    assert lines[0] == "interrupted", result.stdout + result.stderr
    assert 4 <= int(lines[1]) < 50, lines


def test_progress_bar_counts_tasks_and_needs_tqdm(pools, capsys, monkeypatch):
    pytest.importorskip("tqdm", reason="tqdm (python3-tqdm) is not installed")
    sweep(ANSATZ, BINDINGS[:7], executor=pools[2], chunksize=3, progress=True)
    assert "7/7" in capsys.readouterr().err
    monkeypatch.setitem(sys.modules, "tqdm", None)
    with pytest.raises(ImportError, match=r"^progress=True needs tqdm \(Debian: python3-tqdm\)"):
        sweep(ANSATZ, BINDINGS, executor="inline", progress=True)
