"""Builds the tidewire package offline with Debian's python3-setuptools and python3-wheel.

The version is the project's one number, from the project line of the CMakeLists.txt above this
folder (or, when building from an sdist, from its PKG-INFO); the wheel carries it in
``tidewire/_release.py``.
"""

import os
import runpy

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = os.path.dirname(os.path.abspath(__file__))


def version() -> str:
    cmake_lists = os.path.join(HERE, os.pardir, "CMakeLists.txt")
    if os.path.exists(cmake_lists):
        module = runpy.run_path(os.path.join(HERE, "tidewire", "_version.py"))
        return module["project_version"](cmake_lists)
    with open(os.path.join(HERE, "PKG-INFO"), encoding="utf-8") as info:
        for line in info:
            if line.startswith("Version:"):
                return line.split(":", 1)[1].strip()
    raise RuntimeError("no version: neither ../CMakeLists.txt nor PKG-INFO")


VERSION = version()


class BuildPyWithVersion(build_py):
    def run(self) -> None:
        super().run()
        with open(os.path.join(self.build_lib, "tidewire", "_release.py"), "w") as release:
            release.write('"""Written by setup.py: the version this package was built as."""\n\n')
            release.write("VERSION = %r\n" % VERSION)


setup(version=VERSION, cmdclass={"build_py": BuildPyWithVersion})
