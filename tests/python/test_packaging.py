"""pip builds amplion with the in-tree backend alone. A clean copy of the repository is compiled
once per session, by the README's `pip install .` in a fresh venv of CPython 3.8; the editable
install and the cp38-abi3 wheel reuse that build, and the wheel installs into CPython 3.12 and
Debian's interpreter. The wheel is well formed, carries amplion_kit and the license, imports
without NumPy, and its stubs agree with the module it installs; the exact-rotations wheel carries
LLVM's notice too."""
import ast
import base64
import csv
import glob
import hashlib
import importlib.metadata
import importlib.util
import inspect
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
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


def pyenv_python(version):
    """pyenv's newest CPython `version` (such as "3.8"), or None."""
    roots = [os.path.expanduser(os.environ.get("PYENV_ROOT", "~/.pyenv"))]
    if shutil.which("pyenv"):
        root = subprocess.run(["pyenv", "root"], capture_output=True, text=True).stdout
        roots.append(root.strip())
    found = [p for root in roots if root
             for p in glob.glob(os.path.join(root, "versions", version + ".*", "bin", "python3"))]
    found.sort(key=lambda p: [int(n) for n in re.findall(r"\d+", p.split("/versions/")[1])])
    return found[-1] if found else None


def load_backend():
    path = ROOT / "tools" / "amplion_build.py"
    spec = importlib.util.spec_from_file_location("amplion_build", path)
    backend = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(backend)
    return backend


@pytest.fixture(scope="module")
def clone(tmp_path_factory):
    """The files git tracks, as they stand in the working tree: what a fresh clone of the next
    commit holds, with no build folder."""
    try:
        tracked = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, capture_output=True,
                                 check=True).stdout.decode().split("\0")
    except (OSError, subprocess.CalledProcessError):
        pytest.skip("the source tree is not a git checkout")
    dest = tmp_path_factory.mktemp("clone") / "amplion"
    for name in filter(None, tracked):
        if (ROOT / name).is_file():
            (dest / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(ROOT / name, dest / name)
    return dest


def fresh_venv(python, root, *options):
    run([python, "-m", "venv", *options, root / "env"], cwd=root)
    return root / "env" / "bin" / "python"


def site_of(python, cwd):
    return Path(run([python, "-c", "import sysconfig; print(sysconfig.get_path('platlib'))"],
                    cwd=cwd).strip())


# The one compilation of the session: the README's command, run from a clean clone in a fresh venv
# of the oldest CPython we support. The wheel and the editable install reuse its CMake folder.
SOURCE_PYTHON = pyenv_python("3.8") or sys.executable


@pytest.fixture(scope="module")
def source_venv(clone, tmp_path_factory):
    root = tmp_path_factory.mktemp("source")
    python = fresh_venv(SOURCE_PYTHON, root)
    # No setuptools, no index, no build options.
    run([python, "-m", "pip", "install", clone], cwd=root, timeout=600,
        CMAKE_BUILD_PARALLEL_LEVEL="2")
    return python


@pytest.fixture(scope="module")
def wheel(clone, source_venv, tmp_path_factory):
    out = tmp_path_factory.mktemp("wheel")
    run([source_venv, "-m", "pip", "wheel", clone, "--no-deps", "--no-cache-dir", "--no-index",
         "-w", out], cwd=out, timeout=600)
    built = sorted(out.glob("*.whl"))
    assert len(built) == 1, built
    return built[0]


@pytest.fixture(scope="module")
def venv(wheel, tmp_path_factory):
    """Debian's interpreter, with its NumPy and mypy, and the wheel installed."""
    root = tmp_path_factory.mktemp("venv")
    python = fresh_venv(sys.executable, root, "--system-site-packages")
    run([python, "-m", "pip", "install", "--no-index", "--no-deps", "--no-cache-dir", wheel],
        cwd=root)
    return python


def record_hash(data):
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def test_wheel_tags_contents_and_metadata(wheel):
    platform = wheel.name.rsplit("-", 1)[1][:-len(".whl")]
    assert wheel.name == "amplion-0.1.0-%s-%s.whl" % (TAG, platform)
    if sys.platform == "linux":
        assert platform == "linux_" + os.uname().machine
    info = "amplion-0.1.0.dist-info/"
    with zipfile.ZipFile(wheel) as zf:
        names = set(zf.namelist())
        contents = {name: zf.read(name) for name in names}
    wheel_file = contents[info + "WHEEL"].decode().splitlines()
    metadata = contents[info + "METADATA"].decode()
    kit = {"amplion_kit/" + p.name for p in (ROOT / "python" / "amplion_kit").iterdir()
           if p.is_file()}
    assert {"amplion_kit/__init__.py", "amplion_kit/py.typed"} <= kit
    assert {n for n in names if not n.startswith(info)} == {
        "amplion.abi3.so", "amplion-stubs/__init__.pyi"} | kit
    assert contents[info + "licenses/LICENSE"] == (ROOT / "LICENSE").read_bytes()
    assert "Root-Is-Purelib: false" in wheel_file
    tags = [line for line in wheel_file if line.startswith("Tag: ")]
    assert tags == ["Tag: %s-%s" % (TAG, platform)]
    # Every file but RECORD itself is listed with its hash and size.
    record = list(csv.reader(io.StringIO(contents[info + "RECORD"].decode())))
    assert sorted(row[0] for row in record) == sorted(names)
    for name, digest, size in record:
        expected = ["", ""] if name == info + "RECORD" else [
            record_hash(contents[name]), str(len(contents[name]))]
        assert [digest, size] == expected, name
    head, _, description = metadata.partition("\n\n")
    head = head.splitlines()
    assert head[:3] == ["Metadata-Version: 2.1", "Name: amplion", "Version: 0.1.0"]
    assert "Requires-Python: >=3.8" in head
    assert "Classifier: Typing :: Typed" in head
    assert "License: Apache-2.0" in head
    assert "Description-Content-Type: text/markdown" in head
    assert description == (ROOT / "README.md").read_text()
    # NumPy, Dask and tqdm are only extras: no requirement without a marker.
    requires = [line for line in head if line.startswith("Requires-Dist: ")]
    assert requires == ["Requires-Dist: numpy ; extra == 'numpy'",
                        "Requires-Dist: distributed ; extra == 'dask'",
                        "Requires-Dist: tqdm ; extra == 'progress'"]
    assert [line for line in head if line.startswith("Provides-Extra: ")] == [
        "Provides-Extra: numpy", "Provides-Extra: dask", "Provides-Extra: progress"]


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
    import amplion_kit
    assert amplion_kit.__file__.startswith(sys.prefix), amplion_kit.__file__
    kit = amplion_kit.from_qasm('OPENQASM 2.0; include "qelib1.inc"; qreg q[2];'
                                'h q[0]; cx q[0],q[1];')
    assert kit.statevector().tolist() == a.tolist()
    print(amplion.__file__)
""")


def test_installed_wheel_imports_from_the_venv(venv, tmp_path):
    out = run([venv, "-c", INSTALLED], cwd=tmp_path)
    assert out.strip().endswith("site-packages/amplion.abi3.so")
    assert "/env/lib/" in out


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
    import amplion_kit
    bell = amplion_kit.from_qasm('OPENQASM 2.0; include "qelib1.inc"; qreg q[2]; creg c[2];'
                                 'h q[0]; cx q[0],q[1]; measure q -> c;')
    assert set(bell.run(100, seed=3)) == {"00", "11"}
    print("imported without numpy")
""")


