"""Sweeps: many runs of circuits spread over processes or machines through a
concurrent.futures.Executor (a process pool, Dask's), with results that do not depend on where
they ran.

Task i of a sweep with seed s samples with its own seed, derived from s and i alone:

    int.from_bytes(hashlib.blake2b(s.to_bytes(8, "little") + i.to_bytes(8, "little"),
                                   digest_size=8).digest(), "little")

so its counts are fixed by the circuit, its bindings, the shots, s and i: not by the executor,
the number of workers, the batching or the order in which batches finish. A worker receives the
picklable Circuit, the bindings and the seed, and builds amplion's objects itself.
"""
from __future__ import annotations

import hashlib
import importlib
import math
import operator
import os
import pickle
import sys
from concurrent.futures import Executor, Future, ProcessPoolExecutor, as_completed
from concurrent.futures.process import BrokenProcessPool
from typing import (Any, Dict, Iterable, List, Mapping, Optional, Sequence, SupportsIndex,
                    Tuple, Union)

from .circuit import Circuit
from .parameters import Parameter
from .quantities import expectation

Bindings = Mapping[Union[str, Parameter], float]
Observable = Union[str, Mapping[str, float]]
# One task as sent: its index, its circuit, what it binds, its seed.
Task = Tuple[int, Circuit, Optional[Bindings], Optional[int]]

RESULTS = ("counts", "statevector", "expectation")
# Batches per worker when chunksize is not given: enough that when other load slows one worker,
# the others wait about one batch at most at the end (an eighth of a worker's share), few enough
# that sending a batch costs little next to running it.
_BATCHES_PER_WORKER = 8


class SweepError(Exception):
    """A task of a sweep raised `error`; `index` is the task's position, `bindings` what it
    bound (None when it bound nothing)."""

    def __init__(self, index: int, bindings: Optional[Bindings], error: BaseException) -> None:
        super().__init__("task %d (bindings %r) failed: %s: %s"
                         % (index, bindings, type(error).__name__, error))
        self.index = index
        self.bindings = bindings
        self.error = error

    def __reduce__(self) -> Tuple[Any, ...]:
        return (SweepError, (self.index, self.bindings, self.error))


def task_seed(seed: SupportsIndex, index: SupportsIndex) -> int:
    """The seed task `index` of a sweep with seed `seed` samples with: the first 8 bytes of
    BLAKE2b over both numbers as 8 little-endian bytes each, read little-endian.

    >>> task_seed(1, 0) == task_seed(1, 0) != task_seed(1, 1)
    True
    """
    key = operator.index(seed).to_bytes(8, "little") + operator.index(index).to_bytes(8, "little")
    return int.from_bytes(hashlib.blake2b(key, digest_size=8).digest(), "little")


def _run_task(circuit: Circuit, bindings: Optional[Bindings], shots: int, seed: Optional[int],
              result: str, observable: Optional[Observable]) -> Any:
    bound = circuit.bind(bindings) if bindings else circuit
    if result == "counts":
        return bound.run(shots, seed)
    if result == "statevector":
        return bound.statevector()
    assert observable is not None
    return expectation(bound, observable)


def _portable(error: BaseException) -> BaseException:
    """`error`, or a RuntimeError with its class name, message and traceback when it would not
    survive the trip to the caller (amplion's PanicException, which no module exports, does not).
    """
    try:
        pickle.loads(pickle.dumps(error))
    except Exception:
        return RuntimeError("%s: %s" % (type(error).__name__, error)).with_traceback(
            error.__traceback__)
    return error


def _run_batch(tasks: Sequence[Task], shots: int, result: str,
               observable: Optional[Observable]) -> List[Any]:
    """Runs a batch in a worker (or in the caller); the first failing task raises SweepError."""
    results = []
    for index, circuit, bindings, seed in tasks:
        try:
            results.append(_run_task(circuit, bindings, shots, seed, result, observable))
        except (KeyboardInterrupt, SystemExit):
            raise
        except BaseException as error:  # amplion's internal faults included
            portable = _portable(error)
            raise SweepError(index, bindings, portable) from portable
    return results


