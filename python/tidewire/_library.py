"""Finding and loading the shared library, and the codeset its texts are in."""

import codecs
import ctypes
import locale
import os
import threading
from typing import Dict, Optional

from ._version import package_version

# The current edition by its soname, which changes only with the major version: the one an
# installed library of this version answers to.
DEFAULT_LIBRARY = "libtidewire.so.%s" % package_version().split(".")[0]
LIBRARY_ENV = "TIDEWIRE_LIBRARY"

# Names nl_langinfo gives for plain ASCII. The library hands out UTF-8 instead in such a locale,
# so that received Chinese text still arrives.
_ASCII_CODESETS = {"", "ANSI_X3.4-1968", "ASCII", "US-ASCII", "646"}

_loaded: Dict[str, ctypes.CDLL] = {}
_load_lock = threading.Lock()


def host_codeset() -> str:
    """The codec the library uses for texts in this process.

    The library converts texts in the codeset of the process's LC_CTYPE locale (UTF-8 when that
    is plain ASCII). Python sets LC_CTYPE from the environment at start-up, so the library and
    this package see the same locale; the package never changes it.
    """
    name = locale.nl_langinfo(locale.CODESET)
    if name.upper() in _ASCII_CODESETS:
        return "utf-8"
    try:
        return codecs.lookup(name).name
    except LookupError:
        raise LookupError(
            "the locale's codeset %r has no Python codec; run with a UTF-8 or GBK locale" % name
        ) from None


def _declare(lib: ctypes.CDLL, name: str) -> None:
    # The legacy edition lacks these two and takes SMSGetLastError with one argument: calling
    # it with two would be harmless on Linux but wrong on any stdcall build, so refuse it.
    for export in ("SMSSeviceStarted", "SMSStartServiceEx"):
        if not hasattr(lib, export):
            raise OSError("%r has no %s: not the current edition of Tidewire" % (name, export))
    c_char_p, c_int32, c_uint32, c_uint8 = (
        ctypes.c_char_p,
        ctypes.c_int32,
        ctypes.c_uint32,
        ctypes.c_uint8,
    )
    line = [c_uint32, c_int32, c_uint8, c_int32, c_int32, c_char_p]
    lib.SMSStartService.argtypes = [c_int32] + line
    lib.SMSStartService.restype = c_int32
    lib.SMSStartServiceEx.argtypes = [c_char_p] + line
    lib.SMSStartServiceEx.restype = c_int32
    lib.SMSStopSerice.argtypes = []
    lib.SMSStopSerice.restype = c_int32
    lib.SMSSeviceStarted.argtypes = []
    lib.SMSSeviceStarted.restype = c_uint8
    lib.SMSSendMessage.argtypes = [c_char_p, c_char_p]
    lib.SMSSendMessage.restype = c_int32
    lib.SMSReport.argtypes = [ctypes.c_void_p]
    lib.SMSReport.restype = c_int32
    lib.SMSQuery.argtypes = [c_int32]
    lib.SMSQuery.restype = c_int32
    lib.SMSGetNextMessage.argtypes = [ctypes.c_void_p]
    lib.SMSGetNextMessage.restype = c_int32
    lib.SMSGetLastError.argtypes = [ctypes.c_void_p, c_int32]
    lib.SMSGetLastError.restype = c_int32
    if hasattr(lib, "SMSSetTraceFile"):
        lib.SMSSetTraceFile.argtypes = [c_char_p]
        lib.SMSSetTraceFile.restype = c_int32
    # Extensions a library of this version has; the package copes without them.
    for export in ("SMSGetLastErrorCode", "SMSGetReceivePolls"):
        if hasattr(lib, export):
            getattr(lib, export).argtypes = []
            getattr(lib, export).restype = c_int32
    if hasattr(lib, "SMSGetModuleInfo"):
        lib.SMSGetModuleInfo.argtypes = [ctypes.c_void_p, c_int32]
        lib.SMSGetModuleInfo.restype = c_int32
    if hasattr(lib, "SMSSetOption"):
        lib.SMSSetOption.argtypes = [c_char_p, c_int32]
        lib.SMSSetOption.restype = c_int32
    if hasattr(lib, "SMSQueryDelivery"):
        lib.SMSQueryDelivery.argtypes = [c_int32]
        lib.SMSQueryDelivery.restype = c_int32


def load_library(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads the library: ``path`` when given, else $TIDEWIRE_LIBRARY, else DEFAULT_LIBRARY
    (libtidewire.so.MAJOR) from the loader's search path. The same file is loaded once per
    process: the library holds one service, and every Service object on that file shares it."""
    name = path or os.environ.get(LIBRARY_ENV) or DEFAULT_LIBRARY
    with _load_lock:
        lib = _loaded.get(name)
        if lib is None:
            try:
                lib = ctypes.CDLL(name)
            except OSError as error:
                raise OSError(
                    "cannot load the Tidewire library %r (pass library=..., set %s, or put %s "
                    "on the loader path): %s" % (name, LIBRARY_ENV, DEFAULT_LIBRARY, error)
                ) from error
            _declare(lib, name)
            _loaded[name] = lib
        return lib
