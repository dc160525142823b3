"""Builds the Python package's extension with the project's own CMake build.

setuptools drives the build (see pyproject.toml); its build_ext configures
this repository with CMake in build/pip (the C++ library static and
position-independent, no tools, tests or desktop pieces), builds the one
target btreeimg_python and copies the extension into the package. A second
build reuses the CMake folder, so only what changed is compiled again.

Environment: CMAKE_BUILD_PARALLEL_LEVEL (default 2) sets the compile jobs,
BTREEIMG_CMAKE_ARGS adds CMake arguments (split at spaces).
"""

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
BUILD = "build/pip"


def project_version():
    """The version in CMakeLists.txt's project() call: the one place it is
    stated, which the extension's __version__ is built from as well."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"project\(\s*btreeimg\s+VERSION\s+([0-9][0-9.]*)", text)
    if found is None:
        raise RuntimeError("CMakeLists.txt: no project(btreeimg VERSION ...)")
    return found.group(1)


class CMakeExtension(Extension):
    """An extension that CMake builds: setuptools compiles nothing itself."""

    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    """build_ext that runs the project's CMake build of the extension."""

    def build_extension(self, ext):
        folder = Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(folder),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DBUILD_SHARED_LIBS=OFF",
            "-DCMAKE_POSITION_INDEPENDENT_CODE=ON",
            "-DBUILD_TESTING=OFF",
            "-DBTREEIMG_BUILD_TOOLS=OFF",
            "-DBTREEIMG_BUILD_PIXBUF=OFF",
            "-DBTREEIMG_BUILD_PYTHON=ON",
            f"-DPython3_EXECUTABLE={sys.executable}",
        ]
        if shutil.which("ninja") and not (folder / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        configure += os.environ.get("BTREEIMG_CMAKE_ARGS", "").split()
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(folder), "--target",
                        "btreeimg_python", "-j", jobs], check=True)
        name = "_btreeimg" + sysconfig.get_config_var("EXT_SUFFIX")
        built = folder / "python" / "btreeimg" / name
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


# setuptools' working files (egg-info) go to the build folder, not python/.
os.makedirs(os.path.join(ROOT, BUILD), exist_ok=True)
setup(
    version=project_version(),
    ext_modules=[CMakeExtension("btreeimg._btreeimg")],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": BUILD},
             "egg_info": {"egg_base": BUILD}},
)
