"""The package's version: the project's one version number, from its CMake project line.

A built package carries the number in ``_release.py``, which ``setup.py`` writes into the wheel;
a checkout (``python/`` on ``PYTHONPATH``) reads it from the ``CMakeLists.txt`` above it.
"""

import functools
import os
import re

_PROJECT_LINE = re.compile(r"^project\(\s*tidewire\s+VERSION\s+(\d+\.\d+\.\d+)", re.MULTILINE)


def project_version(cmake_lists: str) -> str:
    """The version in the ``project(tidewire VERSION x.y.z ...)`` line of ``cmake_lists``."""
    with open(cmake_lists, encoding="utf-8") as source:
        match = _PROJECT_LINE.search(source.read())
    if match is None:
        raise RuntimeError("%s has no project(tidewire VERSION ...) line" % cmake_lists)
    return match.group(1)


@functools.lru_cache(maxsize=None)
def package_version() -> str:
    """The version of this package, which is that of the library it belongs to."""
    try:
        from ._release import VERSION  # type: ignore[import]  # only in a built package

        return VERSION
    except ImportError:
        here = os.path.dirname(os.path.abspath(__file__))
        cmake_lists = os.path.join(here, os.pardir, os.pardir, "CMakeLists.txt")
        if not os.path.exists(cmake_lists):
            raise RuntimeError(
                "this copy of tidewire was neither built by its setup.py nor is it in a Tidewire "
                "checkout, so it cannot tell its version (or the library's soname)"
            ) from None
        return project_version(cmake_lists)
