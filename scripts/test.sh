#!/usr/bin/env bash
# Builds amplion and runs every test: the GoogleTest suites through CTest and pytest on the normal
# build, the same again on an AddressSanitizer + UndefinedBehaviorSanitizer build, and valgrind
# memcheck over the C++ tests.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
ensure_packages

PYTEST=("$PY" -m pytest -q -p no:cacheprovider)
export HYPOTHESIS_PROFILE=ci

echo "== build (build/test)"
configure_and_build build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAMPLION_BUILD_TESTS=ON

echo "== C++ tests (GoogleTest through CTest)"
ctest --test-dir build/test --output-on-failure -j 2

echo "== Python tests (pytest, $($PY --version))"
PYTHONPATH="$PWD/build/test/python" "${PYTEST[@]}" tests/python

echo "== build (build/asan: AddressSanitizer + UndefinedBehaviorSanitizer)"
configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DAMPLION_SANITIZE=ON -DAMPLION_BUILD_TESTS=ON

# Impossible sizes are requested on purpose; the sanitizer must return null for them, as malloc does.
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== C++ tests under the sanitizers"
ctest --test-dir build/asan --output-on-failure -j 2

echo "== Python tests under the sanitizers"
# The interpreter is not instrumented: the runtime is preloaded, with libstdc++ so that the first
# C++ throw finds the interceptors ready. Only allocations whose direct caller is the interpreter
# itself are ignored by the leak check (a two-frame context), so a leak of ours is still reported.
(
  export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:malloc_context_size=2:print_suppressions=0"
  export PYTHONMALLOC=malloc AMPLION_SANITIZED=1
  PYTHONPATH="$PWD/build/asan/python" "${PYTEST[@]}" tests/python
)

echo "== valgrind memcheck over the C++ tests"
for t in build/test/tests/cpp/*_test; do
  valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    "$t" --gtest_brief=1 >"build/test/$(basename "$t").valgrind.log" 2>&1 ||
    { cat "build/test/$(basename "$t").valgrind.log"; echo "valgrind: $t failed"; exit 1; }
  echo "$(basename "$t"): $(grep -E '^\[  PASSED  \]' "build/test/$(basename "$t").valgrind.log")"
done
echo "== all tests passed"
