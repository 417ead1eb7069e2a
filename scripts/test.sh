#!/usr/bin/env bash
# Runs every test: the core's GoogleTest suite, the Python suite, and an abi3
# smoke test of the wheel under each CPython >= 3.11 found on this machine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/common.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

echo "== build (Release)"
configure_build
cmake --build "$BUILD_DIR" --parallel "$JOBS"

echo "== core tests"
ctest --test-dir "$BUILD_DIR" --output-on-failure --no-tests=error --parallel "$JOBS"

echo "== python tests"
PYTHONPATH=python "$BUILD_PYTHON" -m pytest -q -p no:cacheprovider tests/python

echo "== README examples"
PYTHONPATH=python "$BUILD_PYTHON" -m pytest -q -p no:cacheprovider --doctest-glob=README.md README.md

echo "== typing"
# The stubs against the built module: stubtest (it finds the submodules
# itself), then what stubtest cannot judge (constructors, variants,
# equality and hashing) and the stubs' docstrings, then the package and a
# typed client under mypy --strict; the client is run too.
PYTHONPATH=python "$BUILD_PYTHON" -m mypy.stubtest --mypy-config-file tests/typing/mypy.ini kelo.ext kelo._native
PYTHONPATH=python "$BUILD_PYTHON" tests/typing/check_stub_surface.py
PYTHONPATH=python "$BUILD_PYTHON" tools/stub_docs.py --check
"$BUILD_PYTHON" -m mypy --config-file tests/typing/mypy.ini -p kelo
"$BUILD_PYTHON" -m mypy --config-file tests/typing/mypy.ini tests/typing/client.py
refused=$("$BUILD_PYTHON" -m mypy --config-file tests/typing/mypy.ini tests/typing/refused.py | grep -c ': error:' || true)
if [ "$refused" != "$(grep -c '# refused' tests/typing/refused.py)" ]; then
  echo "error: mypy refused $refused of the calls tests/typing/refused.py marks" >&2
  exit 1
fi
PYTHONPATH=python "$BUILD_PYTHON" tests/typing/client.py

echo "== hostile input"
PYTHONPATH=python:tests/reliability "$BUILD_PYTHON" tests/reliability/hostile.py 50

echo "== once-quadratic inputs (quick)"
PYTHONPATH=python:tests/reliability "$BUILD_PYTHON" tests/reliability/deep.py --quick \
  "exact tensor size" "class ids" "requirements"

echo "== reference leaks"
bash scripts/refleak.sh

echo "== wheel"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore PIP_NO_INPUT=1
# Reuses the tree built above: only the module is relinked into the wheel.
KELO_CMAKE_BUILD_DIR="$PWD/$BUILD_DIR" CMAKE_BUILD_PARALLEL_LEVEL="$JOBS" \
  "$BUILD_PYTHON" -m pip wheel -q --no-build-isolation --no-deps -w "$tmp/dist" .
wheels=("$tmp"/dist/kelo-*-cp311-abi3-linux_*.whl)
if [ ${#wheels[@]} -ne 1 ] || [ ! -f "${wheels[0]}" ]; then
  echo "error: expected one cp311-abi3 wheel, found: $(ls "$tmp/dist")" >&2
  exit 1
fi
echo "built $(basename "${wheels[0]}")"

echo "== abi3 smoke"
# The build interpreter first (the typed check below uses its site1), then
# every other CPython >= 3.11 named python3.N on PATH or in pyenv's versions,
# each once however many names lead to it.
pyenv_root=${PYENV_ROOT:-$(pyenv root 2>/dev/null || true)}
candidates=("$BUILD_PYTHON")
IFS=: read -ra path_dirs <<<"$PATH"
for dir in "${path_dirs[@]}" ${pyenv_root:+"$pyenv_root"/versions/*/bin}; do
  for py in "$dir"/python3.*; do
    if [[ $(basename "$py") =~ ^python3\.[0-9]+$ && -x $py ]]; then candidates+=("$py"); fi
  done
done
interpreters=()
declare -A seen=()
for py in "${candidates[@]}"; do
  # A pyenv shim for a version that is not selected fails here, and an
  # interpreter without pip cannot install the wheel: both are skipped.
  real=$("$py" -c 'import importlib.util, os, platform, sys
if (platform.python_implementation() == "CPython" and sys.version_info >= (3, 11)
        and importlib.util.find_spec("pip")):
    print(os.path.realpath(sys.executable))' 2>/dev/null) || continue
  [ -n "$real" ] && [ -z "${seen[$real]:-}" ] || continue
  seen[$real]=1
  interpreters+=("$real")
done
n=0
for py in "${interpreters[@]}"; do
  n=$((n + 1))
  target="$tmp/site$n"
  "$py" -m pip install -q --no-index --no-deps --target "$target" "${wheels[0]}"
  KELO_SMOKE_ROOT="$target" PYTHONPATH="$target" "$py" -s scripts/smoke.py
done
echo "abi3 smoke: $n interpreters passed"

echo "== typing (installed wheel)"
# The typed client against the wheel installed for the build interpreter:
# kelo resolves from there (PEP 561: py.typed and the stubs), not from python/.
repo=$PWD
(cd "$tmp" && PYTHONPATH="$tmp/site1" "$BUILD_PYTHON" -m mypy --strict --warn-unreachable \
   --cache-dir=/dev/null "$repo/tests/typing/client.py")
PYTHONPATH="$tmp/site1" "$BUILD_PYTHON" -s tests/typing/client.py
