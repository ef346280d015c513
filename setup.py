"""Builds amplion.abi3.so with CMake, the one build definition, and packs it into a cp38-abi3 wheel.

    python3 -m pip wheel . --no-build-isolation --no-deps
    python3 -m pip install . --no-build-isolation --no-deps

CMake runs in build/wheel (Release, no tests) with this interpreter; CMAKE_BUILD_PARALLEL_LEVEL
limits the build's jobs. The module uses CPython's limited API of 3.8 and nothing newer, so the
one file loads in every CPython from 3.8 on.
"""
import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
LIMITED_API = "0x03080000"


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        # One folder per interpreter: CMake keeps the Python it found in its cache.
        build_dir = ROOT / "build" / ("wheel-py%d.%d" % sys.version_info[:2])
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build_dir),
            "-DPython_EXECUTABLE=" + sys.executable,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DAMPLION_BUILD_TESTS=OFF",
            "-DAMPLION_BUILD_BENCH=OFF",
        ]
        if shutil.which("ninja") and not (build_dir / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "amplion"], check=True)

        built = build_dir / "python" / "amplion.abi3.so"
        target = Path(self.get_ext_fullpath(ext.name))
        if target.name != built.name:
            raise RuntimeError("expected the stable-ABI file name %s, setuptools chose %s"
                               % (built.name, target.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    # The stub-only package (a name that pyproject.toml's package list does not accept).
    packages=["amplion-stubs"],
    package_data={"amplion-stubs": ["__init__.pyi"]},
    include_package_data=False,
    ext_modules=[
        Extension(
            "amplion",
            sources=[],
            define_macros=[("Py_LIMITED_API", LIMITED_API)],
            py_limited_api=True,
        )
    ],
    cmdclass={"build_ext": CMakeBuild},
    options={"bdist_wheel": {"py_limited_api": "cp38"}},
)
