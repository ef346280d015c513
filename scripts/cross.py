"""Same bits on other processors: builds the engine's digest driver (tests/cross) with Debian's
cross compilers, runs it under qemu-user and compares every line with the x86-64 driver's lines,
computed in the same run. The driver prints one hash per case of a fixed workload.

    python3 scripts/cross.py    (run by scripts/test.sh; prints failures and one summary line)

Each cross build is configured as a builder who only names another compiler would configure it:
CMAKE_SYSTEM_PROCESSOR still names this host, so every architecture decision must key on the
target. Rotations follow the C library's sincos unless the build rounds them exactly, so they are
compared only with the x86-64 variant of glibc that the target's glibc matches.

To add a build, add a row to BUILDS.
"""
import collections
import concurrent.futures
import os
import subprocess
import sys
from pathlib import Path

from determinism import fused_instructions

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "cross"

# name: build folder under build/cross; triple: the Debian cross compiler and sysroot;
# flags: the builder's CMAKE_CXX_FLAGS; qemu: the emulator; rotations: the x86-64 glibc variant of
# sincos whose rotations the target's glibc gives ("fma", "no-fma"), or "exact" for the
# exact-rotations build (compared with x86-64's exact build; its other cases are the default
# build's); plain: whether the workload without rotations runs.
Cross = collections.namedtuple("Cross", "name triple flags qemu rotations plain")
BUILDS = [
    Cross("aarch64", "aarch64-linux-gnu", "", "qemu-aarch64", "fma", True),
    Cross("aarch64-O3-armv8.3-a", "aarch64-linux-gnu", "-O3 -march=armv8.3-a", "qemu-aarch64",
          "fma", True),
    Cross("s390x", "s390x-linux-gnu", "", "qemu-s390x", "fma", True),
    Cross("i686", "i686-linux-gnu", "", "qemu-i386", "no-fma", True),
    Cross("aarch64-exact", "aarch64-linux-gnu", "", "qemu-aarch64", "exact", False),
]
# The exact build loads MPFR at run time; Debian's multiarch package puts the target's copy here.
MPFR = {"aarch64-linux-gnu": Path("/usr/lib/aarch64-linux-gnu/libmpfr.so.6")}
NO_FMA = {"GLIBC_TUNABLES": "glibc.cpu.hwcaps=-FMA,-AVX2"}

# The target of each cross compiler, as scripts/determinism.py's scan of fused instructions names it.
TARGET = {"aarch64-linux-gnu": "aarch64", "s390x-linux-gnu": "s390x", "i686-linux-gnu": "x86"}


def run(command, log, env=None):
    with open(log, "a") as out:
        return subprocess.run(command, cwd=ROOT, env=env, stdout=out, stderr=subprocess.STDOUT,
                              check=False).returncode == 0


def build(folder, configure, log):
    """Configures (when given a command) and builds the driver in `folder`; None on failure."""
    log.parent.mkdir(parents=True, exist_ok=True)
    log.write_text("")
    env = {k: v for k, v in os.environ.items() if k not in ("CXXFLAGS", "CFLAGS", "LDFLAGS")}
    if not ((not configure or run(configure, log, env)) and
            run(["cmake", "--build", str(folder), "-j2", "--target", "engine_digest"], log, env)):
        return None
    return folder / "tests" / "cross" / "engine_digest"


def native(preset):
    """The driver of the x86-64 preset build, which scripts/test.sh has usually built already."""
    folder = ROOT / "build" / preset
    cache = folder / "CMakeCache.txt"
    configured = cache.exists() and "AMPLION_BUILD_DIGEST:BOOL=ON" in cache.read_text()
    configure = None if configured else ["cmake", "--preset", preset]
    return build(folder, configure, BUILD / ("native-%s.log" % preset))


def cross(spec):
    folder = BUILD / spec.name
    configure = ["cmake", "-S", ".", "-B", str(folder), "-G", "Ninja",
                 "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_COMPILER=%s-g++" % spec.triple,
                 "-DCMAKE_CXX_FLAGS=" + spec.flags, "-DAMPLION_BUILD_MODULE=OFF",
                 "-DAMPLION_BUILD_TESTS=OFF", "-DAMPLION_BUILD_DIGEST=ON",
                 "-DAMPLION_EXACT_ROTATIONS=" + ("ON" if spec.rotations == "exact" else "OFF")]
    return build(folder, configure, folder / "build.log")


def digest(command, env=None):
    """The driver's lines: the sincos variant it reports, and the cases."""
    result = subprocess.run(command, cwd=ROOT, env=dict(os.environ, **(env or {})),
                            capture_output=True, text=True, check=False)
    if result.returncode != 0:
        return None, ["failed with status %d: %s" % (result.returncode, result.stderr.strip())]
    lines = result.stdout.splitlines()
    return lines[0].split(": ", 1)[1], lines[1:]


