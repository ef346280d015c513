#!/usr/bin/env bash
# Builds amplion and runs the demo in examples/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
ensure_packages
configure_and_build build/release -DCMAKE_BUILD_TYPE=Release -DAMPLION_BUILD_TESTS=OFF
PYTHONPATH="$PWD/build/release/python" "$PY" examples/demo.py
