"""Builds the module the way builders tune it and checks that every build gives the default build's
bits: the digest of scripts/digest.py must match, and no fused multiply-add may appear in the object
code. The reference is built in the same run, since rotations follow this machine's C library.

    python3 scripts/determinism.py    (run by scripts/test.sh; prints failures and one summary line)

To add a build, add a row to BUILDS.
"""
import collections
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# name: build folder under build/bits; cxx: the compiler; cmake: extra configure arguments;
# flags: environment a builder would set (CXXFLAGS, LDFLAGS); run_env: environment of the digest run.
# Rows whose compiler, arguments and flags agree share one build. The first row of each group is
# that group's reference: the exact-rotations build rounds some sines and cosines differently from
# the C library, so it is compared with itself, tuned and on its other processor path.
Build = collections.namedtuple("Build", "name cxx cmake flags run_env group")
EXACT = ["-DAMPLION_EXACT_ROTATIONS=ON"]
NO_FMA_AVX2 = {"GLIBC_TUNABLES": "glibc.cpu.hwcaps=-FMA,-AVX2"}
# Masking AVX2 also selects the gates' portable passes instead of their AVX2 ones. It changes
# glibc's sincos variant too, so only the exact build, whose rotations do not use it, can show
# that both passes give the same bits.
NO_AVX2 = {"GLIBC_TUNABLES": "glibc.cpu.hwcaps=-AVX2"}
BUILDS = [
    # the reference: what pip and a plain cmake build make
    Build("default", "g++", [], {}, {}, "default"),
    Build("gcc-O3-x86-64-v3", "g++", [], {"CXXFLAGS": "-O3 -march=x86-64-v3"}, {}, "default"),
    Build("gcc-O3-native", "g++", ["-DCMAKE_CXX_FLAGS=-O3 -march=native"], {}, {}, "default"),
    Build("clang-O3-x86-64-v3", "clang++", [], {"CXXFLAGS": "-O3 -march=x86-64-v3"}, {}, "default"),
    Build("exact", "g++", EXACT, {}, {}, "exact"),
    Build("exact-mpfr", "g++", EXACT, {}, NO_FMA_AVX2, "exact"),
    Build("exact-gcc-O3-native", "g++", EXACT + ["-DCMAKE_CXX_FLAGS=-O3 -march=native"], {}, {},
          "exact"),
    Build("exact-no-avx2", "g++", EXACT, {}, NO_AVX2, "exact"),
    Build("exact-gcc-O3-native-no-avx2", "g++", EXACT + ["-DCMAKE_CXX_FLAGS=-O3 -march=native"],
          {}, NO_AVX2, "exact"),
]
BUILDER_VARIABLES = ("CFLAGS", "CXXFLAGS", "CPPFLAGS", "LDFLAGS", "CXX", "CC")
# Fused multiply-adds by target, as objdump names them: on x86 vfmadd*, vfmsub*, vfmaddsub*,
# vfnmadd*, ... in either encoding; on aarch64 fmadd, fmsub, fnmadd, fnmsub, the vector fmla, fmls,
# fmlal, fmlsl, the complex fcmla, SVE's fmad, fmsb, fnmad, fnmsb, fnmla, fnmls and the bfloat16
# bfml*; on s390x madbr, msdbr, maebr, msebr (and their memory forms) and the vector vfma, vfms,
# vfnma, vfnms with their wf* scalar forms. aarch64's fcadd is no fused instruction: it adds and
# subtracts, one rounding each, as the written code does.
FUSED = {
    "x86": r"vfn?m\S*",
    "aarch64": r"fn?m(add|sub|ad|sb|la|ls)|fml[as]l2?|fcmla|bfml\S*",
    "s390x": r"m[as][de]br?|[vw]fn?m[as](db|sb|xb)?",
}


def run(command, log, env=None):
    with open(log, "a") as out:
        return subprocess.run(command, cwd=ROOT, env=env, stdout=out, stderr=subprocess.STDOUT,
                              check=False).returncode == 0


