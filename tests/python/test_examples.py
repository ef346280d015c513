"""The examples run, check themselves, and fail when the simulator gets the physics wrong."""
import os
import re
import struct
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

from conftest import module_dir

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
RUNNABLE = ["bell.py", "ghz.py", "qft.py", "grover.py", "reproducible.py", "demo.py",
            "qasm_bell.py"]


def run_example(args, prelude=None, timeout=120):
    env = dict(os.environ, PYTHONPATH=module_dir())
    if prelude is None:
        command = [sys.executable, *args]
    else:
        command = [sys.executable, "-c", prelude, *args]
    return subprocess.run(command, cwd=EXAMPLES, env=env, capture_output=True, text=True,
                          timeout=timeout)


def test_every_example_is_run_here():
    assert sorted(p.name for p in EXAMPLES.glob("*.py")) == sorted(
        RUNNABLE + ["histogram.py", "sweep.py", "common.py"])


@pytest.mark.parametrize("name", RUNNABLE)
def test_example_passes_its_own_checks(name):
    result = run_example([name])
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-3000:]
    assert result.stderr == ""
    assert result.stdout.strip()


def test_demo_tour_prints_each_part_and_sorted_count_tables():
    out = run_example(["demo.py"]).stdout
    headers = re.findall(r"^== (.*)$", out, re.M)
    assert headers == ["A first look", "Bell pair", "GHZ state on 5 qubits",
                       "Quantum Fourier transform on 10 qubits", "Grover search on 8 qubits",
                       "A circuit recorded once, run with three seeds"]
    assert out.count("(checked, ") == 5
    # Each table: a header line, then one row per outcome in ascending order, with a bar whose
    # length follows the (first) count; the largest count gets the full width.
    single = re.findall(r"^ +outcome +count +share\n((?: +[01]+ +\d+ +[\d.]+% +#*\n)+)", out, re.M)
    side = re.findall(r"^ +outcome +seed 1 +seed 2 +seed 3\n((?: +[01]+(?: +\d+){3} +#*\n)+)",
                      out, re.M)
    assert len(single) == 4 and len(side) == 1
    for table, count_column in [(t, 1) for t in single] + [(side[0], 1)]:
        rows = [line.split() for line in table.splitlines()]
        outcomes = [row[0] for row in rows]
        counts = [int(row[count_column]) for row in rows]
        bars = [len(row[-1]) if row[-1].startswith("#") else 0 for row in rows]
        assert outcomes == sorted(outcomes)
        assert len({len(o) for o in outcomes}) == 1
        assert max(bars) in (30, 40)
        assert all(b == round(max(bars) * c / max(counts)) for b, c in zip(bars, counts))


@pytest.mark.parametrize("script, lines, size", [
    # 12 x 3.8 inches at 96 dots per inch; three bar charts compress to a few tens of kilobytes.
    ("histogram.py", 1, (1152, 364)),
    # 7 x 4 inches: a table of every fifth angle, then the picture.
    ("sweep.py", 12, (672, 384))])
def test_examples_draw_into_a_png(script, lines, size, tmp_path):
    path = tmp_path / "out.png"
    result = run_example([script, str(path)])
    assert result.returncode == 0 and result.stderr == "", result.stderr[-3000:]
    assert result.stdout.splitlines()[lines - 1:] == ["wrote %s" % path]
    data = path.read_bytes()
    assert data[:16] == b"\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR"
    assert struct.unpack(">II", data[16:24]) == size
    assert 10_000 < len(data) < 100_000


# Runs an example against a wrapper that breaks one method of one class; the example's own
# checks must notice.
SABOTAGE = textwrap.dedent("""
    import runpy, sys, types
    import amplion as real
    cls_name, method, change, script = sys.argv[1:5]

    class Wrapped:
        def __init__(self, *args, **kwargs):
            self._inner = getattr(real, cls_name)(*args, **kwargs)
        def __getattr__(self, name):
            return getattr(self._inner, name)

    changes = {
        "skip": lambda self, *args, **kwargs: None,
        "negate_angle": lambda self, *args: getattr(self._inner, method)(*args[:-1], -args[-1]),
        "drop_seed": lambda self, shots, seed=None: getattr(self._inner, method)(shots),
    }
    setattr(Wrapped, method, changes[change])
    fake = types.ModuleType("amplion")
    fake.StateVecPy, fake.QuantumCircuit = real.StateVecPy, real.QuantumCircuit
    setattr(fake, cls_name, Wrapped)
    sys.modules["amplion"] = fake
    sys.argv = [script]
    runpy.run_path(script, run_name="__main__")
""")

