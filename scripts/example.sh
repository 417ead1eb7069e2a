#!/usr/bin/env bash
# Builds the kelo.ext module into python/kelo/ and runs the example pipeline.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

ensure_packages "${BUILD_PACKAGES[@]}"
configure_build
cmake --build "$BUILD_DIR" --target ext native --parallel "$JOBS"

PYTHONPATH=python python3 examples/pipeline.py
