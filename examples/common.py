"""Helpers shared by the examples: a self-check that survives `python -O`, a check for the optional
packages some examples need, and readable output."""
import importlib
import math
import os
import sys

# The names users know the optional packages by, for the line an example stops with.
DISPLAY_NAMES = {"numpy": "NumPy", "matplotlib": "matplotlib"}


def available(module):
    """True when `module` imports; it is then imported, so later imports of it are cheap."""
    try:
        importlib.import_module(module)
    except ImportError:
        return False
    return True


def require(module, purpose):
    """Stops the example, before it does any work, with one line naming the missing package.

    The exit status is 1, as for an example whose checks fail, since it did not do its job.
    """
    try:
        importlib.import_module(module)
    except ImportError as error:
        sys.exit("%s needs %s %s: %s" % (os.path.basename(sys.argv[0]),
                                         DISPLAY_NAMES.get(module, module), purpose, error))


def expect(condition, message):
    """Stops the example with `message` when a physical expectation does not hold."""
    if not condition:
        raise AssertionError(message)


def within_sigma(count, shots, p, sigmas=5.0):
    """True when `count` of `shots` draws lies within `sigmas` standard deviations of p * shots."""
    sd = math.sqrt(shots * p * (1.0 - p))
    return abs(count - shots * p) <= sigmas * max(sd, 1.0)


def print_counts(counts, width=40, indent="  "):
    """Prints measurement counts as a table sorted by outcome, with a bar for each outcome.

    Outcome strings put qubit 0 last: "01" means qubit 0 measured 1 and qubit 1 measured 0.
    """
    shots = sum(counts.values())
    top = max(counts.values(), default=0)
    label = max([len("outcome")] + [len(k) for k in counts])
    digits = max(len("count"), len(str(top)))
    print("%s%-*s  %*s  %6s" % (indent, label, "outcome", digits, "count", "share"))
    for outcome in sorted(counts):
        n = counts[outcome]
        bar = "#" * (round(width * n / top) if top else 0)
        print("%s%-*s  %*d  %5.1f%%  %s" % (indent, label, outcome, digits, n,
                                           100.0 * n / shots, bar))


def print_amplitudes(reg, indent="  ", skip_zero=True):
    """Prints the amplitudes of a register as |bits>  re + im j, qubit 0 last."""
    n = reg.n_qubits
    for i in range(reg.length()):
        re, im = reg.amplitude(i)
        if skip_zero and re == 0.0 and im == 0.0:
            continue
        print("%s|%s>  % .16f %+.16fj" % (indent, format(i, "0%db" % n), re, im))


def print_count_columns(columns, width=30, indent="  "):
    """Prints several counts dicts side by side, sorted by outcome, with a bar for the first."""
    outcomes = sorted(set().union(*columns.values()))
    first = next(iter(columns.values()))
    top = max(first.values(), default=0)
    label = max([len("outcome")] + [len(k) for k in outcomes])
    widths = [max(len(str(name)), 5) for name in columns]
    print(indent + "%-*s" % (label, "outcome")
          + "".join("  %*s" % (w, name) for w, name in zip(widths, columns)))
    for outcome in outcomes:
        n = first.get(outcome, 0)
        bar = "#" * (round(width * n / top) if top else 0)
        print(indent + "%-*s" % (label, outcome)
              + "".join("  %*d" % (w, counts.get(outcome, 0))
                        for w, counts in zip(widths, columns.values()))
              + "  " + bar)
