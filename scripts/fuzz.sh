#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ (clang, with ASan and UBSan) against the
# core library's sources and runs each for FUZZ_SECONDS (default 60), starting
# from the seed corpus in fuzz/corpus/<target>/. New inputs go to a scratch
# folder; a crash leaves its reproducer in build-fuzz/ and fails the run.
#   bash scripts/fuzz.sh [target ...]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

ensure_packages clang-14 libfuzzer-14-dev
seconds=${FUZZ_SECONDS:-60}
out=build-fuzz
mkdir -p "$out"
mapfile -t core < <(find core -name '*.cpp' | sort)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(cd fuzz && ls ./*.cpp | sed 's|^\./||; s|\.cpp$||'))
fi
flags=(-std=c++20 -O1 -g -Icore -ffp-contract=off -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=all)
for target in "${targets[@]}"; do
  echo "== fuzz $target (${seconds}s)"
  clang++-14 "${flags[@]}" "fuzz/$target.cpp" "${core[@]}" -o "$out/$target"
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
