"""The service object, the line-setting codes and the two record types."""

import asyncio
import ctypes
import enum
import os
import re
import struct
import time
from dataclasses import dataclass
from datetime import datetime
from typing import Any, AsyncIterator, Iterator, Optional, Tuple, Union

from ._errors import MessageRejected, TidewireError, error_for, error_kind
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


class Parity(enum.IntEnum):
    """The parity codes the library takes (the plain integers are accepted as well)."""

    EVEN = 0
    MARK = 1
    NONE = 2
    ODD = 3
    SPACE = 4


class StopBits(enum.IntEnum):
    """The stop-bit codes. A POSIX serial driver has no ONE_AND_HALF: the start then fails."""

    ONE = 0
    ONE_AND_HALF = 1
    TWO = 2


class FlowControl(enum.IntEnum):
    """The flow-control codes. A POSIX serial driver has only NONE, RTS_CTS and XON_XOFF."""

    NONE = 0
    RTS_CTS = 1
    CTS_DTR = 2
    DSR_RTS = 3
    DSR_DTR = 4
    XON_XOFF = 5


@dataclass(frozen=True)
class Report:
    """The outcome record of a queued message: its id, its text and its destination (with a
    leading 86 removed). Whether it was sent tells Service.query(id)."""

    id: int
    text: str
    number: str


@dataclass(frozen=True)
class Message:
    """A received message: the sender as the record gives it (digits with the country code and
    no "+" from a GSM module, as listed by a type-870 module, what a CDMA network gives, or the
    name of an alphanumeric sender), the record's own time text (``timestamp``,
    "yyyy-mm-dd hh:mm:ss" on most modules) and that time as a ``datetime`` (``time``: local
    time, without a zone, as the modules give it; None when the text is in no known form)."""

    text: str
    sender: str
    timestamp: str
    time: Optional[datetime] = None


# "yyyy-mm-dd hh:mm:ss" (GSM, 860, 865), "yyyy/mm/dd hh:mm:ss" (870), "yy/mm/dd,hh:mm:ss".
_TIME = re.compile(r"(\d{2}|\d{4})([-/])(\d\d)\2(\d\d)[ ,](\d\d):(\d\d):(\d\d)")


def parse_time(timestamp: str) -> Optional[datetime]:
    """The time of a received record's time text, or None when it is in no known form."""
    match = _TIME.fullmatch(timestamp)
    if match is None:
        return None
    year, _, month, day, hour, minute, second = match.groups()
    try:
        return datetime(int(year) + (2000 if len(year) == 2 else 0), int(month), int(day),
                        int(hour), int(minute), int(second))
    except ValueError:
        return None


def _tri_state(result: int) -> Optional[bool]:
    # The library's 1 / 0 / -1 answers (SMSQuery, SMSQueryDelivery): yes, no, not known.
    if result == 1:
        return True
    if result == 0:
        return False
    return None