def test_installed_wheel_imports_without_numpy(venv, tmp_path):
    assert run([venv, "-c", WITHOUT_NUMPY], cwd=tmp_path).strip() == "imported without numpy"


def readme_example():
    return re.search(r"```python\n(.*?)```", (ROOT / "README.md").read_text(), re.S).group(1)


CLEAN_INSTALL = textwrap.dedent("""
    import importlib.metadata, amplion, amplion_kit
    print(importlib.metadata.version("amplion"), amplion.__file__, amplion_kit.__file__)
""")


def check_fresh_install(python, cwd, folder):
    """The version, where the module and the kit come from, the README's example, and the
    module without NumPy, which a fresh venv lacks."""
    assert run([python, "-c", CLEAN_INSTALL], cwd=cwd).split() == [
        "0.1.0", str(folder / "amplion.abi3.so"), str(folder / "amplion_kit" / "__init__.py")]
    assert (site_of(python, cwd) / "amplion-stubs" / "__init__.pyi").is_file()
    run([python, "-c", readme_example()], cwd=cwd)
    assert run([python, "-c", WITHOUT_NUMPY], cwd=cwd).strip() == "imported without numpy"


def test_clean_clone_installs_plain_and_editable(clone, source_venv, tmp_path):
    check_fresh_install(source_venv, tmp_path, site_of(source_venv, tmp_path))
    # The editable install imports the module from the CMake folder of the same build.
    run([source_venv, "-m", "pip", "install", "-e", clone], cwd=tmp_path, timeout=600)
    version = "%d.%d" % tuple(json.loads(run(
        [source_venv, "-c", "import json, sys; print(json.dumps(sys.version_info[:2]))"],
        cwd=tmp_path)))
    check_fresh_install(source_venv, tmp_path,
                        clone / "build" / ("wheel-py%s" % version) / "python")


