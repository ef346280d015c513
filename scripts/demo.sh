#!/usr/bin/env bash
# Builds amplion and runs the demo in examples/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
ensure_packages
build_preset release
PYTHONPATH="$PWD/build/release/python" "$PY" examples/demo.py
