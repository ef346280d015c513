"""amplion's build backend: runs CMake, the one build definition, and packs amplion.abi3.so with its
type stubs, the pure-Python package amplion_kit and the license files into a cp38-abi3 wheel. It
needs only the standard library and CMake, so pip builds offline from a fresh venv of any CPython
from 3.8 on:

    python -m pip install .
    python -m pip install -e .            # the module stays in the build folder below
    python -m pip install . --config-settings=exact-rotations=true

CMake configures a Release build without tests or benchmarks for the running interpreter, with
Ninja when it is on PATH, in build/wheel-py3.X (build/wheel-py3.X-exact for the variant below).
CXXFLAGS and LDFLAGS reach CMake through the environment, read when a folder is first configured;
CMAKE_BUILD_PARALLEL_LEVEL limits the build's jobs.

Settings (pip: --config-settings=NAME=VALUE; values true/false, 1/0, on/off, yes/no):

    exact-rotations   builds with -DAMPLION_EXACT_ROTATIONS=ON and versions the wheel X.Y.Z+exact;
                      AMPLION_EXACT_ROTATIONS=1 in the environment does the same when the setting
                      is not given. This module links parts of LLVM's C library: its wheel carries
                      their notice (licenses/LLVM-libc.txt) beside LICENSE.

The metadata is pyproject.toml's [project] table, read with tomllib; interpreters older than 3.11
read PROJECT_WITHOUT_TOMLLIB below, which a test keeps equal to it.
"""
import base64
import csv
import hashlib
import io
import os
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# The module is built with Py_LIMITED_API=0x03080000 (src/CMakeLists.txt), so one file serves
# every CPython from 3.8 on.
ABI_TAG = "cp38-abi3"
MODULE = "amplion.abi3.so"
STUBS = "amplion-stubs/__init__.pyi"
# The pure-Python companion package, installed beside the module.
KIT = "python/amplion_kit"

# Everything a build reads, and the licenses; the sdist holds these and nothing else.
SDIST_FILES = ["pyproject.toml", "README.md", "LICENSE", "CMakeLists.txt",
               "tools/amplion_build.py"]
SDIST_DIRS = ["amplion-stubs", "cmake", "licenses", "math_core", "python", "src"]

# The license files every wheel carries in its dist-info/licenses. The exact-rotations module
# links parts of LLVM's C library, which come under a notice of their own.
LICENSE_FILES = ["LICENSE"]
EXACT_LICENSE_FILES = LICENSE_FILES + ["licenses/LLVM-libc.txt"]
EXACT_LICENSE = " AND Apache-2.0 WITH LLVM-exception"

PROJECT_KEYS = {"name", "version", "description", "readme", "requires-python", "license",
                "classifiers", "dependencies", "optional-dependencies"}
BOOLEANS = {"true": True, "1": True, "on": True, "yes": True,
            "false": False, "0": False, "off": False, "no": False}


# --- pyproject.toml ------------------------------------------------------------------------------

# pyproject.toml's [project] table for interpreters without tomllib (3.8 to 3.10). A test reads
# pyproject.toml with tomllib and checks that this is the same table.
PROJECT_WITHOUT_TOMLLIB = {
    "name": "amplion",
    "version": "0.1.0",
    "description": "A quantum state-vector simulator: one stable-ABI CPython extension module, "
                   "bit-for-bit reproducible",
    "readme": "README.md",
    "requires-python": ">=3.8",
    "license": {"text": "Apache-2.0"},
    "classifiers": [
        "License :: OSI Approved :: Apache Software License",
        "Programming Language :: C++",
        "Programming Language :: Python :: 3",
        "Programming Language :: Python :: Implementation :: CPython",
        "Operating System :: POSIX :: Linux",
        "Topic :: Scientific/Engineering :: Physics",
        "Typing :: Typed",
    ],
    "dependencies": [],
    "optional-dependencies": {"numpy": ["numpy"], "dask": ["distributed"], "progress": ["tqdm"]},
}


def read_project():
    """pyproject.toml's [project] table."""
    try:
        import tomllib
    except ImportError:
        return PROJECT_WITHOUT_TOMLLIB
    with open(ROOT / "pyproject.toml", "rb") as f:
        return tomllib.load(f)["project"]


# --- settings and metadata -----------------------------------------------------------------------

