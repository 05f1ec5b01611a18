"""The service object, the two record types and the exception."""

import ctypes
import os
import struct
import time
from dataclasses import dataclass
from typing import Iterator, Optional

from ._library import host_codeset, load_library

# Record sizes and field offsets of OutgoingMessage (a report) and ReceivedMessage.
REPORT_SIZE = 296
REPORT_TEXT = (4, 264)
REPORT_NUMBER = (264, 296)
MESSAGE_SIZE = 320
MESSAGE_TEXT = (0, 256)
MESSAGE_SENDER = (256, 288)
MESSAGE_TIMESTAMP = (288, 320)

# The longest last-error text is a port failure followed by the system's own message; the C
# hosts of the library use 1024 bytes as well.
LAST_ERROR_SIZE = 1024

# Every SMSQuery is a lock and a map look-up in the library; 20 polls a second cost nothing and
# are far finer than a module's answer to a send.
POLL_INTERVAL = 0.05


class TidewireError(Exception):
    """A call the library refused; ``text`` is its last-error text, decoded."""

    def __init__(self, text: str) -> None:
        super().__init__(text)
        self.text = text


@dataclass(frozen=True)
class Report:
    """The outcome record of a queued message: its id, its text and its destination (with a
    leading 86 removed). Whether it was sent tells Service.query(id)."""

    id: int
    text: str
    number: str


@dataclass(frozen=True)
class Message:
    """A received message: the sender as the network gave it (digits with the country code,
    or the name of an alphanumeric sender) and the time stamp, "yyyy-mm-dd hh:mm:ss" on most
    modules."""

    text: str
    sender: str
    timestamp: str


def _field(raw: bytes, span, codeset: str) -> str:
    value = raw[span[0] : span[1]].split(b"\0", 1)[0]
    return value.decode(codeset, errors="replace")