def test_the_wheel_installs_into_the_newest_cpython(wheel, tmp_path):
    python = pyenv_python("3.12")
    if python is None:
        pytest.skip("no CPython 3.12 under pyenv's versions")
    env = fresh_venv(python, tmp_path)
    run([env, "-m", "pip", "install", "--no-index", "--no-deps", "--no-cache-dir", wheel],
        cwd=tmp_path)
    check_fresh_install(env, tmp_path, site_of(env, tmp_path))


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
    from amplion_kit import Circuit
    reveal_type(Circuit(2).h(0).run(10))
    reveal_type(reg.amplitude(0))
    reveal_type(reg.amplitudes())
    reveal_type(reg.measure_counts(10, seed=7))
    reveal_type(circuit.run(10))
    reveal_type(reg.n_qubits)
    reg.h(0.5)
    reg.cx(c=0, t=1)
    circuit.apply_gates(circuit)
    reg.n_qubits = 4
    Circuit(1).h(0.5)
""")

USER_PROGRAM_REPORT = [
    'note: Revealed type is "builtins.dict[builtins.str, builtins.int]"',
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
    'error: Argument 1 to "h" of "Circuit" has incompatible type "float"; '
    'expected "SupportsIndex"',
]


# Kept between runs: checking NumPy's stubs is most of the time; amplion's stubs, in a new venv
# every run, are read afresh.
MYPY_CACHE = ROOT / "build" / "mypy-cache"


def test_mypy_reads_the_installed_stubs(venv, tmp_path):
    (tmp_path / "user.py").write_text(USER_PROGRAM)
    result = subprocess.run(
        [str(venv), "-m", "mypy", "--no-error-summary", "--hide-error-context",
         "--hide-error-codes", "--no-color-output", "--cache-dir", str(MYPY_CACHE),
         "user.py"],
        cwd=tmp_path, env=clean_env(), capture_output=True, text=True, timeout=300)
    report = [line.split(": ", 1)[1] for line in result.stdout.splitlines()
              if line.startswith("user.py:")]
    assert report == USER_PROGRAM_REPORT, result.stdout + result.stderr


@pytest.mark.skipif(sys.version_info < (3, 11), reason="tomllib is new in 3.11")
def test_interpreters_without_tomllib_read_the_same_project_table():
    import tomllib
    with open(ROOT / "pyproject.toml", "rb") as f:
        assert load_backend().PROJECT_WITHOUT_TOMLLIB == tomllib.load(f)["project"]


# Stands in for CMake: logs its arguments and writes a module file, so that the settings can be
# followed through pip into the command line and the wheel without compiling anything.
FAKE_CMAKE = """#!%s
import json, os, sys
with open(os.environ["FAKE_CMAKE_LOG"], "a") as log:
    log.write(json.dumps(sys.argv[1:]) + "\\n")
if sys.argv[1] == "--build":
    os.makedirs(os.path.join(sys.argv[2], "python"), exist_ok=True)
    with open(os.path.join(sys.argv[2], "python", "amplion.abi3.so"), "w") as module:
        module.write("not a module")
