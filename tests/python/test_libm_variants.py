"""rx, ry, rz and cp take their sine and cosine from the C library's sincos, and glibc picks an FMA
or a non-FMA variant of it by processor. GLIBC_TUNABLES=glibc.cpu.hwcaps=-FMA forces the non-FMA
one: the rotation known values must hold under it too, and it must really switch the variant."""
import os
import subprocess
import sys
from pathlib import Path

import pytest

import amplion
from conftest import EXACT_ROTATIONS, amp_bits, module_dir, run_python

pytestmark = pytest.mark.skipif(
    EXACT_ROTATIONS, reason="the exact-rotations build does not use the C library's sincos")

NO_FMA = {"GLIBC_TUNABLES": "glibc.cpu.hwcaps=-FMA"}
HERE = Path(__file__).resolve().parent

# rz(0, 0.383) on |0> leaves amplitude 0 = (cos 0.1915, -sin 0.1915). glibc 2.36's two variants
# round sin 0.1915 one ulp apart; the words come from a C program calling sincos(0.1915) with
# and without the tunable.
ANGLE = 0.383
COS = 0x3FEF6A3FBAF88F87
NEG_SIN_FMA = 0xBFC85CC9EC57DC7A
NEG_SIN_NO_FMA = 0xBFC85CC9EC57DC79

PRINT_RZ = ("import amplion, struct\n"
            "r = amplion.StateVecPy(1, seed=0)\n"
            "r.rz(0, %r)\n"
            "print(*('%%016X' %% struct.unpack('<Q', struct.pack('<d', v))[0]"
            " for v in r.amplitude(0)))\n" % ANGLE)


def cpu_has_fma():
    with open("/proc/cpuinfo") as info:
        flags = next((line for line in info if line.startswith("flags")), "")
    return {"fma", "avx2"} <= set(flags.split())


def words(out):
    return tuple(int(w, 16) for w in out.split())


def test_tunable_selects_the_non_fma_sincos():
    result = run_python(PRINT_RZ, env=NO_FMA)
    assert result.returncode == 0, result.stderr
    assert words(result.stdout) == (COS, NEG_SIN_NO_FMA)


def test_default_sincos_follows_the_processor():
    reg = amplion.StateVecPy(1, seed=0)
    reg.rz(0, ANGLE)
    got = amp_bits(reg, 0)
    assert got == (COS, NEG_SIN_FMA if cpu_has_fma() else NEG_SIN_NO_FMA)


def test_python_rotation_known_values_hold_without_fma():
    env = dict(os.environ, PYTHONPATH=module_dir(), **NO_FMA)
    result = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
         "test_gates.py", "test_circuit.py"],
        cwd=HERE, env=env, capture_output=True, text=True, timeout=300)
    summary = result.stdout.strip().splitlines()[-1] if result.stdout.strip() else ""
    assert result.returncode == 0, result.stdout[-4000:] + result.stderr[-2000:]
    assert " passed" in summary and "failed" not in summary, summary


def gtest_binary():
    # The C++ tests are built next to the module when the tests are configured (scripts/test.sh).
    path = Path(module_dir()).parent / "tests" / "cpp" / "engine_gates_test"
    return path if path.exists() else None


def test_cpp_rotation_known_values_hold_without_fma():
    binary = gtest_binary()
    if binary is None:
        pytest.skip("engine_gates_test is not built next to this module")
    result = subprocess.run([str(binary), "--gtest_filter=GateEdgeValues.*:GateNonFinite.*"],
                            env=dict(os.environ, **NO_FMA), capture_output=True, text=True,
                            timeout=300)
    assert result.returncode == 0, result.stdout[-4000:]
    assert "[  PASSED  ]" in result.stdout and "FAILED" not in result.stdout
