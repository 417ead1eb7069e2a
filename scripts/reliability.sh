#!/usr/bin/env bash
# The reliability gates, one after the other; exits non-zero on any finding:
# sanitizers over both suites, reference leaks under the debug interpreter, the
# hostile-input run, a short run of every fuzz target and the deep and large
# inputs.  FUZZ_SECONDS (default 60) bounds each fuzz target.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

bash scripts/sanitize.sh
bash scripts/refleak.sh
echo "== hostile input (sanitized module)"
preload="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)"
LD_PRELOAD="$preload" ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 PYTHONMALLOC=malloc \
  PYTHONPATH=build-sanitize/python:tests/reliability "$BUILD_PYTHON" tests/reliability/hostile.py 200
bash scripts/fuzz.sh
echo "== deep and large inputs (Release build)"
configure_build >/dev/null
cmake --build "$BUILD_DIR" --target ext --parallel "$JOBS"
PYTHONPATH=python:tests/reliability "$BUILD_PYTHON" tests/reliability/deep.py
echo "reliability: all gates passed"
