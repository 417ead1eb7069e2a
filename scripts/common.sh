# Shared by scripts/example.sh and scripts/test.sh: installs the Debian packages
# the build needs (only when some are missing) and configures the CMake tree.
# Source it from the repository root after `set -euo pipefail`.

# ensure_packages PKG... : apt-get install whatever of PKG... is not installed.
ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo=(sudo)
    else
      echo "error: missing packages (${missing[*]}) and not root; install them first" >&2
      return 1
    fi
  fi
  echo "installing: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}

BUILD_PACKAGES=(g++ cmake make python3-dev python3-pip python3-setuptools python3-wheel libgtest-dev)
# What the main job (examples/crossings.toml) needs to run.
EXAMPLE_PACKAGES=(python3-av python3-opencv python3-numpy)
TEST_PACKAGES=(python3-pytest python3-hypothesis python3-networkx python3.11-dbg graphviz python3-mypy python3-numpy python3-jsonschema
               python3-av python3-opencv python3-rich python3-distributed python3-cryptography)

# The interpreter the build is configured against (its headers come from
# python3-dev). The module is abi3, so any CPython >= 3.11 can load the result.
BUILD_PYTHON=/usr/bin/python3
BUILD_DIR=build
JOBS=${JOBS:-2}

# configure_build: configure $BUILD_DIR (Release, core tests on, module into
# python/kelo/). Both scripts pass the same options so they share one tree.
configure_build() {
  cmake -S . -B "$BUILD_DIR" \
    -DCMAKE_BUILD_TYPE=Release \
    -DKELO_BUILD_TESTS=ON \
    -DPython_EXECUTABLE="$BUILD_PYTHON" \
    -DKELO_EXT_OUTPUT_DIR="$PWD/python/kelo"
}
