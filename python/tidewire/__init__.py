"""Send and receive SMS through a GSM or CDMA modem with the Tidewire library, from Python.

The package loads ``libtidewire.so.MAJOR`` with ctypes and wraps its exports::

    import tidewire

    with tidewire.Service(device="/dev/ttyUSB0") as sms:
        message_id = sms.send("hello", "8613912345678")
        sms.wait_for(message_id, timeout=60)
        for report in sms.reports():
            print(report.id, report.number, report.text)
        for message in sms.incoming(timeout=5):
            print(message.sender, message.time, message.text)
    # The library took these from the module before the stop: they are nowhere else now.
    for message in sms.messages():
        print(message.sender, message.time, message.text)
"""

from ._errors import (
    AlreadyRunning,
    InitialisationFailed,
    InvalidArgument,
    MessageRejected,
    NoAnswer,
    NoSim,
    NotRunning,
    PortError,
    TidewireError,
    UnknownModule,
)
from ._library import DEFAULT_LIBRARY, host_codeset, load_library
from ._service import FlowControl, Message, Parity, Report, Service, StopBits, parse_time
from ._version import package_version

__version__ = package_version()

__all__ = [
    "AlreadyRunning",
    "DEFAULT_LIBRARY",
    "FlowControl",
    "InitialisationFailed",
    "InvalidArgument",
    "Message",
    "MessageRejected",
    "NoAnswer",
    "NoSim",
    "NotRunning",
    "Parity",
    "PortError",
    "Report",
    "Service",
    "StopBits",
    "TidewireError",
    "UnknownModule",
    "host_codeset",
    "load_library",
    "parse_time",
]