def _field(raw: bytes, span: Tuple[int, int], codeset: str) -> str:
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
        parity: Union[Parity, int] = Parity.NONE,
        data_bits: int = 8,
        stop_bits: Union[StopBits, int] = StopBits.ONE,
        flow_control: Union[FlowControl, int] = FlowControl.NONE,
        service_centre: Optional[str] = "card",
        library: Optional[str] = None,
        long_messages: Optional[bool] = None,
        delivery_reports: Optional[bool] = None,
        reassembly_seconds: Optional[int] = None,
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
        for name, flag in (("long_messages", long_messages),
                           ("delivery_reports", delivery_reports)):
            if flag is not None and not isinstance(flag, bool):
                raise ValueError("%s must be True, False or None" % name)
        if reassembly_seconds is not None and (
                isinstance(reassembly_seconds, bool) or not isinstance(reassembly_seconds, int)):
            raise ValueError("reassembly_seconds must be a number of seconds")
        self.device = device
        self.port = port
        self.baud = baud
        self.parity = parity
        self.data_bits = data_bits
        self.stop_bits = stop_bits
        self.flow_control = flow_control
        self.service_centre = service_centre
        # Options start() hands to the library; None leaves the library's setting alone.
        self.long_messages = long_messages
        self.delivery_reports = delivery_reports
        self.reassembly_seconds = reassembly_seconds
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

    @property
    def last_error_code(self) -> int:
        """The number of the library's most recent failure (0 when there was none): one of the
        TIDEWIRE_ERROR_* constants of tidewire_errors.h."""
        if not hasattr(self._lib, "SMSGetLastErrorCode"):
            return 0
        return int(self._lib.SMSGetLastErrorCode())

    @property
    def device_name(self) -> str:
        """The device the service opens, for messages."""
        if self.port is not None:
            return "COM%d (/dev/ttyS%d)" % (self.port, self.port - 1)
        return os.fsdecode(self.device) if self.device is not None else ""

    def _fail(self) -> TidewireError:
        return error_for(self.last_error_code, self.last_error, self.device_name)

    # --- start and stop ----------------------------------------------------------------------

    def start(self) -> None:
        """Opens the port, identifies the module and starts the worker; raises the
        TidewireError of the library's reason when it cannot (PortError, NoAnswer,
        UnknownModule, NoSim, AlreadyRunning, InvalidArgument).

        The options given to the constructor (long_messages, delivery_reports,
        reassembly_seconds) are set first, so the first reading of the module's store already
        joins parts; set_option() raises before the port is opened when the library refuses
        one. A CDMA module leaves long messages and delivery reports unused (see set_option)."""
        # A start that the running service will refuse must not change that service's options.
        options = () if self.running else (("long-messages", self.long_messages),
                                            ("delivery-reports", self.delivery_reports),
                                            ("reassembly-seconds", self.reassembly_seconds))
        for name, value in options:
            if value is not None:
                self.set_option(name, int(value))
        centre = None
        if self.service_centre is not None:
            centre = self._encode("service_centre", self.service_centre)
        line = (self.baud, self.parity, self.data_bits, self.stop_bits, self.flow_control, centre)
        if self.port is not None:
            started = self._lib.SMSStartService(self.port, *line)
        else:
            started = self._lib.SMSStartServiceEx(os.fsencode(self.device or ""), *line)
        if started != 1:
            raise self._fail()

    def stop(self) -> None:
        """Stops the service after the modem dialogue in progress. Reports and received
        messages can still be taken afterwards, and must be: the library has already deleted
        from the module every message it took (see messages())."""
        self._lib.SMSStopSerice()

    @property
    def running(self) -> bool:
        return bool(self._lib.SMSSeviceStarted() != 0)

    def __enter__(self) -> "Service":
        self.start()
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.stop()

    def module(self) -> Tuple[int, str]:
        """The module's family (666, 870, 860, 865) once the worker has initialised it, else 0,
        and the model text it answered at the start (upper-cased; "" when unknown). After
        start() a host that waits for the module to be ready polls this until the family is not
        0, or until ``running`` is False: the initialisation failed (``last_error_code``)."""
        if not hasattr(self._lib, "SMSGetModuleInfo"):
            return (0, "")
        buffer = ctypes.create_string_buffer(64)
        family = int(self._lib.SMSGetModuleInfo(buffer, len(buffer)))
        return (family, buffer.value.decode("ascii", errors="replace"))

    # --- sending -----------------------------------------------------------------------------

    def send(self, text: str, number: str) -> int:
        """Queues a message and returns its id; raises NotRunning, or InvalidArgument (empty or
        too long, forbidden characters), when the library refuses it."""
        message_id = self._lib.SMSSendMessage(
            self._encode("text", text), self._encode("number", number)
        )
        if message_id < 0:
            raise self._fail()
        return int(message_id)

    def query(self, message_id: int) -> Optional[bool]:
        """True when the module confirmed the message, False when it failed, None while it is
        not finished (or the id is unknown)."""
        return _tri_state(self._lib.SMSQuery(message_id))

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

    # --- options and delivery reports --------------------------------------------------------

    def set_option(self, name: str, value: int) -> None:
        """Sets one of the library's options: "long-messages" (0 or 1: texts beyond one SMS go
        as long messages, received parts are joined), "delivery-reports" (0 or 1: messages sent
        from now on ask for a delivery report, see query_delivery()), "reassembly-seconds" (1
        to 604800: how long received parts wait for a missing one). They hold for every
        Service on this library file until the process ends, across stop and start.

        Raises ValueError when the library does not take it: an unknown name, a value out of
        range, or long-messages or delivery-reports switched on while the service runs on a
        CDMA module, which cannot honour them (set before start(), they are left unused
        there). NotImplementedError when this build of the library has no options."""
        if not hasattr(self._lib, "SMSSetOption"):
            raise NotImplementedError("this build of the library has no SMSSetOption")
        raw = self._encode("the option name", name)
        if isinstance(value, bool):
            value = int(value)
        if not isinstance(value, int) or not -0x80000000 <= value <= 0x7FFFFFFF:
            raise ValueError("the value of %s must be a 32-bit integer" % name)
        if self._lib.SMSSetOption(raw, value) != 1:
            raise ValueError(
                "the library did not take %s = %d: an unknown option, a value out of range, or "
                "an option the module cannot honour (long messages and delivery reports are "
                "for GSM modules)" % (name, value))

    def query_delivery(self, message_id: int) -> Optional[bool]:
        """Whether a message reached the handset, by the network's delivery reports: True
        delivered (every part of a long message), False failed or expired (or never sent),
        None not known: no report yet, only "still trying" ones, the message did not ask for
        one (delivery_reports was off when it was sent), or an id of another start. A report
        may take minutes or days, or never come. Raises NotImplementedError when this build
        of the library cannot tell."""
        if not hasattr(self._lib, "SMSQueryDelivery"):
            raise NotImplementedError("this build of the library has no SMSQueryDelivery")
        return _tri_state(self._lib.SMSQueryDelivery(message_id))

    def _delivery_settled(self, message_id: int, deadline: float) -> Tuple[bool, Optional[bool]]:
        # Whether waiting longer is of no use, and the delivery as it stands. Reports are read
        # by the worker only, and match nothing after a new start: once the service is not
        # running, nothing more can come.
        outcome = self.query_delivery(message_id)
        if outcome is not None:
            return True, outcome
        if not self.running:
            return True, self.query_delivery(message_id)
        return time.monotonic() >= deadline, outcome

    def wait_for_delivery(self, message_id: int, timeout: float) -> Optional[bool]:
        """Waits up to ``timeout`` seconds for a message's delivery report: query_delivery()
        once it tells, else None (also when the service stopped first)."""
        deadline = time.monotonic() + timeout
        done, outcome = self._delivery_settled(message_id, deadline)
        while not done:
            time.sleep(POLL_INTERVAL)
            done, outcome = self._delivery_settled(message_id, deadline)
        return outcome

    async def delivery_async(self, message_id: int, timeout: float = 60.0) -> Optional[bool]:
        """wait_for_delivery() for asyncio: waits with asyncio.sleep, so the event loop goes
        on meanwhile."""
        deadline = time.monotonic() + timeout
        done, outcome = self._delivery_settled(message_id, deadline)
        while not done:
            await asyncio.sleep(POLL_INTERVAL)
            done, outcome = self._delivery_settled(message_id, deadline)
        return outcome

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

    def _take_message(self) -> Optional[Message]:
        buffer = ctypes.create_string_buffer(MESSAGE_SIZE)
        if self._lib.SMSGetNextMessage(buffer) != 1:
            return None
        raw = buffer.raw
        timestamp = _field(raw, MESSAGE_TIMESTAMP, self._codeset)
        return Message(
            text=_field(raw, MESSAGE_TEXT, self._codeset),
            sender=_field(raw, MESSAGE_SENDER, self._codeset),
            timestamp=timestamp,
            time=parse_time(timestamp),
        )

    def messages(self) -> Iterator[Message]:
        """Takes the waiting received messages, oldest first, until none is left. Call it after
        stop() as well: the library deletes each message from the module as it takes it, so a
        message it took before the stop is nowhere else."""
        while True:
            message = self._take_message()
            if message is None:
                return
            yield message

    def incoming(self, timeout: Optional[float] = None) -> Iterator[Message]:
        """Yields each received message as the worker takes it from the module, without the
        host polling. With a timeout, ends once nothing has come for that many seconds, counted
        from the end of the first reading of the module's store that began after the call (so
        what the module held at the call is never missed); without one, runs until the service
        stops. Once the service is not running it yields what the library still holds and
        ends; after a stop() from another thread, take the rest with messages()."""
        watch = _IncomingWatch(self, timeout)
        while True:
            yield from watch.available()
            if watch.finished():
                return
            time.sleep(POLL_INTERVAL)

    async def incoming_async(self, timeout: Optional[float] = None) -> AsyncIterator[Message]:
        """incoming() for asyncio: ``async for message in service.incoming_async(...)``; it
        waits with asyncio.sleep, so the event loop goes on meanwhile."""
        watch = _IncomingWatch(self, timeout)
        while True:
            for message in watch.available():
                yield message
            if watch.finished():
                return
            await asyncio.sleep(POLL_INTERVAL)

    async def send_async(self, text: str, number: str, timeout: float = 60.0) -> Optional[bool]:
        """Queues a message and waits for its outcome without blocking the event loop: True when
        the module confirmed it, None when no outcome came within ``timeout`` seconds (or the
        service stopped first). Raises MessageRejected when it was not sent: with the library's
        code and text when it has one (too long for the module, a mode the module refused), code
        0 when the module or the network refused it; and what send() raises."""
        code_before = self.last_error_code
        message_id = self.send(text, number)
        deadline = time.monotonic() + timeout
        outcome = self.query(message_id)
        while outcome is None and self.running and time.monotonic() < deadline:
            await asyncio.sleep(POLL_INTERVAL)
            outcome = self.query(message_id)
        if outcome is None and not self.running:
            outcome = self.query(message_id)
        if outcome is False:
            raise self._rejection(code_before)
        return outcome

    def _rejection(self, code_before: int) -> MessageRejected:
        # A message the worker failed itself leaves a text of its own: one of the sending texts,
        # or (in PDU mode) a number or service centre it cannot encode. A module or network that
        # refused it leaves none, and the text is still the one from before the send.
        code = self.last_error_code
        kind = error_kind(code)
        if kind == "message" or (code != code_before and kind == "invalid-argument"):
            error = error_for(code, self.last_error, self.device_name)
            return MessageRejected(error.text, error.code, str(error))
        return MessageRejected("", 0, "the module refused the message (check the number, the "
                                      "SIM's credit and the service centre)")

    def _receive_polls(self) -> Optional[int]:
        if not hasattr(self._lib, "SMSGetReceivePolls"):
            return None
        return int(self._lib.SMSGetReceivePolls())

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


