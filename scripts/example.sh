#!/usr/bin/env bash
# Builds the kelo.ext module into python/kelo/, runs the tour of the data
# model, checks the example multi-camera pipeline and its broken variant
# with `kelo check` and draws both, then runs the main job: the line-crossing
# counter of examples/crossings.toml on its synthetic scene, with its outputs,
# trace and picture in build/crossings/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${EXAMPLE_PACKAGES[@]}"
# After a wheel build (`pip wheel .`) and before any build of our own, the
# wheel's CMake tree already holds the modules: bring it up to date and take
# them from there rather than compile everything again.
wheel_tree=$(ls -d "$BUILD_DIR"/temp.*/cmake 2>/dev/null | head -n 1 || true)
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ] && [ -f "$wheel_tree/CMakeCache.txt" ]; then
  cmake --build "$wheel_tree" --target ext --parallel "$JOBS"
  out=$(sed -n 's/^KELO_EXT_OUTPUT_DIR:[A-Z]*=//p' "$wheel_tree/CMakeCache.txt")
  cp "$out/ext.abi3.so" python/kelo/
else
  configure_build
  cmake --build "$BUILD_DIR" --target ext --parallel "$JOBS"
fi

PYTHONPATH=python python3 examples/pipeline.py

pictures="$BUILD_DIR/pictures"
mkdir -p "$pictures"
# Graphviz draws SVG; without it the pictures are written as DOT text.
ext=svg
command -v dot >/dev/null 2>&1 || ext=dot
# The pipeline checks clean (exit status 0); the broken one has errors (1).
for case in cameras:0 cameras_broken:1; do
  name=${case%:*} want=${case#*:}
  echo
  echo "== kelo check --strict examples/$name.toml"
  status=0
  PYTHONPATH=python python3 -m kelo check --strict --draw "$pictures/$name.$ext" \
    "examples/$name.toml" || status=$?
  echo "exit status $status"
  if [ "$status" != "$want" ]; then
    echo "error: expected exit status $want" >&2
    exit 1
  fi
done

# The main job runs on Debian's interpreter, where python3-av, python3-opencv
# and python3-numpy are installed.
out="$BUILD_DIR/crossings"
mkdir -p "$out"
echo
echo "== kelo run examples/crossings.toml"
PYTHONPATH=python "$BUILD_PYTHON" -m kelo run examples/crossings.toml --quiet --trace "$out/trace.json" \
  --draw "$out/pipeline.$ext" --set records.path="$out/crossings.jsonl" \
  --set video.path="$out/crossings.mp4" --set scene.truth="$out/truth.jsonl"
PYTHONPATH=python "$BUILD_PYTHON" - "$out" <<'PY'
import sys
import tomllib

from kelo import io
from kelo.elements.sources import TestPattern

out = sys.argv[1]
counts = {"in": 0, "out": 0}
for _, metadata in io.read_jsonl(f"{out}/crossings.jsonl"):
    for event in metadata.events:
        counts[event.payload.objects[0].attributes.get("direction").as_string()] += 1
with open("examples/crossings.toml", "rb") as f:
    scene = next(e for e in tomllib.load(f)["element"] if e["name"] == "scene")["config"]
truth = TestPattern.truth(scene).counts
print(f"counts: in {counts['in']}, out {counts['out']} (the scene's truth: in {truth['in']}, "
      f"out {truth['out']})")
print(f"records (JSON lines): {out}/crossings.jsonl")
print(f"annotated video:      {out}/crossings.mp4")
print(f"trace (Perfetto):     {out}/trace.json")
sys.exit(counts != truth)
PY
echo "picture of the run:   $out/pipeline.$ext"
