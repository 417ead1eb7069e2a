"""Builds the kelo wheel: the package python/kelo plus its two abi3 modules,
kelo.ext and kelo._native.

The extensions are compiled by the project's CMakeLists.txt (the single list
of sources); this file only configures CMake, builds each module's target and
lets setuptools place the result where the wheel expects it.

By default CMake runs in a private tree under setuptools' build_temp. Setting
KELO_CMAKE_BUILD_DIR to an existing CMake build tree of this project reuses
it instead (scripts/test.sh does so to avoid compiling everything twice); only
the module's output directory is changed there.
"""

import os
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
# Each extension module and the CMake target that builds it.
TARGETS = {"kelo.ext": "ext", "kelo._native": "native"}


class CMakeBuildExt(build_ext):
    def build_extension(self, ext):
        target = Path(self.get_ext_fullpath(ext.name)).resolve()
        if not target.name.endswith(".abi3.so"):
            raise RuntimeError(f"expected an abi3 file name for {ext.name}, got {target.name}")
        target.parent.mkdir(parents=True, exist_ok=True)
        configure = [
            f"-DPython_EXECUTABLE={sys.executable}",
            f"-DKELO_EXT_OUTPUT_DIR={target.parent}",
        ]
        shared_tree = os.environ.get("KELO_CMAKE_BUILD_DIR")
        if shared_tree:
            build_dir = Path(shared_tree).resolve()
            if not (build_dir / "CMakeCache.txt").is_file():
                raise RuntimeError(f"KELO_CMAKE_BUILD_DIR={shared_tree} is not a CMake build tree")
        else:
            build_dir = Path(self.build_temp).resolve() / "cmake"
            build_dir.mkdir(parents=True, exist_ok=True)
            configure += [
                "-DCMAKE_BUILD_TYPE=" + ("Debug" if self.debug else "Release"),
                "-DKELO_BUILD_TESTS=OFF",
                "-DKELO_BUILD_BENCH=OFF",
            ]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        self._run(["cmake", "-S", str(ROOT), "-B", str(build_dir), *configure])
        self._run(["cmake", "--build", str(build_dir), "--target", TARGETS[ext.name], "--parallel", jobs])
        if not target.is_file():
            raise RuntimeError(f"CMake did not produce {target}")

    @staticmethod
    def _run(cmd):
        print("+ " + " ".join(cmd), flush=True)
        subprocess.run(cmd, check=True)


setup(
    ext_modules=[Extension(name, sources=[], py_limited_api=True) for name in TARGETS],
    cmdclass={"build_ext": CMakeBuildExt},
    options={"bdist_wheel": {"py_limited_api": "cp311"}},
)
