"""Builds the kelo wheel: the package python/kelo plus its abi3 binary
ext.abi3.so, which holds both kelo.ext and kelo._native (the package loads
the second from the same file).

The extension is compiled by the project's CMakeLists.txt (the single list
of sources); this file only configures CMake, builds the module's target and
lets setuptools place the result where the wheel expects it.

By default CMake runs in a private tree under setuptools' build_temp, which
puts the modules straight where setuptools wants them. Setting
KELO_CMAKE_BUILD_DIR to an existing CMake build tree of this project reuses
it instead (scripts/test.sh does so to avoid compiling everything twice): the
tree is built as it is configured and the modules are copied out of its
output directory, so the tree is left as it was.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
# Each extension file and the CMake target that builds it.
TARGETS = {"kelo.ext": "ext"}


class CMakeBuildExt(build_ext):
    def build_extension(self, ext):
        target = Path(self.get_ext_fullpath(ext.name)).resolve()
        if not target.name.endswith(".abi3.so"):
            raise RuntimeError(f"expected an abi3 file name for {ext.name}, got {target.name}")
        target.parent.mkdir(parents=True, exist_ok=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        shared_tree = os.environ.get("KELO_CMAKE_BUILD_DIR")
        if shared_tree:
            build_dir = Path(shared_tree).resolve()
            cache = build_dir / "CMakeCache.txt"
            if not cache.is_file():
                raise RuntimeError(f"KELO_CMAKE_BUILD_DIR={shared_tree} is not a CMake build tree")
            built = self._output_dir(cache) / target.name
        else:
            build_dir = Path(self.build_temp).resolve() / "cmake"
            build_dir.mkdir(parents=True, exist_ok=True)
            self._run([
                "cmake", "-S", str(ROOT), "-B", str(build_dir),
                f"-DPython_EXECUTABLE={sys.executable}",
                f"-DKELO_EXT_OUTPUT_DIR={target.parent}",
                "-DCMAKE_BUILD_TYPE=" + ("Debug" if self.debug else "Release"),
                "-DKELO_BUILD_TESTS=OFF",
                "-DKELO_BUILD_BENCH=OFF",
            ])
            built = target
        self._run(["cmake", "--build", str(build_dir), "--target", TARGETS[ext.name], "--parallel", jobs])
        if not built.is_file():
            raise RuntimeError(f"CMake did not produce {built}")
        if built != target:
            shutil.copyfile(built, target)

    @staticmethod
    def _output_dir(cache):
        """The tree's module output directory, as its cache records it."""
        for line in cache.read_text().splitlines():
            name, _, value = line.partition("=")
            if name.split(":")[0] == "KELO_EXT_OUTPUT_DIR":
                return Path(value)
        raise RuntimeError(f"{cache} records no KELO_EXT_OUTPUT_DIR")

    @staticmethod
    def _run(cmd):
        print("+ " + " ".join(cmd), flush=True)
        subprocess.run(cmd, check=True)


setup(
    ext_modules=[Extension(name, sources=[], py_limited_api=True) for name in TARGETS],
    cmdclass={"build_ext": CMakeBuildExt},
    options={"bdist_wheel": {"py_limited_api": "cp311"}},
)