"""


@pytest.mark.parametrize("options, env", [
    (["--config-settings=exact-rotations=true"], {}),
    ([], {"AMPLION_EXACT_ROTATIONS": "1"}),
])
def test_exact_rotations_reaches_cmake_and_the_version(clone, tmp_path, options, env):
    # A copy of its own, so that the fake module never lands in a real build folder.
    clone = Path(shutil.copytree(clone, tmp_path / "amplion",
                                 ignore=shutil.ignore_patterns("build")))
    (tmp_path / "bin").mkdir()
    (tmp_path / "bin" / "cmake").write_text(FAKE_CMAKE % sys.executable)
    (tmp_path / "bin" / "cmake").chmod(0o755)
    log = tmp_path / "cmake.log"
    run([sys.executable, "-m", "pip", "wheel", clone, "--no-deps", "--no-cache-dir",
         "--no-index", "-w", tmp_path / "out"] + options, cwd=tmp_path,
        PATH="%s:%s" % (tmp_path / "bin", os.environ["PATH"]), FAKE_CMAKE_LOG=str(log), **env)
    folder = str(clone / "build" / ("wheel-py%d.%d-exact" % sys.version_info[:2]))
    configure, build = [json.loads(line) for line in log.read_text().splitlines()]
    assert configure[:4] == ["-S", str(clone), "-B", folder]
    assert "-DAMPLION_EXACT_ROTATIONS=ON" in configure
    assert "-DPython_EXECUTABLE=" + sys.executable in configure
    assert build == ["--build", folder, "--target", "amplion"]
    [built] = (tmp_path / "out").glob("*.whl")
    assert built.name.startswith("amplion-0.1.0+exact-%s-" % TAG), built.name
    with zipfile.ZipFile(built) as zf:
        zf.extractall(tmp_path / "site")
    [dist] = importlib.metadata.distributions(path=[str(tmp_path / "site")])
    assert dist.version == "0.1.0+exact"


# The exact-rotations module, as the exact stage of the test command built it, packed as pip packs
# it: the wheel must carry LLVM's notice beside the license, and install as +exact.
EXACT_BUILD = os.environ.get("AMPLION_EXACT_BUILD")


@pytest.mark.skipif(not EXACT_BUILD, reason="needs the exact-rotations build (AMPLION_EXACT_BUILD)")
def test_the_exact_wheel_carries_the_llvm_notice(venv, tmp_path):
    name = load_backend().pack_wheel(tmp_path, True, Path(EXACT_BUILD) / "python")
    assert name.startswith("amplion-0.1.0+exact-%s-" % TAG), name
    info = "amplion-0.1.0+exact.dist-info/"
    with zipfile.ZipFile(tmp_path / name) as zf:
        licenses = {n[len(info + "licenses/"):]: zf.read(n) for n in zf.namelist()
                    if n.startswith(info + "licenses/")}
        metadata = zf.read(info + "METADATA").decode()
    assert licenses == {"LICENSE": (ROOT / "LICENSE").read_bytes(),
                        "LLVM-libc.txt": (ROOT / "licenses" / "LLVM-libc.txt").read_bytes()}
    assert "\nLicense: Apache-2.0 AND Apache-2.0 WITH LLVM-exception\n" in metadata
    run([venv, "-m", "pip", "install", "--no-index", "--no-deps", "--target", tmp_path / "site",
         tmp_path / name], cwd=tmp_path)
    out = run([venv, "-c", CLEAN_INSTALL], cwd=tmp_path, PYTHONPATH=str(tmp_path / "site"))
    assert out.split()[:2] == ["0.1.0+exact", str(tmp_path / "site" / "amplion.abi3.so")]


def test_settings_and_their_precedence(monkeypatch):
    backend = load_backend()
    for settings, env, exact in [({}, None, False), ({}, "", False), ({}, "1", True),
                                 ({"exact-rotations": "false"}, "1", False),
                                 ({"exact-rotations": "ON"}, "0", True)]:
        if env is None:
            monkeypatch.delenv("AMPLION_EXACT_ROTATIONS", raising=False)
        else:
            monkeypatch.setenv("AMPLION_EXACT_ROTATIONS", env)
        assert backend.exact_rotations(settings) is exact, (settings, env)
    # A misspelt setting fails in the first hook pip calls, before anything is built.
    for settings, message in [
            ({"exact-rotation": "true"}, "unknown config setting exact-rotation"),
            ({"exact-rotations": "maybe"}, "exact-rotations must be true or false")]:
        with pytest.raises(ValueError, match=message):
            backend.get_requires_for_build_wheel(settings)
    assert backend.get_requires_for_build_wheel() == backend.get_requires_for_build_sdist() == []


def test_sdist_holds_the_build_inputs_and_nothing_else(clone, tmp_path):
    call = ("import sys; sys.path.insert(0, 'tools'); import amplion_build; "
            "print(amplion_build.build_sdist(sys.argv[1]))")
    name = run([sys.executable, "-c", call, tmp_path], cwd=clone).strip()
    assert name == "amplion-0.1.0.tar.gz"
    with tarfile.open(tmp_path / name) as archive:
        members = archive.getnames()
        pkg_info = archive.extractfile("amplion-0.1.0/PKG-INFO").read().decode()
    tops = {n.split("/")[1] for n in members if n.count("/") >= 1}
    assert not tops & {"build", ".git", "tests", "bench", "scripts", "examples", "docs"}
    assert {"amplion-0.1.0/python/amplion_kit/py.typed", "amplion-0.1.0/LICENSE",
            "amplion-0.1.0/licenses/LLVM-libc.txt"} <= set(members)
    assert "\nLicense: Apache-2.0\n" in pkg_info
    assert pkg_info.startswith("Metadata-Version: 2.1\nName: amplion\nVersion: 0.1.0\n")
    # Every file the build reads is there: CMake configures the unpacked tree as the wheel build does.
    with tarfile.open(tmp_path / name) as archive:
        archive.extractall(tmp_path / "unpacked")
    run(["cmake", "-S", tmp_path / "unpacked" / "amplion-0.1.0", "-B", tmp_path / "configured",
         "-DPython_EXECUTABLE=" + sys.executable, "-DAMPLION_BUILD_TESTS=OFF"], cwd=tmp_path)
