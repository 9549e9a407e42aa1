"""Source builds as a user meets them: configure-time messages, the sdist, read-only installs.

Run from the repository root with an interpreter that has pytest, cmake and build
(`.ci/source.sh` sets that up). The install tests compile the module and take a minute each.
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import textwrap

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BIN = pathlib.Path(sys.executable).parent
CMAKE = shutil.which("cmake", path=str(BIN)) or shutil.which("cmake")
# CMake rewraps messages, so they are compared with runs of white space made single spaces.
PACKAGE_LINES = (
    "Debian, Ubuntu: apt install libgmp-dev",
    "Fedora, RHEL, Rocky, Alma: dnf install gmp-devel",
    "conda: conda install gmp",
    "Homebrew: brew install gmp",
)
COMPILER_LINE = "a C++20 compiler: GCC >= 11, or Clang"


def flat(text):
    return " ".join(text.split())


def pyproject_version():
    text = (ROOT / "pyproject.toml").read_text()
    (version,) = re.findall(r'^version = "([^"]+)"$', text, re.MULTILINE)
    return version


def configure(build_dir, *definitions):
    """Configures the C++ core alone (no Python, no tests); returns the completed process."""
    return subprocess.run(
        [CMAKE, "-S", str(ROOT), "-B", str(build_dir), "-DSWARMTUNER_BUILD_MODULE=OFF",
         *definitions],
        capture_output=True, text=True, timeout=300,
    )


def cache_entry(build_dir, name):
    match = re.search(rf"^{name}:[A-Z]+=(.*)$", (build_dir / "CMakeCache.txt").read_text(),
                      re.MULTILINE)
    assert match, name
    return match.group(1)


def both_spellings(directory):
    """A directory and its twin across the /usr merge (/lib/x and /usr/lib/x)."""
    path = str(directory)
    twin = path[len("/usr"):] if path.startswith("/usr/") else "/usr" + path
    return {path, twin, os.path.realpath(path)}


@pytest.fixture(scope="module")
def plain_configure(tmp_path_factory):
    """A configure with nothing hidden, which must succeed: its build directory and output."""
    build_dir = tmp_path_factory.mktemp("configure-found")
    result = configure(build_dir)
    assert result.returncode == 0, result.stdout + result.stderr
    return build_dir, result.stdout


@pytest.fixture(scope="module")
def found_gmp(plain_configure):
    """Where CMake finds GMP on this machine."""
    build_dir, _ = plain_configure
    header_dir = pathlib.Path(cache_entry(build_dir, "GMP_INCLUDE_DIR"))
    library = pathlib.Path(cache_entry(build_dir, "GMP_LIBRARY"))
    assert (header_dir / "gmp.h").is_file() and library.is_file()
    return header_dir, library


@pytest.mark.parametrize(
    "hide, missing",
    [
        (("header", "library"), "the header gmp.h and the library libgmp"),
        (("header",), "the header gmp.h"),
        (("library",), "the library libgmp"),
    ],
)
def test_missing_gmp_names_the_packages(tmp_path, found_gmp, hide, missing):
    header_dir, library = found_gmp
    ignored = set()
    if "header" in hide:
        ignored |= both_spellings(header_dir)
    if "library" in hide:
        ignored |= both_spellings(library.parent)
    result = configure(tmp_path, "-DCMAKE_IGNORE_PATH=" + ";".join(sorted(ignored)))
    output = flat(result.stdout + result.stderr)
    assert result.returncode != 0, output
    assert f"GMP was not found (missing {missing})." in output
    for line in (*PACKAGE_LINES, COMPILER_LINE):
        assert line in output, output


def test_compiler_without_source_location_is_named(tmp_path):
    # -nostdinc++ takes the standard library's headers away, as an older one would lack this
    # header.
    result = configure(tmp_path, "-DCMAKE_CXX_FLAGS=-nostdinc++")
    output = flat(result.stdout + result.stderr)
    assert result.returncode != 0, output
    assert "cannot compile C++20 code that uses <source_location>." in output
    assert COMPILER_LINE in output and PACKAGE_LINES[0] in output


def test_version_has_one_source(plain_configure):
    version = pyproject_version()
    assert re.fullmatch(r"\d+\.\d+\.\d+", version), version
    headings = re.findall(r"^## (\S+)", (ROOT / "CHANGELOG.md").read_text(), re.MULTILINE)
    assert headings and headings[0] == version, headings
    installed = subprocess.run(
        [sys.executable, "-c",
         "import importlib.metadata as m; print(m.version('swarmtuner'))"],
        capture_output=True, text=True, check=True, cwd="/",
    ).stdout.strip()
    assert installed == version
    # CMake reads its project version from pyproject.toml.
    assert f"-- swarmtuner {version}\n" in plain_configure[1]


@pytest.fixture(scope="module")
def sdist(tmp_path_factory):
    out = tmp_path_factory.mktemp("sdist")
    subprocess.run([sys.executable, "-m", "build", "--sdist", "--outdir", str(out), str(ROOT)],
                   check=True, capture_output=True, text=True, timeout=600)
    (archive,) = out.glob("swarmtuner-*.tar.gz")
    return archive


def test_sdist_holds_the_build_inputs_and_the_examples_and_nothing_else(sdist):
    tracked = subprocess.run(["git", "ls-files", "src", "python", "examples"], cwd=ROOT,
                             capture_output=True, text=True, check=True).stdout.split()
    for folder in ("src/", "python/swarmtuner_search/", "examples/"):
        assert any(path.startswith(folder) for path in tracked), f"git ls-files found no {folder}"
    expected = {"PKG-INFO", "pyproject.toml", "CMakeLists.txt", "README.md", "LICENSE",
                "swarmtuner.pyi", *tracked}
    prefix = f"swarmtuner-{pyproject_version()}/"
    with tarfile.open(sdist) as archive:
        members = [m.name for m in archive.getmembers() if m.isfile()]
        pkg_info = archive.extractfile(prefix + "PKG-INFO").read().decode()
    assert all(m.startswith(prefix) for m in members), members
    assert {m[len(prefix):] for m in members} == expected
    assert "License-Expression: MIT" in pkg_info and "License-File: LICENSE" in pkg_info


def can_mount_read_only():
    if shutil.which("unshare") is None or os.geteuid() != 0:
        return False
    probe = subprocess.run(["unshare", "--mount", "sh", "-c", "mount --bind -o ro / /mnt"],
                           capture_output=True)
    return probe.returncode == 0


@pytest.mark.skipif(not can_mount_read_only(),
                    reason="needs root and a mount namespace for a read-only bind mount")
def test_install_from_read_only_sdist_tree(sdist, tmp_path):
    """A clean build environment (pip's isolation) builds the sdist's tree while it is
    mounted read-only, and the installed module runs a search."""
    with tarfile.open(sdist) as archive:
        archive.extractall(tmp_path / "unpacked", filter="data")
    (source,) = (tmp_path / "unpacked").iterdir()
    before = sorted(p.relative_to(source) for p in source.rglob("*"))
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True)
    install = textwrap.dedent("""\
        set -e
        mount --bind -o ro "$1" "$1"
        if touch "$1/probe" 2>/dev/null; then echo "the tree is writable" >&2; exit 3; fi
        "$2" -m pip install --quiet --no-deps "$1"
        """)
    result = subprocess.run(
        ["unshare", "--mount", "sh", "-c", install, "sh", str(source), str(venv / "bin/python")],
        capture_output=True, text=True, timeout=900, cwd=tmp_path,
    )
    assert result.returncode == 0, result.stdout + result.stderr
    assert sorted(p.relative_to(source) for p in source.rglob("*")) == before
    check = subprocess.run(
        [str(venv / "bin/python"), str(ROOT / ".ci/wheel_check.py"), str(ROOT / "swarmtuner.pyi")],
        capture_output=True, text=True, timeout=300, cwd=tmp_path,
    )
    assert check.returncode == 0, check.stdout + check.stderr
