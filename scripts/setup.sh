# Sourced by test.sh and demo.sh: installs what a fresh Debian machine lacks and picks the
# interpreter. Sets PY (an interpreter with NumPy and pytest).

PACKAGES=(cmake ninja-build g++ libgtest-dev libbenchmark-dev python3-dev python3-venv
          python3-numpy python3-pytest python3-hypothesis python3-pip python3-matplotlib mypy
          valgrind)
# The determinism check: a second compiler, and objdump to read the module's instructions.
PACKAGES+=(clang binutils)
# The exact-rotations build: LLVM's C library and MPFR, and MPFR from Python as the tests' oracle.
PACKAGES+=(libllvmlibc-19-dev libmpfr-dev python3-gmpy2)
# amplion_kit's sweeps on a Dask cluster and their progress bar (both optional for users).
PACKAGES+=(python3-distributed python3-tqdm)

ensure_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    # The native architecture's package too: once a foreign one of the same name is installed
    # (arm64 libraries for the cross builds), the bare name is ambiguous to dpkg.
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

# Debian's interpreter has NumPy and pytest; a `python3` found first on PATH may not.
PY=/usr/bin/python3

# build_preset <preset>: configures and builds build/<preset> from CMakePresets.json.
build_preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}