def _flag(name, text):
    if not isinstance(text, str) or text.strip().lower() not in BOOLEANS:
        raise ValueError("%s must be true or false, not %r" % (name, text))
    return BOOLEANS[text.strip().lower()]


def exact_rotations(config_settings):
    settings = dict(config_settings or {})
    unknown = sorted(set(settings) - {"exact-rotations"})
    if unknown:
        raise ValueError("unknown config setting %s; amplion has exact-rotations only"
                         % ", ".join(unknown))
    if "exact-rotations" in settings:
        return _flag("exact-rotations", settings["exact-rotations"])
    return _flag("AMPLION_EXACT_ROTATIONS", os.environ.get("AMPLION_EXACT_ROTATIONS", "0") or "0")


def project(exact):
    """The [project] table, its version carrying +exact for the exact-rotations variant."""
    table = dict(read_project())
    unsupported = sorted(set(table) - PROJECT_KEYS)
    if unsupported:
        raise ValueError("pyproject.toml: [project] keys %s are not supported by "
                         "tools/amplion_build.py" % ", ".join(unsupported))
    if exact:
        table["version"] += "+exact"
        table["license"] = {"text": table["license"]["text"] + EXACT_LICENSE}
    return table


def metadata(table):
    lines = ["Metadata-Version: 2.1",
             "Name: " + table["name"],
             "Version: " + table["version"],
             "Summary: " + table.get("description", "")]
    if "license" in table:
        lines.append("License: " + table["license"]["text"])
    if "requires-python" in table:
        lines.append("Requires-Python: " + table["requires-python"])
    lines += ["Classifier: " + c for c in table.get("classifiers", [])]
    lines += ["Requires-Dist: " + r for r in table.get("dependencies", [])]
    for extra, requirements in table.get("optional-dependencies", {}).items():
        lines.append("Provides-Extra: " + extra)
        for requirement in requirements:
            name, _, marker = requirement.partition(";")
            condition = "extra == '%s'" % extra
            if marker.strip():
                condition = "(%s) and %s" % (marker.strip(), condition)
            lines.append("Requires-Dist: %s ; %s" % (name.strip(), condition))
    text = "\n".join(lines) + "\n"
    if "readme" in table:
        readme = table["readme"]
        kind = {".md": "text/markdown", ".rst": "text/x-rst"}.get(Path(readme).suffix, "text/plain")
        text += "Description-Content-Type: %s\n\n%s" % (
            kind, (ROOT / readme).read_text(encoding="utf-8"))
    return text


def _dist_info(table):
    return "%s-%s.dist-info" % (table["name"], table["version"])


def _wheel_file(table):
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    tag = "%s-%s" % (ABI_TAG, platform)
    name = "%s-%s-%s.whl" % (table["name"], table["version"], tag)
    text = ("Wheel-Version: 1.0\nGenerator: amplion_build\nRoot-Is-Purelib: false\nTag: %s\n"
            % tag)
    return name, text


# --- CMake ---------------------------------------------------------------------------------------

def build_dir(exact):
    # One folder per interpreter: CMake keeps the Python it found in its cache.
    name = "wheel-py%d.%d" % sys.version_info[:2]
    if exact:
        name += "-exact"
    return ROOT / "build" / name


def cmake_configure(exact):
    folder = build_dir(exact)
    command = ["cmake", "-S", str(ROOT), "-B", str(folder),
               "-DPython_EXECUTABLE=" + sys.executable,
               "-DCMAKE_BUILD_TYPE=Release",
               "-DAMPLION_BUILD_TESTS=OFF",
               "-DAMPLION_BUILD_BENCH=OFF"]
    if exact:
        command.append("-DAMPLION_EXACT_ROTATIONS=ON")
    # The generator of an existing folder cannot change.
    if shutil.which("ninja") and not (folder / "CMakeCache.txt").exists():
        command += ["-G", "Ninja"]
    return command


def build_module(exact):
    """Builds the module and returns the folder that holds it."""
    if shutil.which("cmake") is None:
        raise RuntimeError("building amplion needs CMake 3.25 or newer on PATH")
    folder = build_dir(exact)
    subprocess.run(cmake_configure(exact), check=True)
    subprocess.run(["cmake", "--build", str(folder), "--target", "amplion"], check=True)
    built = folder / "python"
    if not (built / MODULE).is_file():
        raise RuntimeError("CMake did not write %s" % (built / MODULE))
    return built


# --- archives ------------------------------------------------------------------------------------