SABOTAGED = [
    ("bell.py", "StateVecPy", "cx", "skip", "the Bell pair should be (|00> + |11>) / sqrt(2)"),
    ("ghz.py", "StateVecPy", "cx", "skip", "only |0...0> and |1...1> should carry amplitude"),
    ("qft.py", "QuantumCircuit", "cp", "negate_angle",
     "the QFT should match NumPy's FFT within rounding"),
    ("grover.py", "StateVecPy", "cz", "skip",
     "the marked item's probability should match theory"),
    ("reproducible.py", "QuantumCircuit", "run", "drop_seed",
     "the same seed gives the same counts"),
    ("qasm_bell.py", "QuantumCircuit", "cx", "skip", "the two qubits of a Bell pair always agree"),
    ("sweep.py", "QuantumCircuit", "cx", "skip", "<XX> should be sin θ"),
]


@pytest.mark.parametrize("script,cls,method,change,message", SABOTAGED,
                         ids=[s[0] for s in SABOTAGED])
def test_example_detects_a_broken_gate(script, cls, method, change, message):
    result = run_example([cls, method, change, script], prelude=SABOTAGE)
    assert result.returncode != 0, result.stdout
    assert result.stderr.strip().splitlines()[-1] == "AssertionError: " + message


# Blocks one package as if it were not installed, then runs an example as a script.
BLOCKED = textwrap.dedent("""
    import runpy, sys
    sys.modules[sys.argv[1]] = None
    sys.argv = sys.argv[2:]
    runpy.run_path(sys.argv[0], run_name="__main__")
""")

# (script and arguments, package blocked, exit status, all of stderr as a pattern, start of stdout).
# A missing package's line ends with the import error's text, which differs between versions.
WITHOUT_PACKAGE = [
    (["qft.py"], "numpy", 1, r"qft\.py needs NumPy for numpy\.fft and the amplitude arrays: .+\n",
     ""),
    (["reproducible.py"], "numpy", 1,
     r"reproducible\.py needs NumPy for the amplitude array of statevector\(\): .+\n", ""),
    (["grover.py", "3", "8"], "numpy", 2, r"usage: grover\.py .*\ngrover\.py: error: the marked "
     r"item must be from 0 to 7 for 3 search qubits, not 8\n", ""),
    (["grover.py", "17"], "numpy", 2, r"usage: grover\.py .*\ngrover\.py: error: the number of "
     r"search qubits must be from 3 to 16, not 17\n", ""),
    (["histogram.py", os.devnull], "matplotlib", 1,
     r"histogram\.py needs matplotlib to draw the bar charts: .+\n", ""),
    (["grover.py", "3", "7"], "numpy", 0, "", "Grover search for 7 (111) among 2^3 = 8 items"),
    (["bell.py"], "numpy", 0, "", "Amplitudes of the Bell pair"),
    (["ghz.py", "3"], "numpy", 0, "", "GHZ state on 3 qubits"),
    (["qasm_bell.py"], "numpy", 0, "", "Read Circuit(2, 2).h(0).cx(0, 1)"),
    (["sweep.py", os.devnull], "matplotlib", 0, "", "<XX> over 41 angles on a local process"),
]


@pytest.mark.parametrize("args,blocked,status,stderr,stdout", WITHOUT_PACKAGE,
                         ids=[" ".join(w[0]) + " without " + w[1] for w in WITHOUT_PACKAGE])
def test_example_without_an_optional_package(args, blocked, status, stderr, stdout):
    result = run_example([blocked, *args], prelude=BLOCKED)
    assert result.returncode == status, result.stdout[-3000:] + result.stderr[-3000:]
    assert re.fullmatch(stderr, result.stderr), result.stderr
    assert result.stdout.startswith(stdout)


def test_demo_without_numpy_runs_the_other_parts_and_names_the_skipped_ones():
    result = run_example(["numpy", "demo.py"], prelude=BLOCKED)
    assert result.returncode == 0 and result.stderr == "", result.stderr[-3000:]
    out = result.stdout
    assert out.count("(checked, ") == 3
    assert out.count("(skipped: needs NumPy ") == 2
    assert out.rstrip().splitlines()[-1] == (
        "Skipped without NumPy: Quantum Fourier transform on 10 qubits; "
        "A circuit recorded once, run with three seeds.")
