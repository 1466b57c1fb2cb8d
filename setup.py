"""The build step behind pyproject.toml: configures this project's CMake
build for the running interpreter, builds the Python module's target, and
hands setuptools the extension and the package files, as CMake made them.
There is no second build description: what is compiled, and how, is
CMakeLists.txt's. The library is linked in statically, so the module needs
nothing beside it. The CMake build lives in build-python/ under the source
tree (or PURETONE_PIP_BUILD_DIR), and -j follows CMAKE_BUILD_PARALLEL_LEVEL.
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = pathlib.Path(__file__).resolve().parent
BUILD = pathlib.Path(os.environ.get("PURETONE_PIP_BUILD_DIR", SOURCE / "build-python"))
BUILD.mkdir(parents=True, exist_ok=True)  # egg_info writes there before the build


def project_version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(puretone VERSION ([0-9.]+)", text).group(1)


class cmake_build(build_ext):
    def build_extension(self, ext):
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(BUILD), "-DCMAKE_BUILD_TYPE=Release",
                        "-DBUILD_SHARED_LIBS=OFF", "-DPURETONE_TESTS=OFF", "-DPURETONE_PACKAGING=OFF",
                        "-DPURETONE_PYTHON=ON", f"-DPython_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(BUILD), "--target", "puretone_python"], check=True)
        built = next((BUILD / "python" / "puretone").glob("_puretone*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    packages=["puretone"],
    package_dir={"": "python"},
    package_data={"puretone": ["py.typed", "_puretone.pyi"]},
    ext_modules=[Extension("puretone._puretone", sources=[])],
    cmdclass={"build_ext": cmake_build},
    options={"build": {"build_base": str(BUILD / "setuptools")},
             "egg_info": {"egg_base": str(BUILD)}},
    zip_safe=False,
)
