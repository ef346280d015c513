"""amplion_kit.sweep against its goals, each next to a reference measured in the same run:

- parallel speedup: 200 bindings of a 16-qubit, 100-gate parametrised circuit, 1,000 shots each,
  at least 1.7 times as fast on two workers as on one worker of the same kind, for a process pool
  and for Dask (a LocalCluster of worker processes with one thread each);
- per-task overhead: on a 2-qubit circuit, batched, a process pool of one worker takes at most
  1 ms a task more than the same tasks run inline.

Executors are started and warmed up before anything is timed. Runs on one and on two workers
alternate, in alternating order, so that other load on the machine hits both alike; the ratio is
that of the medians. Every run's results must equal the first's.

Run: PYTHONPATH=build/release/python python3 bench/sweep_bench.py [--rounds N] [--quick]
Prints medians and ratios, and exits with 1 when a goal is missed.
"""
import argparse
import logging
import math
import os
import random
import statistics
import time
from concurrent.futures import ProcessPoolExecutor

from amplion_kit import Circuit, Parameter, sweep

N_QUBITS, N_GATES, N_BINDINGS, SHOTS, SEED = 16, 100, 200, 1000, 2024


def ansatz(rng):
    """16 qubits, 100 gates: rotations by 8 parameters (some scaled) and two-qubit gates."""
    params = [Parameter("p%d" % k) for k in range(8)]
    circuit = Circuit(N_QUBITS, N_QUBITS)
    for _ in range(N_GATES):
        if rng.random() < 0.6:
            angle = rng.choice(params) * rng.choice([1.0, 0.5, -2.0])
            getattr(circuit, rng.choice(["rx", "ry", "rz"]))(rng.randrange(N_QUBITS), angle)
        else:
            getattr(circuit, rng.choice(["cx", "cz"]))(*rng.sample(range(N_QUBITS), 2))
    for q in range(N_QUBITS):
        circuit.measure(q, q)
    return circuit, params


def timed(function):
    start = time.perf_counter()
    value = function()
    return time.perf_counter() - start, value


def speedup(label, one, two, circuit, bindings, rounds, reference):
    """Medians of alternating sweeps on one and on two workers, and their ratio."""
    times = {1: [], 2: []}
    for k in range(rounds):
        for workers in ((1, 2) if k % 2 == 0 else (2, 1)):
            seconds, results = timed(lambda: sweep(circuit, bindings, shots=SHOTS, seed=SEED,
                                                   executor=one if workers == 1 else two))
            assert results == reference, "%s on %d workers gave other results" % (label, workers)
            times[workers].append(seconds)
    ratio = statistics.median(times[1]) / statistics.median(times[2])
    print("%s: 1 worker %.2f s, 2 workers %.2f s (medians of %d, interleaved): %.2f times as "
          "fast (goal >= 1.7); each round: %s" % (
              label, statistics.median(times[1]), statistics.median(times[2]), rounds, ratio,
              ", ".join("%.2f" % (a / b) for a, b in zip(times[1], times[2]))))
    return ratio


def overhead(pool, rounds, tasks):
    """Per-task seconds of a 2-qubit sweep inline, and in a one-worker pool batched and not."""
    theta = Parameter("theta")
    circuit = Circuit(2, 2).ry(0, theta).cx(0, 1).measure(0, 0).measure(1, 1)
    bindings = [{theta: 0.001 * i} for i in range(tasks)]
    unbatched = bindings[:tasks // 10]
    times = {"inline": [], "batched": [], "unbatched": []}
    for _ in range(rounds):
        inline_time, reference = timed(lambda: sweep(circuit, bindings, seed=1,
                                                     executor="inline"))
        pool_time, results = timed(lambda: sweep(circuit, bindings, seed=1, executor=pool))
        assert results == reference
        single_time, _ = timed(lambda: sweep(circuit, unbatched, seed=1, executor=pool,
                                             chunksize=1))
        times["inline"].append(inline_time / tasks)
        times["batched"].append(pool_time / tasks)
        times["unbatched"].append(single_time / len(unbatched))
    inline, batched = statistics.median(times["inline"]), statistics.median(times["batched"])
    extra = batched - inline
    print("overhead: 2 qubits, 1,000 shots, %d tasks: inline %.1f us a task, a one-worker pool "
          "in batches (the default) %.1f us a task: %.1f us a task more (goal <= 1000); one task "
          "a batch (%d tasks): %.1f us a task (medians of %d)" % (
              tasks, inline * 1e6, batched * 1e6, extra * 1e6, len(unbatched),
              statistics.median(times["unbatched"]) * 1e6, rounds))
    return extra


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5, help="runs on each worker count")
    parser.add_argument("--quick", action="store_true", help="one round, fewer tasks")
    options = parser.parse_args()
    rounds = 1 if options.quick else options.rounds
    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    rng = random.Random(SEED)
    circuit, params = ansatz(rng)
    bindings = [{p: rng.uniform(-math.pi, math.pi) for p in params} for _ in range(N_BINDINGS)]
    reference = sweep(circuit, bindings, shots=SHOTS, seed=SEED, executor="inline")
    failed = []

    with ProcessPoolExecutor(1) as one, ProcessPoolExecutor(2) as two:
        for pool in (one, two):  # start the workers
            sweep(circuit, bindings[:4], seed=1, executor=pool)
        if speedup("process pool", one, two, circuit, bindings, rounds, reference) < 1.7:
            failed.append("process pool speedup")
        if overhead(one, rounds, 2000 if options.quick else 20000) > 1e-3:
            failed.append("per-task overhead")

    try:
        import dask
        import distributed
    except ImportError:
        print("Dask: skipped, distributed (python3-distributed) is not installed")
    else:
        def cluster(workers):
            return distributed.LocalCluster(n_workers=workers, threads_per_worker=1,
                                            processes=True, dashboard_address=":0",
                                            silence_logs=logging.ERROR)
        # Dask's nanny starts its workers with MALLOC_TRIM_THRESHOLD_=65536 (and leaves it in
        # this process's environment); measured first, a worker without it, for comparison.
        with dask.config.set({"distributed.nanny.pre-spawn-environ": {}}):
            with cluster(1) as plain, distributed.Client(plain) as client:
                sweep(circuit, bindings[:4], seed=1, executor=client)
                seconds = statistics.median(
                    timed(lambda: sweep(circuit, bindings, shots=SHOTS, seed=SEED,
                                        executor=client))[0] for _ in range(rounds))
        with cluster(1) as c1, cluster(2) as c2, distributed.Client(c1) as one, \
                distributed.Client(c2) as two:
            for client in (one, two):
                sweep(circuit, bindings[:4], seed=1, executor=client)
            if speedup("Dask", one, two, circuit, bindings, rounds, reference) < 1.7:
                failed.append("Dask speedup")
            default = statistics.median(timed(lambda: sweep(
                circuit, bindings, shots=SHOTS, seed=SEED, executor=one))[0]
                for _ in range(rounds))
        print("Dask, 1 worker: %.2f s as Dask starts it, %.2f s without MALLOC_TRIM_THRESHOLD_ "
              "in its environment (medians of %d)" % (default, seconds, rounds))
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())
    if failed:
        raise SystemExit("missed: " + ", ".join(failed))


if __name__ == "__main__":
    main()
