#!/usr/bin/env bash
# Builds amplion from the CMake presets and runs every test: the GoogleTest suites through CTest and
# pytest on the dev build (gcc, warnings as errors), the C++ tests on a clang build and on the
# exact-rotations build, the packaging tests (pip into fresh venvs), the C++ and Python tests on an
# AddressSanitizer + UndefinedBehaviorSanitizer build, valgrind memcheck over the C++ tests, the
# determinism check (tuned gcc and clang builds must give the default build's bits), and the
# engine built for aarch64, s390x and i686 under qemu-user, against x86-64's bits.
#
#   bash scripts/test.sh           everything; what CI runs
#   bash scripts/test.sh --quick   the dev build, its C++ tests and the Python tests but packaging
#
# Each stage says when it starts and ends, prints a progress line every 30 s while it runs, keeps
# its whole output in build/logs/<stage>.log, and on failure prints that log without its progress
# lines. At the end: a table of each stage's wall and processor seconds (also in
# build/logs/times.txt) and the reasons tests were skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

QUICK=0
case "${1:-}" in
  --quick) QUICK=1 ;;
  "") ;;
  *) echo "usage: bash scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

source scripts/setup.sh
ensure_packages

PYTEST=("$PY" -m pytest -q -rs -p no:cacheprovider)
export HYPOTHESIS_PROFILE=ci
LOGS=build/logs
mkdir -p "$LOGS"
rm -f "$LOGS"/*.log "$LOGS"/.times.*
: >"$LOGS/times.txt"

# Lines that only say how far a tool has got: ninja's steps, CTest's passed tests, pytest's dots.
PROGRESS='^\[[0-9]+/[0-9]+\] |^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed|^[.sxX]+ *(\[ *[0-9]+%\])?$'

# Sets CPU to the processor seconds used so far by this shell's finished children. `times` runs in
# this shell: a subshell would count only its own children. The file is the shell's own, since
# stages beside each other are shells of their own.
read_cpu() {
  local file="$LOGS/.times.$BASHPID"
  times >"$file"
  CPU=$(awk 'NR == 2 {
    split($1, u, /[ms]/); split($2, s, /[ms]/); printf "%.1f", u[1] * 60 + u[2] + s[1] * 60 + s[2]
  }' "$file")
}

# How far the stage writing `log` has got: pytest's count of tests done, or the last step that
# ninja, CTest, valgrind or the determinism check reported.
progress() {
  local log=$1 done last
  done=$(grep -aE '^[.sxXFE]+ *(\[ *[0-9]+%\])?$' "$log" | tr -cd '.sxXFE' | wc -c)
  if ((done > 0)); then
    echo "$done tests done"
    return
  fi
  last=$(tr '\r' '\n' <"$log" | grep -aE '^\[[0-9]+/[0-9]+\]|^ *[0-9]+/[0-9]+ Test|^(valgrind|build) ' |
         tail -n 1 | cut -c1-80)
  echo "${last:-no output yet}"
}

# stage <name> <summary pattern> <command...>: runs the command with its output in the stage's
# log; on success prints the last line matching the pattern (the tools' own summary, which CI
# reads), on failure the log without its progress lines, and stops. Its name, wall seconds and
# processor seconds go to times.txt.
stage() {
  local name=$1 summary=$2 log="$LOGS/$1.log" start=$SECONDS cpu heart wall used status=0
  read_cpu
  cpu=$CPU
  shift 2
  echo "== $name: started $(date +%T)"
  (  # the heartbeat; sleep gets no stdout, so nothing holds the output open once it is killed
    while sleep 30 >/dev/null 2>&1; do echo "   $name: $((SECONDS - start)) s, $(progress "$log")"; done
  ) &
  heart=$!
  "$@" >"$log" 2>&1 || status=$?
  kill "$heart" 2>/dev/null || true
  wait "$heart" 2>/dev/null || true
  wall=$((SECONDS - start))
  read_cpu
  used=$(awk -v a="$cpu" -v b="$CPU" 'BEGIN { printf "%.0f", b - a }')
  echo "$name $wall $used" >>"$LOGS/times.txt"
  if ((status != 0)); then
    grep -avE "$PROGRESS" "$log" || true
    echo "FAILED: $name after $wall s: $* (full output in $log)"
    exit 1
  fi
  grep -aE "$summary" "$log" | tail -n 1 || true
  echo "== $name: done in $wall s ($used s of processor time)"
}

# A stage that runs beside the next ones, on the processor time that one-threaded stages leave
# (pytest, mostly). Its lines interleave with theirs, each carrying its name; a failure stops the
# run at the next join.
BACKGROUND=()
# A run that stops early takes the background stages and their commands with it.
trap 'for pid in "${BACKGROUND[@]}"; do pkill -P "$pid" 2>/dev/null; kill "$pid" 2>/dev/null; done' EXIT
stage_beside() {
  stage "$@" &
  BACKGROUND+=($!)
}
join_stages() {
  local pid
  for pid in "${BACKGROUND[@]}"; do wait "$pid" || exit 1; done
  BACKGROUND=()
}

build() {  # build <preset>: configure and build with the preset of that name
  stage "$1-build" '^\[[0-9]+/[0-9]+\]|no work to do' build_preset "$1"
}
CTEST_SUMMARY='tests passed'
PYTEST_SUMMARY=' (passed|failed)'

# The packaging tests install into fresh venvs; they have a stage of their own (full run only).
NO_PACKAGING=(--ignore=tests/python/test_packaging.py)

summary() {
  echo
  echo "stage                  wall s   cpu s"
  local name wall used total_cpu=0
  while read -r name wall used; do
    printf '%-22s %7d %7d\n' "$name" "$wall" "$used"
    total_cpu=$((total_cpu + used))
  done <"$LOGS/times.txt"
  printf '%-22s %7d %7d\n' "all, with setup" "$SECONDS" "$total_cpu"
  echo "total $SECONDS $total_cpu" >>"$LOGS/times.txt"
  # pytest -rs lines: "SKIPPED [count] file:line: reason", summed by stage and reason.
  local skips
  skips=$(for log in "$LOGS"/*pytest*.log; do
            [ -e "$log" ] || continue
            sed -nE "s|^SKIPPED \[([0-9]+)\] [^ ]+:[0-9]+: (.*)$|\1\t$(basename "$log" .log)\t\2|p" "$log"
          done | awk -F'\t' '{ n[$2 ": " $3] += $1 } END { for (k in n) printf "%6d  %s\n", n[k], k }' |
          sort -k2)
  if [ -n "$skips" ]; then
    echo
    echo "skipped tests, by stage and reason:"
    echo "$skips"
  fi
}

build dev
stage dev-ctest "$CTEST_SUMMARY" ctest --preset dev
DEV_PYTEST=(dev-pytest "$PYTEST_SUMMARY" env PYTHONPATH="$PWD/build/dev/python" "${PYTEST[@]}"
            "${NO_PACKAGING[@]}" tests/python)

if ((QUICK)); then
  stage "${DEV_PYTEST[@]}"
  summary
  echo "== quick run passed in $SECONDS s; bash scripts/test.sh runs everything"
  exit 0
fi

stage_beside "${DEV_PYTEST[@]}"

# amplion's types reach mypy through a link named like the module: mypy finds -stubs packages only
# in site-packages.
mkdir -p build/mypy-stubs && ln -sf ../../amplion-stubs/__init__.pyi build/mypy-stubs/amplion.pyi
stage kit-mypy '^Success' env MYPYPATH=build/mypy-stubs "$PY" -m mypy --strict \
  --cache-dir build/mypy-cache-kit python/amplion_kit

build clang
stage clang-ctest "$CTEST_SUMMARY" ctest --preset clang
join_stages

# The exact-rotations build: only what it changes, rotations and cp, their sine and cosine against
# MPFR on both processor paths (the ctest run includes the path without FMA and AVX2), the gate
# tests, and the digest driver that the cross stage compares with.
build exact
stage exact-ctest "$CTEST_SUMMARY" ctest --preset exact
stage exact-pytest "$PYTEST_SUMMARY" env AMPLION_EXACT_ROTATIONS=1 \
  PYTHONPATH="$PWD/build/exact/python" "${PYTEST[@]}" tests/python/test_exact_rotations.py \
  tests/python/test_gates.py tests/python/test_circuit.py tests/python/test_kernels.py \
  tests/python/test_libm_variants.py

stage packaging-pytest "$PYTEST_SUMMARY" env PYTHONPATH="$PWD/build/dev/python" \
  AMPLION_EXACT_BUILD="$PWD/build/exact" "${PYTEST[@]}" tests/python/test_packaging.py

build asan
stage asan-ctest "$CTEST_SUMMARY" ctest --preset asan

# The interpreter is not instrumented: the runtime is preloaded, with libstdc++ so that the first
# C++ throw finds the interceptors ready. Only allocations whose direct caller is the interpreter
# itself are ignored by the leak check (a two-frame context), so a leak of ours is still reported.
# Impossible sizes are requested on purpose; the sanitizer must return null for them, as malloc
# does.
stage_beside asan-pytest "$PYTEST_SUMMARY" env \
  ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:abort_on_error=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
  LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:malloc_context_size=2:print_suppressions=0" \
  PYTHONMALLOC=malloc AMPLION_SANITIZED=1 PYTHONPATH="$PWD/build/asan/python" \
  "${PYTEST[@]}" "${NO_PACKAGING[@]}" tests/python

# One valgrind start per test program: CTest's memcheck would start one per test case (about 100),
# for five times the processor time. Two programs run at a time; the interrupt test, whose
# registers of 2^21 amplitudes make it the longest by far under valgrind, starts first.
valgrind_one() {  # valgrind_one <program>: prints its log and fails when valgrind finds anything
  local log
  log="$LOGS/$(basename "$1").valgrind.log"
  echo "valgrind $(basename "$1")"
  valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    "$1" --gtest_brief=1 >"$log" 2>&1 || { cat "$log"; echo "valgrind: $1 failed"; return 1; }
}
memcheck() {
  # base_memory_test replaces operator new to simulate an exhausted heap, which valgrind's own
  # operator new overrides only where the call is not inlined; it runs everywhere else.
  local longest=build/dev/tests/cpp/circuit_interrupt_test own_new=build/dev/tests/cpp/base_memory_test
  local programs=() t
  for t in build/dev/tests/cpp/*_test; do
    [ "$t" = "$longest" ] || [ "$t" = "$own_new" ] || programs+=("$t")
  done
  # The exact build's sine and cosine test, on a few thousand angles instead of a million.
  programs=("$longest" "${programs[@]}" build/exact/tests/cpp/engine_sincos_test)
  export -f valgrind_one
  export LOGS AMPLION_SINCOS_ANGLES=3000
  printf '%s\0' "${programs[@]}" | xargs -0 -n 1 -P 2 bash -c 'valgrind_one "$1"' _ &&
    echo "valgrind: ${#programs[@]} test programs, no errors, no definite or indirect leaks"
}
stage memcheck '^valgrind: ' memcheck

stage determinism '^determinism: ' "$PY" scripts/determinism.py
join_stages

# The engine's digest on aarch64, s390x and i686 under qemu-user, against x86-64's.
ensure_foreign_mpfr
stage cross '^cross: ' "$PY" scripts/cross.py

summary
echo "== all tests passed in $SECONDS s (each stage's time in $LOGS/times.txt)"
