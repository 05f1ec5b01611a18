"""Send and receive SMS through a GSM or CDMA modem with the Tidewire library, from Python.

The package loads ``libtidewire.so.MAJOR`` with ctypes and wraps its exports::

    import tidewire

    with tidewire.Service(device="/dev/ttyUSB0") as sms:
        message_id = sms.send("hello", "8613912345678")
        sms.wait_for(message_id, timeout=60)
        for report in sms.reports():
            print(report.id, report.number, report.text)
        for message in sms.messages():
            print(message.sender, message.timestamp, message.text)
"""

from ._library import DEFAULT_LIBRARY, host_codeset, load_library
from ._service import Message, Report, Service, TidewireError
from ._version import package_version

__version__ = package_version()

__all__ = [
    "DEFAULT_LIBRARY",
    "Message",
    "Report",
    "Service",
    "TidewireError",
    "host_codeset",
    "load_library",
]
