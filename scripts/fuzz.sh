#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ (the CMake option KELO_BUILD_FUZZ:
# clang, ASan and UBSan) in build-fuzz/ and runs each for FUZZ_SECONDS
# (default 60), starting from the seed corpus in fuzz/corpus/<target>/. New
# inputs go to a scratch folder; a crash leaves its reproducer in build-fuzz/
# and fails the run.
#   bash scripts/fuzz.sh [target ...]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

ensure_packages clang-14 libclang-rt-14-dev
seconds=${FUZZ_SECONDS:-60}
out=build-fuzz
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(cd fuzz && ls ./*.cpp | sed 's|^\./||; s|\.cpp$||'))
fi
cmake -S . -B "$out" -DCMAKE_CXX_COMPILER=clang++-14 -DKELO_BUILD_FUZZ=ON \
  -DKELO_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DPython_EXECUTABLE="$BUILD_PYTHON" \
  -DKELO_EXT_OUTPUT_DIR="$PWD/$out/python/kelo" >/dev/null
cmake --build "$out" --parallel "$JOBS" --target "${targets[@]/#/fuzz_}"
for target in "${targets[@]}"; do
  echo "== fuzz $target (${seconds}s)"
  scratch=$(mktemp -d)
  mkdir -p "fuzz/corpus/$target"
  status=0
  (cd "$out" && "./$target" -max_total_time="$seconds" -print_final_stats=1 \
      "$scratch" "../fuzz/corpus/$target") >"$out/$target.log" 2>&1 || status=$?
  grep -E "stat::number_of_executed_units|ERROR|SUMMARY|Test unit written" "$out/$target.log" || true
  rm -rf "$scratch"
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $target found a fault" >&2
    exit 1
  fi
done
echo "fuzz: ${#targets[@]} targets, no findings"
