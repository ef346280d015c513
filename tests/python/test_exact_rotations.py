"""The exact-rotations build (AMPLION_EXACT_ROTATIONS=ON): rx's cosine and sine must be MPFR's,
rounded once to the nearest double, and the processor's FMA must not change a bit."""
import math
import random

import pytest

import amplion
from conftest import EXACT_ROTATIONS, bits, run_python

pytestmark = pytest.mark.skipif(
    not EXACT_ROTATIONS, reason="needs the exact-rotations build (AMPLION_EXACT_ROTATIONS=1)")

NO_FMA = {"GLIBC_TUNABLES": "glibc.cpu.hwcaps=-FMA,-AVX2"}
PI = 3.141592653589793


def thetas():
    rng = random.Random(11)
    out = [rng.uniform(-4 * PI, 4 * PI) for _ in range(1500)]
    out += [rng.choice((-1, 1)) * math.ldexp(rng.random() + 0.5, rng.randrange(30, 1024))
            for _ in range(400)]
    out += [rng.choice((-1, 1)) * math.ldexp(rng.random(), -rng.randrange(27, 1075))
            for _ in range(400)]
    for _ in range(400):
        x = rng.randrange(-4096, 4097) * PI
        for _ in range(rng.randrange(8)):
            x = math.nextafter(x, math.inf)
        out.append(x)
    return out + [0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308, 1.7976931348623157e308]


def mpfr_cos_sin(x):
    """cos x and sin x from MPFR at binary64's precision and exponent range."""
    import gmpy2
    ctx = gmpy2.context(precision=53, emin=-1073, emax=1024, subnormalize=True,
                        round=gmpy2.RoundToNearest)
    with gmpy2.local_context(ctx):
        y = gmpy2.mpfr(x)
        return float(gmpy2.cos(y)), float(gmpy2.sin(y))


def test_rx_matches_mpfr():
    pytest.importorskip("gmpy2")
    wrong = []
    for theta in thetas():
        reg = amplion.StateVecPy(1, seed=0)
        reg.rx(0, theta)
        got = (bits(reg.amplitude(0)[0]), bits(reg.amplitude(1)[1]))
        c, s = mpfr_cos_sin(theta * 0.5)
        # amplitude 0 is (c, 0); amplitude 1 is (0, 0.0 - s): a zero sine comes back as +0.0
        if got != (bits(c), bits(0.0 - s)):
            wrong.append(theta.hex())
    assert wrong == []


@pytest.mark.parametrize("theta", [math.nan, math.inf, -math.inf])
def test_non_finite_rx_is_nan(theta):
    reg = amplion.StateVecPy(1, seed=0)
    reg.rx(0, theta)
    assert all(math.isnan(v) for i in range(2) for v in reg.amplitude(i))


# rx, ry, rz and cp at many angles; prints a hash of every amplitude's bits.
DIGEST = """
import amplion, hashlib, random, struct
rng = random.Random(5)
reg = amplion.StateVecPy(3, seed=0)
for _ in range(300):
    for q in range(3):
        reg.h(q)
        for gate in (reg.rx, reg.ry, reg.rz):
            gate(q, rng.uniform(-20.0, 20.0))
    reg.cp(rng.randrange(3), rng.randrange(3), rng.uniform(-20.0, 20.0))
print(hashlib.sha256(b"".join(struct.pack("<dd", *reg.amplitude(i))
                              for i in range(8))).hexdigest())
"""


def test_rotations_ignore_the_processors_fma():
    digests = []
    for env in ({}, NO_FMA):
        result = run_python(DIGEST, env=env)
        assert result.returncode == 0, result.stderr
        digests.append(result.stdout.strip())
    assert len(digests[0]) == 64 and digests[0] == digests[1]