class _IncomingWatch:
    """When incoming() has a message to hand out, and when it is done."""

    def __init__(self, service: Service, timeout: Optional[float]) -> None:
        self._service = service
        self._timeout = timeout
        self._polls_at_call = service._receive_polls()
        # The quiet time begins at the end of the first reading of the store begun after the
        # call (with a library that cannot tell, at the call), or at a later message.
        self._read_after_call = self._polls_at_call is None
        self._quiet_since = time.monotonic()
        self._stopped_seen = False

    def available(self) -> Iterator[Message]:
        """The messages waiting now, taken one at a time as the caller asks for them."""
        while True:
            message = self._service._take_message()
            if message is None:
                return
            self._quiet_since = time.monotonic()
            yield message

    def finished(self) -> bool:
        """Asked when no message waits."""
        if not self._service.running:
            # The worker may have queued a last message after the queue was found empty: one
            # more look before the end.
            done = self._stopped_seen
            self._stopped_seen = True
            return done
        now = time.monotonic()
        if not self._read_after_call:
            # A reading in progress at the call may have missed what was stored just before
            # it; the one after it began after the call.
            polls = self._service._receive_polls()
            if polls is None or self._polls_at_call is None or polls - self._polls_at_call < 2:
                return False
            self._read_after_call = True
            self._quiet_since = now
        return self._timeout is not None and now - self._quiet_since >= self._timeout
