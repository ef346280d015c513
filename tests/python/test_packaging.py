"""pip builds one cp38-abi3 wheel from the source tree; it installs offline into a fresh venv, loads
in CPython 3.8, imports without NumPy, and its stubs agree with the module it installs."""
import ast
import glob
import inspect
import os
import subprocess
import sys
import textwrap
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
TAG = "cp38-abi3"

# The sanitizer pass preloads its runtime into every child process, pip and the compiler included;
# the wheel is a release build, already checked by the normal pass.
pytestmark = pytest.mark.skipif(os.environ.get("AMPLION_SANITIZED") == "1",
                                reason="packaging is checked without the sanitizer runtime")


def clean_env(**extra):
    """The environment without PYTHONPATH, so that only the installed module can be imported."""
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env.update(extra)
    return env


def run(args, cwd, timeout=300, **env):
    result = subprocess.run([str(a) for a in args], cwd=cwd, env=clean_env(**env),
                            capture_output=True, text=True, timeout=timeout)
    assert result.returncode == 0, "%s failed:\n%s\n%s" % (args, result.stdout, result.stderr)
    return result.stdout


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    out = tmp_path_factory.mktemp("wheel")
    run([sys.executable, "-m", "pip", "wheel", ROOT, "--no-build-isolation", "--no-deps",
         "--no-cache-dir", "--no-index", "-w", out], cwd=out, timeout=600,
        CMAKE_BUILD_PARALLEL_LEVEL="2")
    built = sorted(out.glob("*.whl"))
    assert len(built) == 1, built
    return built[0]


@pytest.fixture(scope="module")
def venv(wheel, tmp_path_factory):
    root = tmp_path_factory.mktemp("venv")
    run([sys.executable, "-m", "venv", "--system-site-packages", root / "env"], cwd=root)
    python = root / "env" / "bin" / "python"
    run([python, "-m", "pip", "install", "--no-index", "--no-deps", "--no-cache-dir", wheel],
        cwd=root)
    return python


def test_wheel_tags_contents_and_metadata(wheel):
    assert wheel.name.startswith("amplion-0.1.0-%s-" % TAG), wheel.name
    with zipfile.ZipFile(wheel) as zf:
        names = set(zf.namelist())
        info = "amplion-0.1.0.dist-info/"
        wheel_file = zf.read(info + "WHEEL").decode().splitlines()
        metadata = zf.read(info + "METADATA").decode().splitlines()
    assert {n for n in names if not n.startswith(info)} == {
        "amplion.abi3.so", "amplion-stubs/__init__.pyi"}
    assert "Root-Is-Purelib: false" in wheel_file
    assert [line for line in wheel_file if line.startswith("Tag: ")] == [
        "Tag: %s-%s" % (TAG, wheel.name.rsplit("-", 1)[1][:-len(".whl")])]
    assert "Requires-Python: >=3.8" in metadata
    # NumPy is only an extra: no requirement without a marker.
    requires = [line for line in metadata if line.startswith("Requires-Dist: ")]
    assert requires == ["Requires-Dist: numpy ; extra == 'numpy'"]
    assert "Provides-Extra: numpy" in metadata


INSTALLED = textwrap.dedent("""
    import sys, numpy, amplion
    assert amplion.__file__.startswith(sys.prefix), amplion.__file__
    reg = amplion.StateVecPy(2, seed=1)
    reg.h(0)
    reg.cx(0, 1)
    a = reg.amplitudes()
    assert a.dtype == numpy.complex128
    assert a.view(numpy.uint64).tolist() == [0x3FE6A09E667F3BCC, 0, 0, 0, 0, 0,
                                             0x3FE6A09E667F3BCC, 0]
    print(amplion.__file__)
""")


def test_installed_wheel_imports_from_the_venv(venv, tmp_path):
    out = run([venv, "-c", INSTALLED], cwd=tmp_path)
    assert out.strip().endswith("site-packages/amplion.abi3.so")
    assert "/env/lib/" in out


def test_readme_install_command_works(tmp_path):
    # pip install . from the source tree, as the README says, reusing the wheel's CMake folder.
    run([sys.executable, "-m", "venv", "--system-site-packages", tmp_path / "env"], cwd=tmp_path)
    python = tmp_path / "env" / "bin" / "python"
    run([python, "-m", "pip", "install", ROOT, "--no-build-isolation", "--no-deps",
         "--no-cache-dir", "--no-index"], cwd=tmp_path, timeout=600,
        CMAKE_BUILD_PARALLEL_LEVEL="2")
    assert run([python, "-c", INSTALLED], cwd=tmp_path).strip().startswith(str(tmp_path))
    stubs = glob.glob(str(tmp_path / "env" / "lib" / "python3*" / "site-packages" /
                          "amplion-stubs" / "__init__.pyi"))
    assert len(stubs) == 1


# Without NumPy the module still imports and simulates; only the array export fails, with the
# fault that names the missing array API.
WITHOUT_NUMPY = textwrap.dedent("""
    import sys
    sys.modules["numpy"] = None  # makes "import numpy" fail, as on an interpreter without it
    import amplion
    reg = amplion.StateVecPy(1, seed=1)
    reg.x(0)
    assert reg.amplitude(1) == (1.0, 0.0)
    try:
        reg.amplitudes()
    except BaseException as error:
        assert type(error).__name__ == "PanicException", repr(error)
        assert str(error).startswith("Failed to access NumPy array API capsule"), str(error)
    else:
        raise AssertionError("amplitudes() needs NumPy")
    assert reg.amplitude(1) == (1.0, 0.0)
    print("imported without numpy")
""")


