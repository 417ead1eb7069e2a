#!/usr/bin/env bash
# The reliability gates, one after the other; exits non-zero on any finding:
# sanitizers over both suites, the runtime's tests under ThreadSanitizer,
# reference leaks under the debug interpreter, the hostile-input run, a short
# run of every fuzz target and the deep and large inputs. FUZZ_SECONDS
# (default 60) bounds each fuzz target.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

bash scripts/sanitize.sh
echo "== runtime under ThreadSanitizer (20 runs in a row)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELO_BUILD_TESTS=ON \
  -DKELO_SANITIZE_THREAD=ON -DPython_EXECUTABLE="$BUILD_PYTHON" \
  -DKELO_EXT_OUTPUT_DIR="$PWD/build-tsan/python/kelo" >/dev/null
cmake --build build-tsan --target core_tests --parallel "$JOBS"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan -R runtime --output-on-failure \
  --no-tests=error --repeat until-fail:20
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
