"""Measurement counts as bar charts: a Bell pair, a GHZ state on 3 qubits and a Grover search on
4 qubits, 1000 seeded shots each, drawn side by side into one PNG.

Every outcome of each circuit gets a bar, the ones never drawn included, so the picture shows that
a Bell pair never gives 01 or 10. The seeds fix the counts, so the picture is the same on every
machine (up to the fonts matplotlib finds). Run it: python3 examples/histogram.py [output.png]
(default counts.png in the current folder).

Needs matplotlib (Debian: python3-matplotlib); without it, it stops before doing anything.
"""
import argparse

from bell import bell_pair
from common import expect, require
from ghz import ghz
from grover import grover, search_counts

SHOTS = 1000
GHZ_QUBITS = 3
GROVER_QUBITS, GROVER_MARKED = 4, 0b1011
# Small enough to commit, large enough to read 16 rotated outcome labels.
FIGURE_INCHES, DPI = (12.0, 3.8), 96


def all_outcomes(counts, n_qubits):
    """Every n-qubit outcome string in index order, with its count (0 when never drawn)."""
    outcomes = [format(i, "0%db" % n_qubits) for i in range(2 ** n_qubits)]
    return outcomes, [counts.get(k, 0) for k in outcomes]


def panels():
    """(title, n_qubits, counts) of each circuit, measured with a fixed seed."""
    bell_seed, ghz_seed, grover_seed = 2024, 7, 5
    reg, _, _ = grover(GROVER_QUBITS, GROVER_MARKED)
    return [
        ("Bell pair (2 qubits), seed %d" % bell_seed, 2,
         bell_pair().measure_counts(SHOTS, seed=bell_seed)),
        ("GHZ state (%d qubits), seed %d" % (GHZ_QUBITS, ghz_seed), GHZ_QUBITS,
         ghz(GHZ_QUBITS).measure_counts(SHOTS, seed=ghz_seed)),
        ("Grover search for %s (%d search qubits), seed %d"
         % (format(GROVER_MARKED, "0%db" % GROVER_QUBITS), GROVER_QUBITS, grover_seed),
         GROVER_QUBITS, search_counts(reg.measure_counts(SHOTS, seed=grover_seed), GROVER_QUBITS)),
    ]


def draw(path):
    import matplotlib

    matplotlib.use("Agg")  # draws into files only: no display, no window toolkit
    import matplotlib.pyplot as plt

    charts = panels()
    widths = [2 ** n for _, n, _ in charts]
    figure, axes = plt.subplots(1, len(charts), figsize=FIGURE_INCHES,
                                gridspec_kw={"width_ratios": [max(w, 4) for w in widths]})
    for ax, (title, n_qubits, counts) in zip(axes, charts):
        expect(sum(counts.values()) == SHOTS, "every shot is counted once")
        outcomes, heights = all_outcomes(counts, n_qubits)
        bars = ax.bar(outcomes, heights, color="tab:blue")
        ax.bar_label(bars, fontsize=8)
        ax.set_title(title)
        ax.set_xlabel("outcome (qubit 0 is the last digit)")
        ax.set_ylim(0, SHOTS * 1.1)
        ax.tick_params(axis="x", labelrotation=90 if n_qubits > 3 else 0)
    axes[0].set_ylabel("count of %d shots" % SHOTS)
    figure.tight_layout()
    # Without the Software entry the file depends on the counts and fonts, not on the version.
    figure.savefig(path, dpi=DPI, metadata={"Software": None})
    plt.close(figure)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Draws seeded measurement counts as bar charts.")
    parser.add_argument("output", nargs="?", default="counts.png", help="PNG file to write")
    args = parser.parse_args(argv)
    require("matplotlib", "to draw the bar charts")
    draw(args.output)
    print("wrote %s" % args.output)


if __name__ == "__main__":
    main()