def _record_hash(data):
    digest = hashlib.sha256(data).digest()
    return "sha256=" + base64.urlsafe_b64encode(digest).rstrip(b"=").decode()


def _write_wheel(wheel_directory, table, exact, files):
    """files: (name in the wheel, bytes, executable) for everything but the dist-info."""
    wheel_name, wheel_text = _wheel_file(table)
    info = _dist_info(table)
    licenses = [(info + "/licenses/" + Path(name).name, (ROOT / name).read_bytes(), False)
                for name in (EXACT_LICENSE_FILES if exact else LICENSE_FILES)]
    files = list(files) + licenses + [(info + "/METADATA", metadata(table).encode(), False),
                                      (info + "/WHEEL", wheel_text.encode(), False)]
    record = io.StringIO()
    writer = csv.writer(record, lineterminator="\n")
    Path(wheel_directory).mkdir(parents=True, exist_ok=True)
    path = Path(wheel_directory) / wheel_name
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data, executable in files:
            entry = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            entry.external_attr = (0o100755 if executable else 0o100644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data)
            writer.writerow([name, _record_hash(data), len(data)])
        writer.writerow([info + "/RECORD", "", ""])
        entry = zipfile.ZipInfo(info + "/RECORD", date_time=(1980, 1, 1, 0, 0, 0))
        entry.external_attr = 0o100644 << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        archive.writestr(entry, record.getvalue())
    return wheel_name


def _stubs():
    return (STUBS, (ROOT / STUBS).read_bytes(), False)


def _kit():
    folder = ROOT / KIT
    return [("amplion_kit/" + path.relative_to(folder).as_posix(), path.read_bytes(), False)
            for path in sorted(folder.rglob("*"))
            if path.is_file() and "__pycache__" not in path.parts]


def _sdist_members():
    for name in SDIST_FILES:
        yield name
    for top in SDIST_DIRS:
        for path in sorted((ROOT / top).rglob("*")):
            parts = path.relative_to(ROOT).parts
            if path.is_file() and not any(p.startswith(".") or p == "__pycache__" for p in parts):
                yield "/".join(parts)


# --- PEP 517 and PEP 660 hooks -------------------------------------------------------------------

def get_requires_for_build_wheel(config_settings=None):
    exact_rotations(config_settings)  # a misspelt setting fails before anything is built
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


get_requires_for_build_editable = get_requires_for_build_wheel


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    table = project(exact_rotations(config_settings))
    info = Path(metadata_directory) / _dist_info(table)
    info.mkdir(parents=True, exist_ok=True)
    (info / "METADATA").write_text(metadata(table), encoding="utf-8")
    (info / "WHEEL").write_text(_wheel_file(table)[1], encoding="utf-8")
    return info.name


prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel


def pack_wheel(wheel_directory, exact, module_folder):
    """Writes the wheel of the module built in `module_folder`, with the stubs and the kit."""
    module = (Path(module_folder) / MODULE).read_bytes()
    return _write_wheel(wheel_directory, project(exact), exact,
                        [(MODULE, module, True), _stubs(), *_kit()])


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    exact = exact_rotations(config_settings)
    return pack_wheel(wheel_directory, exact, build_module(exact))


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    # The .pth puts the build folder on sys.path, so `cmake --build` there updates the module;
    # amplion_kit is a link there to its source folder.
    exact = exact_rotations(config_settings)
    table = project(exact)
    folder = build_module(exact)
    pth = ("__editable__.%s.pth" % table["name"], (str(folder) + "\n").encode(), False)
    return _write_wheel(wheel_directory, table, exact, [pth, _stubs()])


def build_sdist(sdist_directory, config_settings=None):
    # The source archive is the same for both variants; the setting applies when it is built.
    table = project(exact=False)
    base = "%s-%s" % (table["name"], table["version"])
    Path(sdist_directory).mkdir(parents=True, exist_ok=True)
    path = Path(sdist_directory) / (base + ".tar.gz")
    pkg_info = metadata(table).encode()
    with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as archive:
        for name in _sdist_members():
            info = archive.gettarinfo(str(ROOT / name), arcname=base + "/" + name)
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            with open(ROOT / name, "rb") as source:
                archive.addfile(info, source)
        info = tarfile.TarInfo(base + "/PKG-INFO")
        info.size, info.mode = len(pkg_info), 0o644
        archive.addfile(info, io.BytesIO(pkg_info))
    return path.name
