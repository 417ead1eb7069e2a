#!/usr/bin/env bash
# Reference-leak check under Debian's debug interpreter. The module is built
# against python3.11d's own headers in build-refleak/: built against the release
# headers it would count references without telling the debug interpreter, and
# every object it makes would show one reference too many.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

ensure_packages "${BUILD_PACKAGES[@]}" python3.11-dbg

dir=build-refleak
out="$PWD/$dir/python/kelo"
mkdir -p "$out"
# The package as it stands in python/kelo, but for the modules built below.
cp -r python/kelo/. "$out/" && rm -f "$out"/*.so
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKELO_BUILD_TESTS=OFF \
  -DPython_EXECUTABLE=/usr/bin/python3.11d -DKELO_EXT_OUTPUT_DIR="$out" >/dev/null
cmake --build "$dir" --target ext --parallel "$JOBS"
PYTHONPATH="$dir/python:tests/reliability" /usr/bin/python3.11d tests/reliability/refleak.py