class Service:
    """The library's SMS service on one serial port.

    The library holds one service per process: every Service object on the same library file
    drives that one service. Nothing is opened until start() (or entering a ``with`` block,
    which stops the service again on leaving it).
    """

    def __init__(
        self,
        device: Optional[str] = None,
        port: Optional[int] = None,
        baud: int = 115200,
        parity: int = 2,
        data_bits: int = 8,
        stop_bits: int = 0,
        flow_control: int = 0,
        service_centre: Optional[str] = "card",
        library: Optional[str] = None,
    ) -> None:
        if (device is None) == (port is None):
            raise ValueError("give either device (a path such as /dev/ttyUSB0) or port (COMn)")
        if device is not None and (not isinstance(device, (str, bytes, os.PathLike)) or not device):
            raise ValueError("device must be a non-empty path")
        if port is not None and (not isinstance(port, int) or not 1 <= port <= 0x7FFFFFFF):
            raise ValueError("port must be a positive COM port number")
        if not isinstance(baud, int) or not 0 < baud <= 0xFFFFFFFF:
            raise ValueError("baud must be a positive rate such as 115200")
        if not isinstance(data_bits, int) or not 5 <= data_bits <= 8:
            raise ValueError("data_bits must be 5 to 8")
        for name, value in (("parity", parity), ("stop_bits", stop_bits),
                            ("flow_control", flow_control)):
            if not isinstance(value, int) or not -0x80000000 <= value <= 0x7FFFFFFF:
                raise ValueError("%s must be a 32-bit integer" % name)
        self.device = device
        self.port = port
        self.baud = baud
        self.parity = parity
        self.data_bits = data_bits
        self.stop_bits = stop_bits
        self.flow_control = flow_control
        self.service_centre = service_centre
        self._lib = load_library(library)
        self._codeset = host_codeset()

    # --- texts -------------------------------------------------------------------------------

    @property
    def codeset(self) -> str:
        """The codec texts cross the library in (the locale's codeset, UTF-8 for plain ASCII)."""
        return self._codeset

    def _encode(self, what: str, value: str) -> bytes:
        if not isinstance(value, str):
            raise TypeError("%s must be str, not %s" % (what, type(value).__name__))
        # A NUL would end the C string early and the rest would be lost without a word.
        if "\0" in value:
            raise ValueError("%s must not contain a NUL character" % what)
        try:
            return value.encode(self._codeset)
        except UnicodeEncodeError as error:
            raise ValueError(
                "%s has characters the locale's codeset %s cannot carry: %r"
                % (what, self._codeset, error.object[error.start : error.end])
            ) from None

    @property
    def last_error(self) -> str:
        """The text of the library's most recent failure ("" when there was none)."""
        buffer = ctypes.create_string_buffer(LAST_ERROR_SIZE)
        length = self._lib.SMSGetLastError(buffer, LAST_ERROR_SIZE)
        length = max(0, min(length, LAST_ERROR_SIZE))
        return buffer.raw[:length].split(b"\0", 1)[0].decode(self._codeset, errors="replace")

    def _fail(self) -> TidewireError:
        return TidewireError(self.last_error)

    # --- start and stop ----------------------------------------------------------------------

    def start(self) -> None:
        """Opens the port, identifies the module and starts the worker; raises TidewireError
        with the library's reason when it cannot."""
        centre = None
        if self.service_centre is not None:
            centre = self._encode("service_centre", self.service_centre)
        line = (self.baud, self.parity, self.data_bits, self.stop_bits, self.flow_control, centre)
        if self.port is not None:
            started = self._lib.SMSStartService(self.port, *line)
        else:
            started = self._lib.SMSStartServiceEx(os.fsencode(self.device), *line)
        if started != 1:
            raise self._fail()

    def stop(self) -> None:
        """Stops the service after the modem dialogue in progress. Reports and received
        messages can still be taken afterwards."""
        self._lib.SMSStopSerice()

    @property
    def running(self) -> bool:
        return self._lib.SMSSeviceStarted() != 0

    def __enter__(self) -> "Service":
        self.start()
        return self

    def __exit__(self, *exc_info) -> None:
        self.stop()

    # --- sending -----------------------------------------------------------------------------

    def send(self, text: str, number: str) -> int:
        """Queues a message and returns its id; raises TidewireError when the library refuses
        it (not started, empty or too long, forbidden characters)."""
        message_id = self._lib.SMSSendMessage(
            self._encode("text", text), self._encode("number", number)
        )
        if message_id < 0:
            raise self._fail()
        return message_id

    def query(self, message_id: int) -> Optional[bool]:
        """True when the module confirmed the message, False when it failed, None while it is
        not finished (or the id is unknown)."""
        result = self._lib.SMSQuery(message_id)
        if result == 1:
            return True
        if result == 0:
            return False
        return None

    def wait_for(self, message_id: int, timeout: float) -> Optional[bool]:
        """Waits up to ``timeout`` seconds for the outcome of a message; None when it is still
        unfinished then, or when the service stopped before the message was sent."""
        deadline = time.monotonic() + timeout
        while True:
            outcome = self.query(message_id)
            if outcome is not None:
                return outcome
            if not self.running:
                # A stop leaves unsent messages unsent; ask once more in case the worker
                # finished this one just before it ended.
                return self.query(message_id)
            if time.monotonic() >= deadline:
                return None
            time.sleep(POLL_INTERVAL)

    # --- reports and received messages -------------------------------------------------------

    def reports(self) -> Iterator[Report]:
        """Takes the waiting report records, oldest first, until none is left."""
        while True:
            buffer = ctypes.create_string_buffer(REPORT_SIZE)
            if self._lib.SMSReport(buffer) != 1:
                return
            raw = buffer.raw
            yield Report(
                id=struct.unpack_from("<i", raw, 0)[0],
                text=_field(raw, REPORT_TEXT, self._codeset),
                number=_field(raw, REPORT_NUMBER, self._codeset),
            )

    def messages(self) -> Iterator[Message]:
        """Takes the waiting received messages, oldest first, until none is left."""
        while True:
            buffer = ctypes.create_string_buffer(MESSAGE_SIZE)
            if self._lib.SMSGetNextMessage(buffer) != 1:
                return
            raw = buffer.raw
            yield Message(
                text=_field(raw, MESSAGE_TEXT, self._codeset),
                sender=_field(raw, MESSAGE_SENDER, self._codeset),
                timestamp=_field(raw, MESSAGE_TIMESTAMP, self._codeset),
            )

    # --- AT trace ----------------------------------------------------------------------------

    @property
    def can_trace(self) -> bool:
        """Whether this build of the library can write an AT trace."""
        return hasattr(self._lib, "SMSSetTraceFile")

    def set_trace_file(self, path: Optional[str]) -> None:
        """Appends the module's traffic to ``path``; None turns the trace off."""
        if not self.can_trace:
            raise NotImplementedError("this build of the library has no SMSSetTraceFile")
        raw = None if path is None or path == "" else os.fsencode(path)
        if self._lib.SMSSetTraceFile(raw) != 1:
            raise TidewireError("the library could not open the trace file %r" % (path,))
