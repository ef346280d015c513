#!/usr/bin/env bash
# Builds amplion and runs every test: the GoogleTest suites through CTest, then pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
ensure_packages

BUILD=build/test
echo "== build ($BUILD)"
configure_and_build "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAMPLION_BUILD_TESTS=ON

echo "== C++ tests (GoogleTest through CTest)"
ctest --test-dir "$BUILD" --output-on-failure -j 2

echo "== Python tests (pytest, $($PY --version))"
PYTHONPATH="$PWD/$BUILD/python" "$PY" -m pytest -q -p no:cacheprovider tests/python
