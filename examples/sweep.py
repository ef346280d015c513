"""A parameter sweep: the correlation <XX> of cos(θ/2)|00> + sin(θ/2)|11>, made by ry(θ) on qubit
0 and a cx, over 41 angles from 0 to 2π, exactly and estimated from 2,000 seeded shots an angle,
both computed by amplion_kit.sweep on a local process pool sized to the CPUs, and drawn with
matplotlib where it is installed.

<XX> is sin θ. The estimate measures both qubits after an H on each, which turns XX into ZZ:
(even − odd outcomes) / shots. The seeded counts are the same bits wherever the sweep runs: in
this process, on the pool, or on a Dask cluster given with --scheduler HOST:PORT (the example
checks the first two against each other).

Run it: python3 examples/sweep.py [output.png] [--scheduler HOST:PORT] (default sweep.png in the
current folder). Needs NumPy for the exact values; matplotlib only for the picture.
"""
import argparse
import math

from amplion_kit import Circuit, Parameter, sweep

from common import available, expect, require, within_sigma

ANGLES, SHOTS, SEED = 41, 2000, 2024


def circuits():
    theta = Parameter("theta")
    pair = Circuit(2, 2).ry(0, theta).cx(0, 1)
    in_x = pair.copy().h(0).h(1).measure(0, 0).measure(1, 1)
    return pair, in_x


def run(executor):
    """The angles, exact <XX> and the counts of each angle's shots."""
    pair, in_x = circuits()
    angles = [2 * math.pi * k / (ANGLES - 1) for k in range(ANGLES)]
    bindings = [{"theta": angle} for angle in angles]
    exact = sweep(pair, bindings, result="expectation", observable="XX", executor=executor)
    counts = sweep(in_x, bindings, shots=SHOTS, seed=SEED, executor=executor)
    expect(counts == sweep(in_x, bindings, shots=SHOTS, seed=SEED, executor="inline"),
           "a seeded sweep gives the same counts wherever it runs")
    return angles, exact, counts


def draw(path, angles, exact, estimates):
    import matplotlib

    matplotlib.use("Agg")  # draws into files only: no display, no window toolkit
    import matplotlib.pyplot as plt

    figure, ax = plt.subplots(figsize=(7.0, 4.0))
    ax.plot(angles, exact, color="tab:blue", label="exact (result=\"expectation\")")
    ax.plot(angles, estimates, "o", color="tab:orange", markersize=4,
            label="from %d seeded shots (result=\"counts\")" % SHOTS)
    ax.set_xlabel("θ (radians)")
    ax.set_ylabel("<XX>")
    ax.set_title("<XX> of cos(θ/2)|00> + sin(θ/2)|11>")
    ax.legend(loc="lower left")
    figure.tight_layout()
    figure.savefig(path, dpi=96, metadata={"Software": None})
    plt.close(figure)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Sweeps <XX> over an angle and plots it.")
    parser.add_argument("output", nargs="?", default="sweep.png", help="PNG file to write")
    parser.add_argument("--scheduler", metavar="HOST:PORT", help="a Dask scheduler to run on")
    args = parser.parse_args(argv)
    require("numpy", "for the exact expectation values")
    if args.scheduler:
        require("distributed", "to reach a Dask scheduler")
        import distributed
        executor, where = distributed.Client(args.scheduler), "Dask at " + args.scheduler
    else:
        executor, where = None, "a local process pool"
    angles, exact, counts = run(executor)

    estimates = []
    for angle, value, outcome in zip(angles, exact, counts):
        expect(abs(value - math.sin(angle)) < 1e-12, "<XX> should be sin θ")
        even = outcome.get("00", 0) + outcome.get("11", 0)
        expect(within_sigma(even, SHOTS, (1 + math.sin(angle)) / 2),
               "the even outcomes should come up (1 + sin θ) / 2 of the time")
        estimates.append((2 * even - SHOTS) / SHOTS)
    print("<XX> over %d angles on %s, %d shots an angle, seed %d:" % (ANGLES, where, SHOTS, SEED))
    print("  %7s  %8s  %11s" % ("theta", "exact", "from counts"))
    for k in range(0, ANGLES, 5):
        print("  %7.4f  %8.5f  %11.4f" % (angles[k], exact[k], estimates[k]))
    if available("matplotlib"):
        draw(args.output, angles, exact, estimates)
        print("wrote %s" % args.output)
    else:
        print("no picture: matplotlib is not installed")


if __name__ == "__main__":
    main()