def emulated(spec, binary, *args):
    command = [spec.qemu, "-L", "/usr/" + spec.triple]
    if spec.rotations == "exact":
        command += ["-E", "LD_LIBRARY_PATH=%s" % MPFR[spec.triple].parent]
    return digest(command + [str(binary)] + list(args))[1]


def compare(what, lines, reference):
    if lines == reference:
        return None
    differing = [b for a, b in zip(reference, lines) if a != b]
    first = differing[0] if differing else (lines or ["no output"])[0]
    return "%s: %d of %d lines differ from x86-64, first: %s" % (
        what, len(differing) + abs(len(lines) - len(reference)), len(reference), first)


def x87_refused(log):
    """The base layer's guard stops a build whose doubles would round in x87's 80 bits."""
    guard = ROOT / "src" / "base" / "float_eval.cpp"
    result = subprocess.run(["i686-linux-gnu-g++", "-std=c++20", "-mfpmath=387", "-fsyntax-only",
                             str(guard)], capture_output=True, text=True, check=False)
    log.write_text(result.stderr)
    return result.returncode != 0 and "evaluates in extended precision (x87)" in result.stderr


Outcome = collections.namedtuple("Outcome", "failures notes compared log")


def check(spec, reference):
    """Builds one row, scans its code and compares its digests."""
    if spec.rotations == "exact" and not MPFR[spec.triple].exists():
        return Outcome([], ["%s skipped: %s is missing (libmpfr-dev:arm64 from Debian's multiarch, "
                            "which scripts/setup.sh installs only where apt adds it without "
                            "removing or upgrading a package of this host)"
                            % (spec.name, MPFR[spec.triple])], [], None)
    binary = cross(spec)
    if binary is None:
        log = BUILD / spec.name / "build.log"
        return Outcome(["%s: build failed (%s)" % (spec.name, log)], [], [], log)
    failures, notes, compared = [], [], []
    fused = fused_instructions(binary, TARGET[spec.triple], spec.triple + "-objdump")
    if fused:
        failures.append("%s: %d fused multiply-add instructions (%s)"
                        % (spec.name, len(fused), ", ".join(sorted(set(fused)))))
    if spec.plain:
        failures.append(compare(spec.name, emulated(spec, binary), reference["plain"]))
        compared.append("all but rotations")
    if spec.rotations in reference:
        failures.append(compare(spec.name + " rotations", emulated(spec, binary, "--rotations"),
                                reference[spec.rotations]))
        compared.append("rotations as x86-64's %s" % spec.rotations)
    else:
        notes.append("%s rotations skipped: its glibc's sincos gives the bits of x86-64 glibc's "
                     "%s variant, which this host does not take" % (spec.name, spec.rotations))
    return Outcome([f for f in failures if f], notes, compared, None)


def main():
    BUILD.mkdir(parents=True, exist_ok=True)
    reference = {}
    for preset in ("dev", "exact"):
        binary = native(preset)
        if binary is None:
            print((BUILD / ("native-%s.log" % preset)).read_text().rstrip())
            print("cross: the x86-64 %s build failed" % preset)
            return 1
        if preset == "dev":
            reference["plain"] = digest([str(binary)])[1]
            variant, reference["rotations"] = digest([str(binary), "--rotations"])
            reference[variant] = reference["rotations"]
            masked, lines = digest([str(binary), "--rotations"], NO_FMA)
            reference.setdefault(masked, lines)
        else:
            reference["exact"] = digest([str(binary), "--rotations"])[1]

    def run(spec):  # one row, with a line as it ends for the test command's progress
        outcome = check(spec, reference)
        print("build %s: %s" % (spec.name, ", ".join(outcome.compared) or "failed"), flush=True)
        return outcome

    # Two rows at a time: while one configures or runs under qemu, the other compiles.
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        outcomes = list(pool.map(run, BUILDS))
    failures, notes = [], []
    for outcome in outcomes:
        if outcome.log:
            print(outcome.log.read_text().rstrip())
        failures += outcome.failures
        notes += outcome.notes
    if not x87_refused(BUILD / "x87.log"):
        failures.append("x87: the base layer's guard did not refuse -mfpmath=387 (%s)"
                        % (BUILD / "x87.log"))
    for note in notes:
        print("  " + note)
    for failure in failures:
        print("FAILED", failure)
    if failures:
        print("cross: %d failure(s)" % len(failures))
        return 1
    print("cross: %d digests of %d builds under qemu-user give x86-64's bits, no fused "
          "multiply-add, x87 refused (%d skipped)"
          % (sum(len(o.compared) for o in outcomes), sum(bool(o.compared) for o in outcomes),
             len(notes)))
    return 0

if __name__ == "__main__":
    sys.exit(main())