def _tasks(circuit: Any, bindings: Any,
           repeat: Optional[SupportsIndex]) -> List[Tuple[Circuit, Optional[Bindings]]]:
    """(circuit, bindings) of each task, in task order."""
    def binding_list(values: Any) -> List[Bindings]:
        if isinstance(values, (Mapping, str, bytes)) or not isinstance(values, Iterable):
            raise ValueError("bindings is a list of mappings from parameters to values, "
                             "not %s" % type(values).__name__)
        found = list(values)
        for value in found:
            if not isinstance(value, Mapping):
                raise ValueError("each binding maps parameter names or Parameters to values, "
                                 "got %s" % type(value).__name__)
        return found

    if isinstance(circuit, Circuit):
        if repeat is None:
            if bindings is None:
                raise ValueError("a sweep of one circuit needs bindings or repeat=")
            return [(circuit, b) for b in binding_list(bindings)]
        count = operator.index(repeat)
        if count < 0:
            raise ValueError("repeat must not be negative, got %d" % count)
        if bindings is not None and not isinstance(bindings, Mapping):
            raise ValueError("with repeat=, bindings is None or one mapping, not %s"
                             % type(bindings).__name__)
        return [(circuit, bindings)] * count
    if isinstance(circuit, (list, tuple)) and all(isinstance(c, Circuit) for c in circuit):
        if repeat is not None:
            raise ValueError("repeat= takes one circuit, not a list of them")
        if bindings is None:
            return [(c, None) for c in circuit]
        paired = binding_list(bindings)
        if len(paired) != len(circuit):
            raise ValueError("%d circuits need %d bindings, got %d"
                             % (len(circuit), len(circuit), len(paired)))
        return list(zip(circuit, paired))
    raise ValueError("a sweep runs a Circuit or a list of Circuits, not %s"
                     % type(circuit).__name__)


def _cpus() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1


def _workers(executor: Any) -> int:
    """How many tasks the executor runs at once, as far as it says; the CPUs otherwise."""
    count = getattr(executor, "_max_workers", None)  # the standard library's pools
    if count is None:
        client = getattr(executor, "_client", executor)  # Dask's executor holds its Client
        nthreads = getattr(client, "nthreads", None)
        if callable(nthreads):
            count = sum(nthreads().values())
    return count if isinstance(count, int) and count > 0 else _cpus()


def _dask_executor(executor: Any) -> Optional[Executor]:
    """Dask's executor when `executor` is a distributed.Client. A Client exists only once
    distributed is imported, so nothing is imported here."""
    distributed = sys.modules.get("distributed")
    if distributed is not None and isinstance(executor, distributed.Client):
        dask_executor: Executor = executor.get_executor(pure=False)
        return dask_executor
    return None


def _ranges(spans: Iterable[Tuple[int, int]]) -> str:
    """Task spans [start, stop) as "4-7, 12-15", neighbours merged."""
    merged: List[List[int]] = []
    for start, stop in sorted(spans):
        if merged and merged[-1][1] == start:
            merged[-1][1] = stop
        else:
            merged.append([start, stop])
    return ", ".join("%d" % a if b == a + 1 else "%d-%d" % (a, b - 1) for a, b in merged)