def build(spec, python):
    folder = ROOT / "build" / "bits" / spec.name
    folder.mkdir(parents=True, exist_ok=True)
    log = folder / "build.log"
    log.write_text("")
    # CXXFLAGS and LDFLAGS are read once, into a fresh cache.
    cache = folder / "CMakeCache.txt"
    if cache.exists():
        cache.unlink()
    env = {k: v for k, v in os.environ.items() if k not in BUILDER_VARIABLES}
    env.update(spec.flags)
    configure = ["cmake", "-S", ".", "-B", str(folder), "-G", "Ninja",
                 "-DPython_EXECUTABLE=" + python, "-DCMAKE_CXX_COMPILER=" + spec.cxx,
                 "-DAMPLION_BUILD_TESTS=OFF", "-DAMPLION_BUILD_BENCH=OFF"] + spec.cmake
    if not (run(configure, log, env) and
            run(["cmake", "--build", str(folder), "-j2", "--target", "amplion"], log, env)):
        return None, log
    return folder / "python" / "amplion.abi3.so", log


def digest(module, spec, python):
    env = dict(os.environ, PYTHONPATH=str(module.parent), **spec.run_env)
    result = subprocess.run([python, str(ROOT / "scripts" / "digest.py")], env=env,
                            capture_output=True, text=True, check=False)
    if result.returncode != 0:
        return "failed: " + result.stderr.strip().splitlines()[-1]
    return result.stdout.strip()


# A function's header in objdump's listing: "0000000000012340 <name>:".
FUNCTION = re.compile(r"^[0-9a-f]+ <(.*)>:$", re.MULTILINE)


def fused_instructions(module, target="x86", objdump="objdump"):
    """The fused instructions of our own code in `module`, built for `target` (a key of FUSED) and
    read with that target's `objdump`. The exact-rotations build links sincos from LLVM's C
    library, which runs only where the processor has FMA and rounds correctly with it."""
    fused = re.compile(r"^\s*[0-9a-f]+:\s+(%s)\s" % FUSED[target], re.MULTILINE)
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", str(module)],
                             capture_output=True, text=True, check=True).stdout
    found = []
    headers = list(FUNCTION.finditer(listing)) + [None]
    for start, end in zip(headers, headers[1:]):
        if "__llvm_libc_" in start.group(1):
            continue
        found += [m.group(1) for m in fused.finditer(listing, start.end(),
                                                     end.start() if end else len(listing))]
    return found


def build_key(spec):
    return (spec.cxx, tuple(spec.cmake), tuple(sorted(spec.flags.items())))


def main():
    python = sys.executable
    rows, failures = [], []
    # Two builds at a time, so that one compiles while the other configures or runs its digest.
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        first = {}
        for spec in BUILDS:
            first.setdefault(build_key(spec), spec)
        builds = {key: pool.submit(build, spec, python) for key, spec in first.items()}

        def check(spec):
            module, log = builds[build_key(spec)].result()
            if module is None:
                return spec, None, log
            found = digest(module, spec, python), fused_instructions(module)
            print("build %s: %s" % (spec.name, found[0]), flush=True)
            return spec, found, log

        for spec, found, log in pool.map(check, BUILDS):
            if found is None:
                print(log.read_text().rstrip())
                failures.append("%s: build failed (%s)" % (spec.name, log))
                continue
            rows.append((spec,) + found)
    references = {}
    for spec, value, fused in rows:
        reference = references.setdefault(spec.group, (spec.name, value))
        if value != reference[1]:
            failures.append("%s: digest %s, the %s build gives %s"
                            % (spec.name, value, reference[0], reference[1]))
        if fused:
            failures.append("%s: %d fused multiply-add instructions (%s)"
                            % (spec.name, len(fused), ", ".join(sorted(set(fused)))))
    for failure in failures:
        print("FAILED", failure)
    if failures or len(rows) != len(BUILDS):
        print("determinism: %d failure(s) over %d builds" % (len(failures), len(BUILDS)))
        return 1
    for group, (name, value) in references.items():
        names = ", ".join(spec.name for spec, _, _ in rows if spec.group == group)
        print("  %s: %s" % (value, names))
    print("determinism: %d builds in %d groups each give their group's digest, no fused "
          "multiply-add" % (len(rows), len(references)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
