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
            methods[name] = tuple(inspect.signature(attr).parameters)[1:] or None
    return methods


# Every public method of both classes with its parameters in order; None: takes no arguments.
# A test checks them against the classes' text signatures.
STATEVEC_METHODS = {
    "h_cpp": ("q",), "x_cpp": ("q",), "cx_cpp": ("c", "t"), "ccx_cpp": ("c1", "c2", "t"),
    "cswap_cpp": ("c", "t1", "t2"), "amplitude": ("i",), "amplitudes": None,
    "statevector": None, "length": None, "x": ("q",), "y": ("q",), "z": ("q",), "h": ("q",),
    "s": ("q",), "sdg": ("q",), "t": ("q",), "tdg": ("q",), "sx": ("q",), "sxdg": ("q",),
    "rx": ("q", "theta"), "ry": ("q", "theta"), "rz": ("q", "theta"),
    "cx": ("control", "target"), "swap": ("q1", "q2"), "cy": ("control", "target"),
    "cz": ("control", "target"), "ccx": ("c1", "c2", "t"), "cswap": ("c", "t1", "t2"),
    "cp": ("control", "target", "theta"), "measure_counts": ("shots", "seed"),
    "check_qubit": ("q",),
}
CIRCUIT_METHODS = {
    "x": ("q",), "y": ("q",), "z": ("q",), "h": ("q",), "s": ("q",), "sdg": ("q",),
    "t": ("q",), "tdg": ("q",), "sx": ("q",), "sxdg": ("q",), "rx": ("q", "theta"),
    "ry": ("q", "theta"), "rz": ("q", "theta"), "cx": ("c", "t"), "swap": ("q1", "q2"),
    "cy": ("c", "t"), "cz": ("c", "t"), "ccx": ("c1", "c2", "t"), "cswap": ("c", "t1", "t2"),
    "cp": ("c", "t", "theta"), "run": ("shots", "seed"), "statevector": None,
    "apply_gates": ("sv",),
}


class Index:
    """An integer only through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"Index({self.value!r})"


class CallbackError(Exception):
    """What test callbacks raise, so that no error of the module's own can pass for it."""


def caused_type_error():
    """A TypeError with a cause, which the module's re-worded TypeError must keep."""
    error = TypeError("inner")
    error.__cause__ = KeyError("root")
    return error


class Raising:
    """__index__ and __float__ raise `error`: an exception instance as it is, or a new exception
    from a factory (an exception class, a partial, a function) on every call. Each exception
    goes to `note` first when one is given."""

    def __init__(self, error, note=None):
        self.error, self.note = error, note

    def _raise(self):
        error = self.error() if callable(self.error) else self.error
        if self.note is not None:
            self.note(error)
        raise error

    __index__ = _raise
    __float__ = _raise

    def __repr__(self):
        return f"Raising({self.error!r})"


class CallsBack:
    """__index__ and __float__ first run `inner()`, a call back into the object being called,
    then return `value`. Unless `swallow`, the inner call's exception passes through, handed to
    `note` first when one is given."""

    def __init__(self, inner, value=1, swallow=False, note=None):
        self.inner, self.value, self.swallow, self.note = inner, value, swallow, note

    def __index__(self):
        try:
            self.inner()
        except BaseException as error:  # whatever the inner call raised, refusals mostly
            if not self.swallow:
                if self.note is not None:
                    self.note(error)
                raise
        return self.value

    def __float__(self):
        return float(self.__index__())

    def __repr__(self):
        return f"CallsBack({self.inner!r} -> {self.value!r}, swallow={self.swallow})"


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
