# Sourced by test.sh and demo.sh: installs what a fresh Debian machine lacks and picks the
# interpreter. Sets PY (an interpreter with NumPy and pytest).

PACKAGES=(cmake ninja-build g++ libgtest-dev libbenchmark-dev python3-dev python3-venv
          python3-numpy python3-pytest python3-hypothesis python3-pip python3-matplotlib mypy
          valgrind)
# The determinism check: a second compiler, and objdump to read the module's instructions.
PACKAGES+=(clang binutils)
# The exact-rotations build: LLVM's C library and MPFR, and MPFR from Python as the tests' oracle.
PACKAGES+=(libllvmlibc-19-dev libmpfr-dev python3-gmpy2)
# The cross-architecture check: other processors' compilers, and qemu-user to run their programs.
PACKAGES+=(qemu-user g++-aarch64-linux-gnu g++-s390x-linux-gnu g++-i686-linux-gnu)
# amplion_kit's sweeps on a Dask cluster and their progress bar (both optional for users).
PACKAGES+=(python3-distributed python3-tqdm)

ensure_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    # With a foreign architecture's copy installed too, the bare name is ambiguous to dpkg.
    dpkg -s "$p" >/dev/null 2>&1 || dpkg -s "$p:$(dpkg --print-architecture)" >/dev/null 2>&1 ||
      missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "== installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}

# The aarch64 exact-rotations build loads aarch64's MPFR, from Debian's multiarch archive. It is
# installed only where apt would neither remove nor upgrade a package of this machine to do so;
# otherwise scripts/cross.py skips that one build and says why.
FOREIGN_MPFR=libmpfr-dev:arm64
ensure_foreign_mpfr() {
  dpkg -s "$FOREIGN_MPFR" >/dev/null 2>&1 && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64 && $sudo apt-get update -q || return 0
  fi
  local plan
  plan=$(apt-get install -s -q --no-install-recommends "$FOREIGN_MPFR" 2>&1) || return 0
  if grep -qE '^Remv |^Inst [^ ]+ \[' <<<"$plan"; then
    echo "== not installing $FOREIGN_MPFR: apt would remove or upgrade packages of this machine"
    return 0
  fi
  echo "== installing $FOREIGN_MPFR"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
    "$FOREIGN_MPFR" || true
}

# Debian's interpreter has NumPy and pytest; a `python3` found first on PATH may not.
PY=/usr/bin/python3

# build_preset <preset>: configures and builds build/<preset> from CMakePresets.json.
build_preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}
