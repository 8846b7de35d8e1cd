"""Builds the Python package vqpeek: its compiled core vqpeek._core is the
CMake target vqpeek_python, configured for the interpreter that runs this
build and copied to where setuptools puts extension modules. The version is
the one that CMakeLists.txt gives the project.

With VQPEEK_CMAKE_BUILD_DIR set to a build tree of the project already
configured for this interpreter, the core is built (or found up to date)
there instead of in a build of its own; the project's tests install the
package from their own build tree this way."""
import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
BUILD_BASE = "build-pip"


def project_version() -> str:
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(\s*vqpeek\s+VERSION\s+([0-9][0-9.]*)", text)
    if match is None:
        raise RuntimeError("CMakeLists.txt: no project(vqpeek VERSION ...) found")
    return match.group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        existing = os.environ.get("VQPEEK_CMAKE_BUILD_DIR")
        if existing:
            build = Path(existing).resolve()
            if not (build / "CMakeCache.txt").exists():
                raise RuntimeError(f"VQPEEK_CMAKE_BUILD_DIR: no CMake build tree at {build}")
        else:
            build = Path(self.build_temp).resolve() / "cmake"
            self.configure(build)
        jobs = str(self.parallel or os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build), "--target", "vqpeek_python", "-j", jobs],
                       check=True)
        suffix = sysconfig.get_config_var("EXT_SUFFIX")
        built = build / "python" / "vqpeek" / f"_core{suffix}"
        if not built.exists():
            raise RuntimeError(f"the CMake build made no {built}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)

    @staticmethod
    def configure(build):
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            f"-DPython3_EXECUTABLE={sys.executable}",
            "-DVQPEEK_BUILD_PYTHON=ON", "-DVQPEEK_PYTHON_REQUIRED=ON",
            "-DVQPEEK_BUILD_PROGRAM=OFF", "-DVQPEEK_BUILD_TESTS=OFF",
            "-DVQPEEK_BUILD_BENCH=OFF", "-DVQPEEK_BUILD_EXAMPLES=OFF", "-DVQPEEK_INSTALL=OFF",
        ]
        try:  # pybind11 from the Python package index, in an isolated build
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass  # the system's pybind11, found by CMake
        subprocess.run(configure, check=True)


os.makedirs(ROOT / BUILD_BASE, exist_ok=True)
setup(
    version=project_version(),
    ext_modules=[Extension("vqpeek._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": BUILD_BASE}, "egg_info": {"egg_base": BUILD_BASE}},
)
