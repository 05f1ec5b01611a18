"""The exceptions, one class per kind of failure, and the English sentence of each error.

The sentences and their advice come from ``errors.json`` in this package, the table the
``tidewire`` command line compiles in as well, so both say the same. Its rows are held to the
library's own texts and numbers by the library's tests.
"""

import errno
import functools
import json
import os
from typing import Dict, List, Optional, Type


class TidewireError(Exception):
    """A failure of the library.

    ``code`` is its number (``SMSGetLastErrorCode``, the ``TIDEWIRE_ERROR_*`` constants of
    tidewire_errors.h; 0 for a failure the library did not word), ``text`` the library's own
    last-error text, and ``str()`` an English sentence with what to do.
    """

    def __init__(self, text: str, code: int = 0, english: Optional[str] = None) -> None:
        super().__init__(english or text)
        self.text = text
        self.code = code
        self.english = english or text


class AlreadyRunning(TidewireError):
    """The service already runs in this process, or is still stopping."""


class PortError(TidewireError):
    """The port could not be opened or configured, or failed while the module was initialised."""


class NoAnswer(TidewireError):
    """No module answered on the port."""


class UnknownModule(TidewireError):
    """The module did not tell its model."""


class NoSim(TidewireError):
    """The module has no usable SIM card."""


class NotRunning(TidewireError):
    """The service is not running."""


class InvalidArgument(TidewireError, ValueError):
    """The library refused an argument (a text, a number, a service centre)."""


class InitialisationFailed(TidewireError):
    """The module refused a command of its initialisation."""


class MessageRejected(TidewireError):
    """A message was not sent: the library refused it for the module, or the module refused it
    (then ``code`` is 0 and ``text`` empty)."""


_CLASS_OF_KIND: Dict[str, Type[TidewireError]] = {
    "already-running": AlreadyRunning,
    "port": PortError,
    "no-answer": NoAnswer,
    "unknown-module": UnknownModule,
    "no-sim": NoSim,
    "not-running": NotRunning,
    "invalid-argument": InvalidArgument,
    "init": InitialisationFailed,
    "init-warning": InitialisationFailed,
    "message": MessageRejected,
}


@functools.lru_cache(maxsize=None)
def _rows() -> Dict[int, Dict[str, object]]:
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "errors.json")
    with open(path, encoding="utf-8") as table:
        rows: List[Dict[str, object]] = json.load(table)
    return {int(str(row["code"])): row for row in rows}


def error_kind(code: int) -> str:
    """The kind of failure of an error number ("port", "message", ...; "" when unknown)."""
    row = _rows().get(code)
    return str(row["kind"]) if row else ""


def _advice(row: Dict[str, object], reason: str) -> str:
    # The reason after the port text is the C library's strerror text in this process's locale,
    # so it is recognised by asking strerror for the same number.
    by_errno = row.get("advice_by_errno")
    if isinstance(by_errno, dict) and reason:
        for name, advice in by_errno.items():
            number = getattr(errno, name, None)
            if number is not None and reason == os.strerror(number):
                return str(advice)
    return str(row["advice"])


def error_for(code: int, text: str, device: str = "") -> TidewireError:
    """The exception for the library's error ``code`` with its last-error ``text``, told for
    ``device`` (the port text's system reason is split off to be named in the sentence)."""
    row = _rows().get(code)
    if row is None:
        return TidewireError(text, code)
    fixed = str(row["text"])
    reason = text[len(fixed):] if text.startswith(fixed) else ""
    english = str(row["english"]).replace("{device}", device or "the port")
    if reason:
        english += ": " + reason
    english += " (%s)" % _advice(row, reason)
    return _CLASS_OF_KIND.get(str(row["kind"]), TidewireError)(text, code, english)
