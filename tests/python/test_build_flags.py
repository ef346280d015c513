"""Flags that would change amplion's bits and that no later switch can undo stop CMake's configure
step, whether a builder gives them for compiling (CXXFLAGS) or linking (LDFLAGS)."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import SANITIZED

ROOT = Path(__file__).resolve().parents[2]
REFUSED = ["-ffast-math", "-Ofast", "-funsafe-math-optimizations", "-ffinite-math-only"]
# LDFLAGS lands in the shared, module and executable linker flags; the first is named.
PLACES = [("CXXFLAGS", "CMAKE_CXX_FLAGS"), ("LDFLAGS", "CMAKE_SHARED_LINKER_FLAGS")]


# Under the sanitizers cmake would run with the preloaded runtime; once per suite is enough.
@pytest.mark.skipif(SANITIZED or shutil.which("cmake") is None, reason="needs cmake, unsanitized")
@pytest.mark.parametrize("variable, cmake_variable", PLACES)
@pytest.mark.parametrize("flag", REFUSED)
def test_configure_refuses_flag(tmp_path, flag, variable, cmake_variable):
    env = {k: v for k, v in os.environ.items() if k not in ("CXXFLAGS", "CFLAGS", "LDFLAGS")}
    env[variable] = "-O2 %s -g" % flag
    result = subprocess.run(
        ["cmake", "-S", str(ROOT), "-B", str(tmp_path), "-DPython_EXECUTABLE=" + sys.executable,
         "-DAMPLION_BUILD_TESTS=OFF"],
        env=env, capture_output=True, text=True, check=False)
    assert result.returncode != 0
    message = " ".join(result.stderr.split())
    assert "amplion refuses %s in %s: " % (flag, cmake_variable) in message
    assert "remove %s (it may come from CXXFLAGS, CFLAGS or LDFLAGS)" % flag in message
    assert not (tmp_path / "build.ninja").exists() and not (tmp_path / "Makefile").exists()