def test_installed_wheel_imports_without_numpy(venv, tmp_path):
    assert run([venv, "-c", WITHOUT_NUMPY], cwd=tmp_path).strip() == "imported without numpy"


def oldest_interpreter():
    root = os.path.expanduser(os.environ.get("PYENV_ROOT", "~/.pyenv"))
    found = sorted(glob.glob(os.path.join(root, "versions", "3.8.*", "bin", "python3")))
    return found[0] if found else None


def test_python38_installs_and_loads_the_wheel(wheel, tmp_path):
    python = oldest_interpreter()
    if python is None:
        pytest.skip("no CPython 3.8 on this machine")
    # 3.8's own pip must accept the tag; --target keeps its site-packages untouched.
    run([python, "-m", "pip", "install", "--no-index", "--no-deps", "--no-cache-dir",
         "--target", tmp_path / "site", wheel], cwd=tmp_path)
    code = "import sys; assert sys.version_info[:2] == (3, 8)\n" + WITHOUT_NUMPY.replace(
        'sys.modules["numpy"] = None', "pass")
    out = run([python, "-c", code], cwd=tmp_path, PYTHONPATH=str(tmp_path / "site"))
    assert out.strip() == "imported without numpy"


def test_stubtest_finds_no_difference(venv, tmp_path):
    # Compares every class, method, parameter name, default and attribute of the stubs with the
    # module's text signatures; names present on one side only are errors too.
    result = subprocess.run([str(venv), "-m", "mypy.stubtest", "amplion"], cwd=tmp_path,
                            env=clean_env(), capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr


def stub_constructors():
    tree = ast.parse((ROOT / "amplion-stubs" / "__init__.pyi").read_text())
    found = {}
    for cls in tree.body:
        if isinstance(cls, ast.ClassDef):
            for fn in cls.body:
                if isinstance(fn, ast.FunctionDef) and fn.name == "__new__":
                    args = fn.args.args[1:]
                    defaults = [None] * (len(args) - len(fn.args.defaults)) + fn.args.defaults
                    found[cls.name] = [(a.arg, d is not None) for a, d in zip(args, defaults)]
    return found


@pytest.mark.skipif(sys.version_info < (3, 10), reason="heap types show no text signature")
def test_constructor_stubs_match_the_text_signatures():
    # stubtest cannot see through tp_new, whose signature Python reads from the class docstring.
    import amplion
    expected = {}
    for name in amplion.__all__:
        params = inspect.signature(getattr(amplion, name)).parameters.values()
        expected[name] = [(p.name, p.default is not inspect.Parameter.empty) for p in params]
    assert stub_constructors() == expected


# A user's program as mypy sees it with the installed stubs: the reveal_type lines show what the
# stubs promise, the last lines are mistakes that the stubs must catch.
USER_PROGRAM = textwrap.dedent("""
    import numpy
    import amplion

    reg = amplion.StateVecPy(3, seed=None)
    reg.h(numpy.int64(0))
    reg.cx(control=0, target=1)
    reg.rz(2, 1)
    circuit = amplion.QuantumCircuit(3)
    circuit.cx(c=0, t=1)
    circuit.apply_gates(reg)
    reveal_type(reg.amplitude(0))
    reveal_type(reg.amplitudes())
    reveal_type(reg.measure_counts(10, seed=7))
    reveal_type(circuit.run(10))
    reveal_type(reg.n_qubits)
    reg.h(0.5)
    reg.cx(c=0, t=1)
    circuit.apply_gates(circuit)
    reg.n_qubits = 4
""")

USER_PROGRAM_REPORT = [
    'note: Revealed type is "Tuple[builtins.float, builtins.float]"',
    'note: Revealed type is "numpy.ndarray[Any, numpy.dtype[numpy.complexfloating['
    'numpy._typing._64Bit, numpy._typing._64Bit]]]"',
    'note: Revealed type is "builtins.dict[builtins.str, builtins.int]"',
    'note: Revealed type is "builtins.dict[builtins.str, builtins.int]"',
    'note: Revealed type is "builtins.int"',
    'error: Argument 1 to "h" of "StateVecPy" has incompatible type "float"; '
    'expected "SupportsIndex"',
    'error: Unexpected keyword argument "c" for "cx" of "StateVecPy"',
    'error: Unexpected keyword argument "t" for "cx" of "StateVecPy"',
    'error: Argument 1 to "apply_gates" of "QuantumCircuit" has incompatible type '
    '"QuantumCircuit"; expected "StateVecPy"',
    'error: Property "n_qubits" defined in "StateVecPy" is read-only',
]


def test_mypy_reads_the_installed_stubs(venv, tmp_path):
    (tmp_path / "user.py").write_text(USER_PROGRAM)
    result = subprocess.run(
        [str(venv), "-m", "mypy", "--no-error-summary", "--hide-error-context",
         "--hide-error-codes", "--no-color-output", "--cache-dir", str(tmp_path / "cache"),
         "user.py"],
        cwd=tmp_path, env=clean_env(), capture_output=True, text=True, timeout=300)
    report = [line.split(": ", 1)[1] for line in result.stdout.splitlines()
              if line.startswith("user.py:")]
    assert report == USER_PROGRAM_REPORT, result.stdout + result.stderr
