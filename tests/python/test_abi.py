"""One build of amplion.abi3.so loads in every CPython from 3.8 on."""
import glob
import os
import sys

import pytest

from conftest import run_python

SMOKE = (
    "import sys, amplion\n"
    "r = amplion.StateVecPy(3, seed=7)\n"
    "assert amplion.__all__ == ['StateVecPy', 'QuantumCircuit']\n"
    "assert r.length() == 8 and r.n_qubits == 3 and r.amplitude(0) == (1.0, 0.0)\n"
    "try:\n"
    "    r.check_qubit(3)\n"
    "except IndexError as e:\n"
    "    assert str(e) == 'qubit index out of range'\n"
    "else:\n"
    "    raise AssertionError('check_qubit(3) raised nothing')\n"
    "try:\n"
    "    r.amplitude(q=0)\n"
    "except TypeError as e:\n"
    "    assert str(e) == \"StateVecPy.amplitude() got an unexpected keyword argument 'q'\"\n"
    "else:\n"
    "    raise AssertionError('amplitude(q=0) raised nothing')\n"
    "amplion.QuantumCircuit(0)\n"
    "print('%d.%d ok' % sys.version_info[:2])\n"
)


def interpreters():
    found = {}
    if os.path.exists("/usr/bin/python3"):
        found["debian"] = "/usr/bin/python3"
    root = os.path.expanduser(os.environ.get("PYENV_ROOT", "~/.pyenv"))
    for minor in range(8, 14):
        for path in sorted(glob.glob(os.path.join(root, "versions", "3.%d.*" % minor,
                                                  "bin", "python3"))):
            found.setdefault("3.%d" % minor, path)
    return found


INTERPRETERS = interpreters()


@pytest.mark.parametrize("label", ["debian"] + ["3.%d" % m for m in range(8, 14)])
def test_same_build_imports(label):
    path = INTERPRETERS.get(label)
    if path is None:
        pytest.skip("no CPython %s on this machine" % label)
    result = run_python(SMOKE, executable=path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip().endswith(" ok")


def test_this_interpreter_imports():
    result = run_python(SMOKE)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "%d.%d ok" % sys.version_info[:2]
