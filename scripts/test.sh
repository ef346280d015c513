#!/usr/bin/env bash
# Builds amplion from the CMake presets and runs every test: the GoogleTest suites through CTest and
# pytest on the dev build (gcc, warnings as errors), the C++ tests on a clang build, the same again
# on an AddressSanitizer + UndefinedBehaviorSanitizer build, valgrind memcheck over the C++ tests,
# the determinism check (tuned gcc and clang builds must give the default build's bits), and the
# engine built for aarch64, s390x and i686 under qemu-user, against x86-64's bits.
# Each stage keeps its output in build/logs and prints its failures and one summary line.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
ensure_packages
ensure_foreign_mpfr

PYTEST=("$PY" -m pytest -q -p no:cacheprovider)
export HYPOTHESIS_PROFILE=ci
LOGS=build/logs
mkdir -p "$LOGS"

# Lines of passing tests and build progress: CTest's "Passed" lines, pytest's dots, ninja's steps.
PROGRESS='^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed|^[.sx]+ *\[ *[0-9]+%\]$|^\[[0-9]+/[0-9]+\] '

: >"$LOGS/times.txt"

# stage <log name> <summary pattern> <command...>: on success prints the last line matching the
# pattern; on failure prints the log without the progress lines and stops. The summary lines stay
# as the tools print them (CI reads them); each stage's seconds go to times.txt.
stage() {
  local name=$1 log="$LOGS/$1.log" summary=$2 start=$SECONDS
  shift 2
  if "$@" >"$log" 2>&1; then
    echo "$name $((SECONDS - start)) s" >>"$LOGS/times.txt"
    grep -E "$summary" "$log" | tail -n 1
  else
    grep -vE "$PROGRESS" "$log" || true
    echo "FAILED: $* (full output in $log)"
    return 1
  fi
}

# build <preset> [configure arguments...] [-- build arguments...]
configure_and_build_preset() {
  local preset=$1 configure=()
  shift
  while (($#)) && [ "$1" != "--" ]; do configure+=("$1"); shift; done
  (($#)) && shift
  cmake --preset "$preset" "${configure[@]}" && cmake --build "build/$preset" -j 2 "$@"
}
build() {
  stage "$1-build" '^\[[0-9]+/[0-9]+\]|no work to do' configure_and_build_preset "$@"
}
CTEST_SUMMARY='tests passed'
PYTEST_SUMMARY=' (passed|failed)'

echo "== build (dev preset: gcc, warnings as errors)"
build dev -DCMAKE_COMPILE_WARNING_AS_ERROR=ON

echo "== C++ tests (GoogleTest through CTest)"
stage dev-ctest "$CTEST_SUMMARY" ctest --test-dir build/dev --output-on-failure -j 2

echo "== Python tests (pytest, $($PY --version))"
stage dev-pytest "$PYTEST_SUMMARY" env PYTHONPATH="$PWD/build/dev/python" "${PYTEST[@]}" tests/python

echo "== amplion_kit type check (mypy --strict; amplion's types through a link named like it)"
mkdir -p build/mypy-stubs && ln -sf ../../amplion-stubs/__init__.pyi build/mypy-stubs/amplion.pyi
stage kit-mypy '^Success' env MYPYPATH=build/mypy-stubs "$PY" -m mypy --strict \
  --cache-dir build/mypy-cache-kit python/amplion_kit

echo "== build (clang preset)"
build clang

echo "== C++ tests on the clang build"
stage clang-ctest "$CTEST_SUMMARY" ctest --test-dir build/clang --output-on-failure -j 2

echo "== exact-rotations build (exact preset: correctly rounded sine and cosine)"
# Only what the exact build changes: rotations and cp, their sine and cosine against MPFR on both
# processor paths (the ctest run includes the path without FMA and AVX2), and the gate tests.
build exact -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -- --target amplion engine_sincos_test \
  engine_gates_test engine_reference_test circuit_replay_test engine_digest
stage exact-ctest "$CTEST_SUMMARY" ctest --test-dir build/exact --output-on-failure -j 2 \
  -R 'SinCos|sincos|Gate|Reference|Replay'
stage exact-pytest "$PYTEST_SUMMARY" env AMPLION_EXACT_ROTATIONS=1 \
  PYTHONPATH="$PWD/build/exact/python" "${PYTEST[@]}" tests/python/test_exact_rotations.py \
  tests/python/test_gates.py tests/python/test_circuit.py tests/python/test_kernels.py \
  tests/python/test_libm_variants.py

echo "== build (asan preset: AddressSanitizer + UndefinedBehaviorSanitizer, warnings as errors)"
build asan -DCMAKE_COMPILE_WARNING_AS_ERROR=ON

# Impossible sizes are requested on purpose; the sanitizer must return null for them, as malloc does.
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== C++ tests under the sanitizers"
stage asan-ctest "$CTEST_SUMMARY" ctest --test-dir build/asan --output-on-failure -j 2

echo "== Python tests under the sanitizers"
# The interpreter is not instrumented: the runtime is preloaded, with libstdc++ so that the first
# C++ throw finds the interceptors ready. Only allocations whose direct caller is the interpreter
# itself are ignored by the leak check (a two-frame context), so a leak of ours is still reported.
stage asan-pytest "$PYTEST_SUMMARY" env \
  LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
  LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:malloc_context_size=2:print_suppressions=0" \
  PYTHONMALLOC=malloc AMPLION_SANITIZED=1 PYTHONPATH="$PWD/build/asan/python" \
  "${PYTEST[@]}" tests/python

echo "== valgrind memcheck over the C++ tests"
# One valgrind start per test program: CTest's memcheck would start one per test case (about 100),
# for five times the processor time.
memcheck() {
  local t failed=0 n=0
  # The exact build's sine and cosine test, on a few thousand angles instead of a million.
  export AMPLION_SINCOS_ANGLES=3000
  for t in build/dev/tests/cpp/*_test build/exact/tests/cpp/engine_sincos_test; do
    n=$((n + 1))
    valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
      "$t" --gtest_brief=1 >"$LOGS/$(basename "$t").valgrind.log" 2>&1 ||
      { cat "$LOGS/$(basename "$t").valgrind.log"; echo "valgrind: $t failed"; failed=1; }
  done
  ((failed == 0)) && echo "valgrind: $n test programs, no errors, no definite or indirect leaks"
}
stage memcheck '^valgrind: ' memcheck

echo "== determinism (tuned builds give the default build's bits, no fused multiply-add)"
stage determinism '^determinism: ' "$PY" scripts/determinism.py

echo "== other processors (the engine's digest on aarch64, s390x and i686 under qemu-user)"
stage cross '^cross: ' "$PY" scripts/cross.py

echo "== all tests passed in $SECONDS s (each stage's time in $LOGS/times.txt)"
