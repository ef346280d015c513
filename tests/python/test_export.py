"""Amplitude vectors as NumPy arrays: layout, independence, borrows, and every way NumPy can fail.

Tests that hide, break or fake NumPy run in a fresh interpreter, so this process's NumPy and the
module's process-wide NumPy cells stay untouched.
"""

import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import amplion
from conftest import SANITIZED, array_bits

ONE = 0x3FF0000000000000
PREFIX = "Failed to access NumPy array API capsule"


def run_isolated(*bodies):
    """Runs the `bodies`, one after the other, in a new interpreter that finds the same amplion; fails with its output."""
    env = dict(os.environ)
    here = os.path.dirname(os.path.abspath(amplion.__file__))
    env["PYTHONPATH"] = os.pathsep.join(p for p in (here, env.get("PYTHONPATH")) if p)
    prelude = textwrap.dedent(
        """
        import sys
        import amplion

        PREFIX = "Failed to access NumPy array API capsule"

        def panic_of(call):
            try:
                call()
            except Exception as e:
                raise AssertionError(f"expected PanicException, got {e!r}")
            except BaseException as e:
                assert type(e).__name__ == "PanicException", repr(e)
                assert type(e).__mro__[1] is BaseException, type(e).__mro__
                assert len(e.args) == 1 and isinstance(e.args[0], str), e.args
                return e.args[0]
            raise AssertionError("no exception")

        def first_bits(sv):
            return sv.amplitudes().view("u8").tolist()
        """
    )
    proc = subprocess.run(
        [sys.executable, "-c", prelude + "".join(map(textwrap.dedent, bodies)) + "\nprint('done')"],
        env=env,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert proc.returncode == 0 and proc.stdout.strip().endswith("done"), (
        f"rc={proc.returncode}\nstdout:\n{proc.stdout}\nstderr:\n{proc.stderr}"
    )
    return proc


@pytest.mark.parametrize("name", ["amplitudes", "statevector"])
@pytest.mark.parametrize(
    "n, expected",
    [
        (1, [ONE, 0, 0, 0]),
        (3, [ONE] + [0] * 15),
    ],
)
def test_fresh_register_exports_basis_state_zero(name, n, expected):
    arr = getattr(amplion.StateVecPy(n, seed=0), name)()
    assert type(arr) is np.ndarray
    assert arr.dtype == np.complex128 and arr.dtype.isnative
    assert arr.shape == (2**n,) and arr.ndim == 1
    assert arr.strides == (16,)
    flags = arr.flags
    assert flags.c_contiguous and flags.writeable and flags.owndata and flags.aligned
    assert arr.base is None
    assert array_bits(arr) == expected


def test_arrays_are_independent_copies():
    sv = amplion.StateVecPy(2, seed=0)
    a = sv.amplitudes()
    b = sv.statevector()
    assert a is not b and not np.shares_memory(a, b)
    a[0] = 5 - 7j
    a[3] = float("nan")
    assert array_bits(b) == [ONE] + [0] * 7
    assert array_bits(sv.amplitudes()) == [ONE] + [0] * 7
    assert sv.amplitude(0) == (1.0, 0.0)


def test_largest_export_in_the_suite_copies_every_element():
    # 2^16 elements: element 0 is 1, the rest +0.0; catches a short or offset copy.
    arr = amplion.StateVecPy(16, seed=0).amplitudes()
    words = arr.view(np.uint64)
    assert words.size == 2**17
    assert int(words[0]) == ONE and not words[1:].any()


@pytest.mark.parametrize("name", ["amplitudes", "statevector"])
def test_takes_no_arguments_and_carries_its_signature(name):
    sv = amplion.StateVecPy(1, seed=0)
    method = getattr(sv, name)
    assert method.__text_signature__ == "($self)"
    assert method.__doc__ is None
    with pytest.raises(TypeError):
        method(0)
    with pytest.raises(TypeError):
        method(x=0)


def test_export_takes_a_shared_borrow():
    sv = amplion.StateVecPy(2, seed=0)
    seen = []

    class ReadsDuringRead:
        def __index__(self):
            seen.append(array_bits(sv.amplitudes()))
            return 0

    # amplitude holds a shared borrow while converting i; a second shared borrow is allowed.
    assert sv.amplitude(ReadsDuringRead()) == (1.0, 0.0)
    assert seen == [[ONE] + [0] * 7]


def test_export_refused_under_an_exclusive_borrow():
    sv = amplion.StateVecPy(2, seed=0)
    errors = []

    class ReadsDuringGate:
        def __index__(self):
            try:
                sv.amplitudes()
            except RuntimeError as e:
                errors.append(str(e))
            return 0

    sv.x(ReadsDuringGate())
    assert errors == ["Already mutably borrowed"]
    assert array_bits(sv.amplitudes()) == [0, 0, ONE, 0, 0, 0, 0, 0]


def test_import_does_not_import_numpy():
    run_isolated(
        """
        assert "numpy" not in sys.modules
        sv = amplion.StateVecPy(1, seed=0)
        assert "numpy" not in sys.modules
        sv.amplitudes()
        assert "numpy" in sys.modules
        """
    )


def test_unimportable_numpy_panics_and_a_later_call_succeeds():
    run_isolated(
        """
        sys.modules["numpy"] = None  # import numpy now fails
        sv = amplion.StateVecPy(1, seed=0)
        for call in (sv.amplitudes, sv.statevector, sv.amplitudes):
            msg = panic_of(call)
            assert msg.startswith(PREFIX + ": ModuleNotFoundError"), msg
        # No borrow lingers: an exclusive borrow is granted, reads work.
        sv.x(0)
        assert sv.amplitude(1) == (1.0, 0.0)
        qc = amplion.QuantumCircuit(1)
        qc.x(0)
        msg = panic_of(qc.statevector)
        assert msg.startswith(PREFIX + ": ModuleNotFoundError"), msg
        qc.x(0)  # the circuit is not left borrowed either
        # Nothing was cached: once NumPy can be imported the export works.
        del sys.modules["numpy"]
        assert first_bits(sv) == [0, 0, 0x3FF0000000000000, 0]
        assert qc.statevector().view("u8").tolist() == [0x3FF0000000000000, 0, 0, 0]
        """
    )


def test_filled_cells_are_never_reset():
    run_isolated(
        """
        sv = amplion.StateVecPy(1, seed=0)
        expected = first_bits(sv)
        numpy = sys.modules["numpy"]
        sys.modules["numpy"] = None
        sys.modules["numpy.core.multiarray"] = None
        numpy.__version__ = "256.0.0"
        assert first_bits(sv) == expected
        """
    )


NUMPY_TWO = """
import numpy
multiarray = numpy.core.multiarray
numpy.__version__ = "{version}"
sv = amplion.StateVecPy(1, seed=0)
"""


@pytest.mark.parametrize("version", ["2.1.0", "255.0.0"])
def test_numpy_two_takes_the_capsule_from_underscore_core(version):
    run_isolated(
        NUMPY_TWO.format(version=version),
        """
        # From version 2 on only numpy._core counts, although numpy.core is there; the chosen
        # name is kept, and only the capsule is looked up again.
        msg = panic_of(sv.amplitudes)
        assert msg.startswith(PREFIX + ": ModuleNotFoundError"), msg
        assert "numpy._core" in msg, msg
        sys.modules["numpy._core"] = multiarray
        sys.modules["numpy._core.multiarray"] = multiarray
        sys.modules["numpy.core.multiarray"] = None  # proves numpy.core is not used
        arr = sv.amplitudes()
        assert arr.dtype == numpy.complex128 and arr.flags.owndata
        assert arr.view("u8").tolist() == [0x3FF0000000000000, 0, 0, 0]
        """
    )


@pytest.mark.parametrize(
    "version, error",
    [
        ("256.0.0", "OverflowError"),  # a major version of 256 does not wrap to 0
        ("1000.0.0", "OverflowError"),
        ("not a version", "ValueError"),
    ],
)
def test_unusable_version_faults_and_is_computed_again(version, error):
    run_isolated(
        NUMPY_TWO.format(version=version),
        f"""
        msg = panic_of(sv.amplitudes)
        assert msg.startswith(PREFIX + ": {error}"), msg
        numpy.__version__ = "1.24.0"
        assert first_bits(sv) == [0x3FF0000000000000, 0, 0, 0]
        """
    )


def test_missing_numpy_version_class_faults():
    run_isolated(
        """
        import numpy.lib
        saved = numpy.lib.NumpyVersion
        del numpy.lib.NumpyVersion
        sv = amplion.StateVecPy(1, seed=0)
        msg = panic_of(sv.amplitudes)
        assert msg.startswith(PREFIX + ": AttributeError"), msg
        numpy.lib.NumpyVersion = saved
        assert first_bits(sv) == [0x3FF0000000000000, 0, 0, 0]
        """
    )


def test_array_api_that_is_not_a_capsule_faults():
    run_isolated(
        """
        import numpy
        multiarray = numpy.core.multiarray
        saved = multiarray._ARRAY_API
        sv = amplion.StateVecPy(1, seed=0)
        for bad, name in ((5, "int"), ("x", "str"), (None, "NoneType")):
            multiarray._ARRAY_API = bad
            msg = panic_of(sv.amplitudes)
            assert msg == (PREFIX + ": TypeError: '" + name +
                           "' object cannot be converted to 'PyCapsule'"), msg
        del multiarray._ARRAY_API
        msg = panic_of(sv.amplitudes)
        assert msg.startswith(PREFIX + ": AttributeError"), msg
        multiarray._ARRAY_API = saved
        assert first_bits(sv) == [0x3FF0000000000000, 0, 0, 0]
        """
    )


@pytest.mark.skipif(SANITIZED, reason="peak resident memory under the sanitizer's allocator "
                    "(shadow memory, quarantine) says nothing about our copies")
def test_export_holds_register_and_array_only():
    # Peak resident memory during an export of a 21-qubit register (32 MiB a vector) grows by
    # about one vector, the array; a temporary copy would make it two.
    run_isolated(
        """
        import resource
        amplion.StateVecPy(1, seed=0).amplitudes()  # NumPy imported before measuring
        vector_kib = (16 << 21) >> 10
        sv = amplion.StateVecPy(21, seed=0)
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        arr = sv.amplitudes()
        after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        grown = after - before
        assert vector_kib // 2 < grown < vector_kib * 3 // 2, (grown, vector_kib)
        assert arr.view("u8")[0] == 0x3FF0000000000000
        """
    )


FAKE_TABLE = """
import ctypes
import numpy
multiarray = numpy.core.multiarray
api = ctypes.pythonapi
api.PyCapsule_GetPointer.restype = ctypes.c_void_p
api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
api.PyCapsule_New.restype = ctypes.py_object
api.PyCapsule_New.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
real = ctypes.cast(api.PyCapsule_GetPointer(multiarray._ARRAY_API, None),
                   ctypes.POINTER(ctypes.c_void_p))
table = (ctypes.c_void_p * 100)(*[real[k] for k in range(100)])
NewFromDescr = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int,
                                ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int,
                                ctypes.c_void_p)
DescrFromType = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_int)
refusals = []

def refuse(*args):
    refusals.append(args)
    return None

def install(name):
    multiarray._ARRAY_API = api.PyCapsule_New(ctypes.cast(table, ctypes.c_void_p), name, None)

sv = amplion.StateVecPy(1, seed=0)
"""


def test_named_capsule_is_read_under_its_name():
    run_isolated(
        FAKE_TABLE,
        """
        install(b"amplion.test.table")
        assert first_bits(sv) == [0x3FF0000000000000, 0, 0, 0]
        """,
    )


@pytest.mark.parametrize("entry, signature", [(94, "NewFromDescr"), (45, "DescrFromType")])
def test_refused_array_creation_is_a_fault(entry, signature):
    run_isolated(
        FAKE_TABLE,
        f"""
        hook = {signature}(refuse)
        table[{entry}] = ctypes.cast(hook, ctypes.c_void_p)
        install(None)
        msg = panic_of(sv.amplitudes)
        assert msg == "Python API call failed", msg
        assert len(refusals) == 1
        if {entry} == 45:
            assert refusals[0] == (15,), refusals  # complex double
        else:
            assert refusals[0][2] == 1, refusals  # one dimension
        sv.x(0)  # no borrow lingers
        assert sv.amplitude(1) == (1.0, 0.0)
        """,
    )
