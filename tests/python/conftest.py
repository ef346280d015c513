"""Shared helpers for the Python tests: bit patterns and subprocess runs against the built module."""
import inspect
import os
import struct
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, settings

import amplion

# Property tests: "ci" is derandomised (the same examples on every run) and writes no example
# database; scripts/test.sh selects it through HYPOTHESIS_PROFILE. Under the sanitizers every call
# costs several times more, so fewer examples run there.
SANITIZED = os.environ.get("AMPLION_SANITIZED") == "1"
# Set by the run against a build with AMPLION_EXACT_ROTATIONS=ON, whose rotations do not follow
# the C library's sincos.
EXACT_ROTATIONS = os.environ.get("AMPLION_EXACT_ROTATIONS") == "1"
FUZZ_EXAMPLES = int(os.environ.get("AMPLION_FUZZ_EXAMPLES", "250" if SANITIZED else "1500"))
settings.register_profile(
    "ci", derandomize=True, database=None, max_examples=FUZZ_EXAMPLES, deadline=None,
    print_blob=True, suppress_health_check=[HealthCheck.too_slow])
settings.register_profile(
    "dev", max_examples=FUZZ_EXAMPLES, deadline=None,
    suppress_health_check=[HealthCheck.too_slow])
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "dev"))


def bits(x):
    """The IEEE-754 bit pattern of a float, so that -0.0 and NaN payloads count."""
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def amp_bits(reg, i):
    re, im = reg.amplitude(i)
    return (bits(re), bits(im))


def state_bits(reg):
    """Every amplitude as a (real, imaginary) pair of bit patterns, read through amplitude()."""
    return [amp_bits(reg, i) for i in range(reg.length())]


def array_bits(arr):
    """A complex128 array as the list of its 64-bit words: real, imaginary, real, ..."""
    return arr.view("u8").tolist()


def method_parameters(cls):
    """Every public method of cls with the parameter names of its text signature after self,
    or None when it takes none."""
    methods = {}
    for name, attr in vars(cls).items():
        if not name.startswith("_") and callable(attr):
            methods[name] = list(inspect.signature(attr).parameters)[1:] or None
    return methods


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def module_dir():
    return os.path.dirname(amplion.__file__)


def run_python(code, executable=None, env=None, timeout=120):
    """Runs `code` in a fresh interpreter that imports the same amplion.abi3.so."""
    full_env = dict(os.environ)
    full_env["PYTHONPATH"] = module_dir()
    full_env.update(env or {})
    return subprocess.run(
        [executable or sys.executable, "-c", code],
        capture_output=True, text=True, env=full_env, timeout=timeout,
    )


@pytest.fixture
def reg3():
    return amplion.StateVecPy(3, seed=1)