def sweep(circuit: Union[Circuit, Sequence[Circuit]], bindings: Any = None, *,
          repeat: Optional[SupportsIndex] = None, shots: SupportsIndex = 1000,
          seed: Optional[SupportsIndex] = None, executor: Any = None, result: str = "counts",
          observable: Optional[Observable] = None, chunksize: Optional[SupportsIndex] = None,
          progress: bool = False) -> List[Any]:
    """Runs many tasks and returns their results in task order.

    The tasks: `circuit` with each mapping of the list `bindings`; or each circuit of a list,
    paired with the list `bindings` when given; or, with `repeat=k`, `circuit` (bound with the
    one mapping `bindings`, if any) k times. A binding maps parameter names or Parameters to
    numbers. Each result is the counts of `shots` samples (`result="counts"`), the state
    (`"statevector"`, as Circuit.statevector) or the `expectation` of `observable`.

    With `seed`, task i samples with task_seed(seed, i), the same wherever it runs; without,
    every task is unseeded and counts differ from run to run.

    `executor` is any concurrent.futures.Executor (a ProcessPoolExecutor, Dask's
    client.get_executor()), a distributed.Client, "inline" to run in this process, or None for
    a process pool sized to the CPUs, made for this call. Tasks travel in batches of
    `chunksize` (by default about eight batches per worker). `progress=True` shows a tqdm bar.

    A failing task raises SweepError naming its index and bindings; a process pool whose worker
    died raises BrokenProcessPool naming the tasks that did not finish. Ctrl-C cancels the
    batches that have not started.

    >>> from amplion_kit import Circuit, Parameter
    >>> theta = Parameter("theta")
    >>> ansatz = Circuit(1).ry(0, theta)
    >>> sweep(ansatz, [{"theta": 0.0}, {theta: math.pi}], result="expectation",
    ...       observable="Z", executor="inline")
    [1.0, -1.0]
    >>> len(sweep(ansatz.bind(theta=1.0), repeat=3, shots=10, seed=7, executor="inline"))
    3
    """
    tasks = _tasks(circuit, bindings, repeat)
    shot_count = operator.index(shots)
    if shot_count < 0:
        raise ValueError("shots must not be negative, got %d" % shot_count)
    if seed is not None:
        seed = operator.index(seed)
        if not 0 <= seed < 1 << 64:
            raise ValueError("a sweep's seed is from 0 to 2**64 - 1, got %d" % seed)
    if result not in RESULTS:
        raise ValueError("result is one of %s, not %r" % (", ".join(map(repr, RESULTS)), result))
    if (observable is None) != (result != "expectation"):
        raise ValueError('observable goes with result="expectation", and only with it')
    batch_size = None if chunksize is None else operator.index(chunksize)
    if batch_size is not None and batch_size < 1:
        raise ValueError("chunksize must be positive, got %d" % batch_size)
    bar_type: Any = None
    if progress:
        try:
            bar_type = importlib.import_module("tqdm").tqdm
        except ImportError as error:
            raise ImportError("progress=True needs tqdm (Debian: python3-tqdm): %s"
                              % error) from None

    inline = isinstance(executor, str) and executor == "inline"
    pool: Optional[Executor] = None
    if isinstance(executor, Executor):
        pool = executor
    elif not inline and executor is not None:
        pool = _dask_executor(executor)
        if pool is None:
            raise TypeError("executor is a concurrent.futures.Executor, a distributed.Client, "
                            "'inline' or None, not %r" % (executor,))
    work: List[Task] = [(i, c, b, None if seed is None else task_seed(seed, i))
                        for i, (c, b) in enumerate(tasks)]
    if not work:
        return []
    owned = executor is None  # a pool made here is shut down here
    if owned:
        workers = min(_cpus(), len(work))
        pool = ProcessPoolExecutor(workers)
    else:
        workers = 1 if inline else _workers(executor)
    if batch_size is None:
        batch_size = 1 if inline else math.ceil(len(work) / (workers * _BATCHES_PER_WORKER))
    spans = [(start, min(start + batch_size, len(work)))
             for start in range(0, len(work), batch_size)]
    results: List[Any] = [None] * len(work)
    bar = bar_type(total=len(work), unit="task") if bar_type is not None else None
    finished = False
    try:
        if pool is None:
            for start, stop in spans:
                results[start:stop] = _run_batch(work[start:stop], shot_count, result,
                                                 observable)
                if bar is not None:
                    bar.update(stop - start)
        else:
            _gather(pool, work, spans, results, (shot_count, result, observable), bar)
        finished = True
    finally:
        if bar is not None:
            bar.close()
        if pool is not None and owned:
            pool.shutdown(wait=finished)  # not waiting for the batches a failure left running
    return results


def _gather(pool: Executor, work: List[Task], spans: List[Tuple[int, int]], results: List[Any],
            arguments: Tuple[int, str, Optional[Observable]], bar: Any) -> None:
    """Submits every batch, then fills `results` as batches finish. Any way out but success,
    Ctrl-C included, cancels the batches that have not started."""
    futures: Dict[Future[List[Any]], Tuple[int, int]] = {}
    try:
        for start, stop in spans:
            futures[pool.submit(_run_batch, work[start:stop], *arguments)] = (start, stop)
        for future in as_completed(futures):
            start, stop = futures[future]
            try:
                results[start:stop] = future.result()
            except BrokenProcessPool as error:
                unfinished = [span for f, span in futures.items()
                              if not f.done() or f.cancelled() or f.exception() is not None]
                raise BrokenProcessPool("a process of the pool died during the sweep; tasks %s "
                                        "of %d did not finish" % (_ranges(unfinished),
                                                                  len(work))) from error
            if bar is not None:
                bar.update(stop - start)
    except BaseException:
        for future in futures:
            future.cancel()
        raise
