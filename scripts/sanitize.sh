#!/usr/bin/env bash
# Builds the core, its tests and the module with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-sanitize/, then runs the core tests and the
# whole Python suite under them. The interpreter is not instrumented, so the
# sanitizer runtimes are preloaded into it; leak detection stays on for the core
# tests, and is off inside the interpreter, whose own allocations outlive exit
# by design (reference leaks of the module are the job of the refleak check).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

dir=build-sanitize
out="$PWD/$dir/python/kelo"
mkdir -p "$out"
# The package as it stands in python/kelo, but for the modules built below.
cp -r python/kelo/. "$out/" && rm -f "$out"/*.so
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELO_BUILD_TESTS=ON -DKELO_SANITIZE=ON \
  -DPython_EXECUTABLE="$BUILD_PYTHON" -DKELO_EXT_OUTPUT_DIR="$out" >/dev/null
cmake --build "$dir" --parallel "$JOBS"

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== core tests (ASan, UBSan, LSan)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 "$dir/core_tests" --gtest_brief=1

echo "== python tests (ASan, UBSan)"
preload="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)"
LD_PRELOAD="$preload" ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
  PYTHONPATH="$dir/python" PYTHONMALLOC=malloc \
  "$BUILD_PYTHON" -m pytest -q -p no:cacheprovider tests/python
echo "sanitizers: no findings"
