"""Builds the module the way builders tune it and checks that every build gives the default build's
bits: the digest of scripts/digest.py must match, and no fused multiply-add may appear in the object
code. The reference is built in the same run, since rotations follow this machine's C library.

    python3 scripts/determinism.py    (run by scripts/test.sh; prints failures and one summary line)

To add a build, add a row to BUILDS.
"""
import collections
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# name: build folder under build/bits; cxx: the compiler; cmake: extra configure arguments;
# flags: environment a builder would set (CXXFLAGS, LDFLAGS); run_env: environment of the digest run.
Build = collections.namedtuple("Build", "name cxx cmake flags run_env")
BUILDS = [
    Build("default", "g++", [], {}, {}),  # the reference: what pip and a plain cmake build make
    Build("gcc-O3-x86-64-v3", "g++", [], {"CXXFLAGS": "-O3 -march=x86-64-v3"}, {}),
    Build("gcc-O3-native", "g++", ["-DCMAKE_CXX_FLAGS=-O3 -march=native"], {}, {}),
    Build("clang-O3-x86-64-v3", "clang++", [], {"CXXFLAGS": "-O3 -march=x86-64-v3"}, {}),
]
BUILDER_VARIABLES = ("CFLAGS", "CXXFLAGS", "CPPFLAGS", "LDFLAGS", "CXX", "CC")
# vfmadd*, vfmsub*, vfmaddsub*, vfnmadd*, ... in either encoding.
FUSED = re.compile(r"^\s*[0-9a-f]+:\s+(vfn?m\S*)", re.MULTILINE)


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


def fused_instructions(module):
    listing = subprocess.run(["objdump", "-d", "--no-show-raw-insn", str(module)],
                             capture_output=True, text=True, check=True).stdout
    return FUSED.findall(listing)


def main():
    python = sys.executable
    rows, failures = [], []
    for spec in BUILDS:
        module, log = build(spec, python)
        if module is None:
            print(log.read_text().rstrip())
            failures.append("%s: build failed (%s)" % (spec.name, log))
            continue
        rows.append((spec.name, digest(module, spec, python), fused_instructions(module)))
    reference = rows[0][1] if rows and rows[0][0] == BUILDS[0].name else None
    for name, value, fused in rows:
        if value != reference:
            failures.append("%s: digest %s, the %s build gives %s"
                            % (name, value, BUILDS[0].name, reference))
        if fused:
            failures.append("%s: %d fused multiply-add instructions (%s)"
                            % (name, len(fused), ", ".join(sorted(set(fused)))))
    for failure in failures:
        print("FAILED", failure)
    names = ", ".join(name for name, _, _ in rows)
    if failures:
        print("determinism: %d failure(s) over %d builds" % (len(failures), len(BUILDS)))
        return 1
    print("determinism: %d builds (%s) give digest %s, no fused multiply-add"
          % (len(rows), names, reference))
    return 0


if __name__ == "__main__":
    sys.exit(main())
