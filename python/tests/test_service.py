"""The tidewire package against the simulated modem (tidewire-modemsim on a pty).

Needs TIDEWIRE_LIBRARY (the current edition's libtidewire.so) and TIDEWIRE_MODEMSIM (the
tidewire-modemsim program); ctest sets both.
"""

import asyncio
import os
import re
import shutil
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest
from datetime import datetime

import tidewire

DEADLINE = 30.0  # seconds; a module answers within a second, so this only bounds a fault
POLL = 0.05


def required_env(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError("set %s (ctest does) to run these tests" % name)
    return value


def wait_until(condition, what, deadline=DEADLINE):
    end = time.monotonic() + deadline
    polls = 0
    while True:
        result = condition()
        if result:
            return result
        polls += 1
        if time.monotonic() >= end:
            raise AssertionError("gave up after %d polls waiting for %s" % (polls, what))
        time.sleep(POLL)


class Simulator:
    """tidewire-modemsim in the background, steered through its control FIFO."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="tidewire-py-")
        self.link = os.path.join(self.dir, "modem")
        self.control = os.path.join(self.dir, "ctl")
        self.out_path = os.path.join(self.dir, "sim.out")
        self._out = open(self.out_path, "wb")
        self.process = subprocess.Popen(
            [required_env("TIDEWIRE_MODEMSIM"), "--link", self.link, "--control", self.control],
            stdin=subprocess.DEVNULL,
            stdout=self._out,
            stderr=subprocess.STDOUT,
        )
        try:
            wait_until(lambda: "link: " in self.output() and os.path.exists(self.control),
                       "the simulator to come up")
        except Exception:
            self.close()
            raise

    def output(self):
        with open(self.out_path, "rb") as out:
            return out.read().decode("utf-8", errors="replace")

    def command(self, line):
        if self.process.poll() is not None:
            raise AssertionError("the simulator has ended:\n" + self.output())
        # Non-blocking: a FIFO nobody reads would otherwise hang the test.
        fd = os.open(self.control, os.O_WRONLY | os.O_NONBLOCK)
        try:
            os.write(fd, (line + "\n").encode("utf-8"))
        finally:
            os.close(fd)

    def inject(self, line):
        """Stores a message in the module, and waits until it has."""
        mark = len(self.output())
        self.command(line)
        wait_until(lambda: "stored at" in self.output()[mark:], "the injected message")

    def sent(self, count):
        """The simulator's lines for what the host sent, once there are ``count`` of them."""

        def listing():
            mark = len(self.output())
            self.command("sent")
            wait_until(lambda: "sent: " in self.output()[mark:], "the sent listing")
            lines = [line for line in self.output()[mark:].splitlines() if " to=" in line]
            return lines if len(lines) >= count else None

        return wait_until(listing, "%d sent messages" % count)

    def close(self):
        if self.process.poll() is None:
            try:
                self.command("quit")
                self.process.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self.process.terminate()
                self.process.wait(timeout=10)
        self._out.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class ServiceWithModemTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator()

    @classmethod
    def tearDownClass(cls):
        cls.sim.close()

    def setUp(self):
        self.service = tidewire.Service(
            device=self.sim.link, library=required_env("TIDEWIRE_LIBRARY"),
            parity=tidewire.Parity.NONE, stop_bits=tidewire.StopBits.ONE,
            flow_control=tidewire.FlowControl.NONE)
        self.service.start()
        self.addCleanup(self.service.stop)
        # Records left from an earlier test belong to it.
        list(self.service.reports())
        list(self.service.messages())

    def test_send_ascii_and_chinese_reports_outcomes_and_records(self):
        service = self.service
        self.assertTrue(service.running)
        ascii_id = service.send("Tidewire hello 1", "8613912345678")
        chinese_id = service.send("你好，潮汐线", "13800138000")
        self.assertEqual(chinese_id, ascii_id + 1)
        self.assertIs(service.wait_for(ascii_id, DEADLINE), True)
        self.assertIs(service.wait_for(chinese_id, DEADLINE), True)
        self.assertIs(service.query(chinese_id), True)

        reports = wait_until(lambda: list(service.reports()) or None, "the reports")
        if len(reports) < 2:
            reports += wait_until(lambda: list(service.reports()) or None, "the second report")
        self.assertEqual(
            reports,
            [
                tidewire.Report(ascii_id, "Tidewire hello 1", "13912345678"),
                tidewire.Report(chinese_id, "你好，潮汐线", "13800138000"),
            ],
        )
        self.assertEqual(list(service.reports()), [])

        # What reached the module, decoded by the simulator's own code.
        sent = "\n".join(self.sim.sent(2))
        self.assertIn('to=8613912345678 mode=text mr=', sent)
        self.assertIn('text="Tidewire hello 1"', sent)
        self.assertIn('text="你好，潮汐线"', sent)

    def test_injected_message_is_received_with_its_fields(self):
        self.sim.command("inject +8613912345678 收到了吗？Yes 😀")
        self.sim.command("inject-alpha Tidewire plain text")
        messages = []
        wait_until(lambda: messages.extend(self.service.messages()) or len(messages) >= 2,
                   "two received messages")
        first, second = messages
        self.assertEqual(first.text, "收到了吗？Yes 😀")
        self.assertEqual(first.sender, "8613912345678")
        self.assertEqual(first.time, datetime.strptime(first.timestamp, "%Y-%m-%d %H:%M:%S"))
        self.assertEqual((second.text, second.sender), ("plain text", "Tidewire"))
        self.assertEqual(list(self.service.messages()), [])

    def test_refused_sends_raise_with_the_library_text(self):
        service = self.service
        cases = [
            ("", "13800138000", "发送的内容大于255或小于等于0", 10),
            ("x" * 256, "13800138000", "发送的内容大于255或小于等于0", 10),
            ("hi", "", "发送的手机号码大于31或小于等于0", 11),
            ("hi", "138,AT+CMGD=1", "发送的手机号码含有非法字符", 12),
            ("hi\x1aAT", "13800138000", "发送的内容含有非法控制字符", 13),
        ]
        for text, number, error, code in cases:
            with self.subTest(text=text[:10], number=number):
                with self.assertRaises(tidewire.InvalidArgument) as raised:
                    service.send(text, number)
                self.assertEqual((raised.exception.code, raised.exception.text), (code, error))
                self.assertRegex(str(raised.exception), r"^[ -~]+\([ -~]+\)$")  # English, advice
                self.assertEqual(service.last_error, error)
                self.assertEqual(service.last_error_code, code)
        # 85 Chinese characters are 255 UTF-8 bytes: the library counts bytes, not characters.
        self.assertGreaterEqual(service.send("汉" * 85, "13800138000"), 0)
        with self.assertRaises(tidewire.TidewireError):
            service.send("汉" * 86, "13800138000")
        self.assertTrue(service.running)

    def test_module_tells_family_and_model_once_initialised(self):
        family, model = wait_until(lambda: self.service.module()[0] and self.service.module(),
                                   "the initialised module")
        self.assertEqual(family, 666)
        self.assertIn("GSM", model)

    def test_incoming_yields_what_the_module_held_and_ends_when_quiet(self):
        self.sim.inject("inject +8613912345678 held before the call")
        began = time.monotonic()
        texts = [message.text for message in self.service.incoming(timeout=1)]
        self.assertEqual(texts, ["held before the call"])
        self.assertLess(time.monotonic() - began, DEADLINE)

    def test_asyncio_sends_receives_and_raises_a_refusal(self):
        service = self.service

        async def host():
            sent = await service.send_async("async hello", "13800138000", timeout=DEADLINE)
            self.sim.inject("inject +8613912345678 async reply")
            replies = [message.text async for message in service.incoming_async(timeout=1)]
            self.sim.command("fault send-fail on")
            try:
                await service.send_async("refused", "13800138000", timeout=DEADLINE)
                rejected = None
            except tidewire.MessageRejected as error:
                rejected = error
            finally:
                self.sim.command("fault send-fail off")
            return sent, replies, rejected

        sent, replies, rejected = asyncio.run(host())
        self.assertIs(sent, True)
        self.assertEqual(replies, ["async reply"])
        self.assertIsNotNone(rejected)
        self.assertEqual((rejected.code, rejected.text), (0, ""))
        self.assertIn("refused the message", str(rejected))

    def test_long_message_with_delivery_report_is_told_delivered(self):
        # The options belong to the library file, which every test here shares: off afterwards.
        self.service.stop()
        sms = tidewire.Service(device=self.sim.link, library=required_env("TIDEWIRE_LIBRARY"),
                               long_messages=True, delivery_reports=True)
        self.addCleanup(sms.set_option, "long-messages", 0)
        self.addCleanup(sms.set_option, "delivery-reports", 0)
        # The report comes well after the module's OK: the wait must be for the report.
        self.sim.command("report-delay 700")
        self.addCleanup(self.sim.command, "report-delay 0")

        async def host():
            with sms:
                message_id = sms.send("Grüße aus München! " * 10, "8613912345678")
                self.assertIs(sms.wait_for(message_id, DEADLINE), True)
                return await sms.delivery_async(message_id, timeout=DEADLINE)

        self.assertIs(asyncio.run(host()), True)
        parts = re.findall(r"part=\d/2 ref=\d+ report=requested", "\n".join(self.sim.sent(2)))
        self.assertEqual(len(parts), 2, self.sim.output()[-2000:])

    def test_nul_in_text_is_refused_before_the_library_would_cut_it(self):
        with self.assertRaises(ValueError):
            self.service.send("first part\0lost part", "13800138000")
        with self.assertRaises(ValueError):
            self.service.send("hi", "138\0" + "00138000")
        with self.assertRaises(TypeError):
            self.service.send(b"bytes", "13800138000")

    def test_unknown_id_is_unfinished(self):
        self.assertIsNone(self.service.query(99999))
        self.assertIsNone(self.service.query(-5))

    def test_second_start_is_refused_while_running(self):
        other = tidewire.Service(device=self.sim.link, library=required_env("TIDEWIRE_LIBRARY"))
        with self.assertRaises(tidewire.AlreadyRunning) as raised:
            other.start()
        self.assertEqual(raised.exception.text, "服务已经启动(或还没有停止成功)，不能再次启动")
        self.assertTrue(self.service.running)

    def test_trace_file_records_the_dialogue_until_turned_off(self):
        service = self.service
        if not service.can_trace:
            self.skipTest("this library has no SMSSetTraceFile")
        trace = os.path.join(self.sim.dir, "trace.txt")
        service.set_trace_file(trace)
        self.addCleanup(service.set_trace_file, None)
        message_id = service.send("traced", "13800138000")
        self.assertIs(service.wait_for(message_id, DEADLINE), True)
        service.set_trace_file(None)
        with open(trace, "rb") as recorded:
            lines = recorded.read().decode("ascii").splitlines()
        self.assertTrue(any(re.search(r" > .*AT\+CMGS", line) for line in lines), lines)
        self.assertTrue(any(" < " in line and "OK" in line for line in lines), lines)
        # Off: more traffic leaves the file as it was.
        size = os.path.getsize(trace)
        self.assertIs(service.wait_for(service.send("untraced", "13800138000"), DEADLINE), True)
        self.assertEqual(os.path.getsize(trace), size)
        with self.assertRaises(tidewire.TidewireError):
            service.set_trace_file(os.path.join(self.sim.dir, "no-such-dir", "trace.txt"))


class ServiceWithoutModemTest(unittest.TestCase):
    def make(self, **kwargs):
        kwargs.setdefault("library", required_env("TIDEWIRE_LIBRARY"))
        return tidewire.Service(**kwargs)

    def test_missing_device_raises_port_error_naming_it(self):
        service = self.make(device="/nonexistent/tidewire-tty")
        with self.assertRaises(tidewire.PortError) as raised:
            with service:
                self.fail("the block must not run when the start failed")
        reason = os.strerror(2)  # ENOENT, in this process's locale, as the library words it
        self.assertEqual(raised.exception.code, 2)
        self.assertEqual(raised.exception.text, "串口打开错误" + reason)
        self.assertEqual(
            str(raised.exception),
            "cannot open /nonexistent/tidewire-tty: %s (is the device name right, and the "
            "modem plugged in?)" % reason)
        self.assertFalse(service.running)

    def test_send_before_start_is_refused(self):
        service = self.make(device="/nonexistent/tidewire-tty")
        with self.assertRaises(tidewire.NotRunning) as raised:
            service.send("hello", "13800138000")
        self.assertEqual((raised.exception.code, raised.exception.text), (9, "服务器未启动"))
        # Not started: nothing can finish, so waiting returns at once instead of at the timeout.
        began = time.monotonic()
        self.assertIsNone(service.wait_for(0, timeout=60))
        self.assertLess(time.monotonic() - began, 30)

    def test_bad_arguments_are_refused_before_the_library_sees_them(self):
        for kwargs in (
            {},
            {"device": "/dev/null", "port": 1},
            {"device": ""},
            {"port": 0},
            {"device": "/dev/null", "data_bits": 264},  # would wrap to 8 in a uint8_t
            {"device": "/dev/null", "baud": -9600},
            {"device": "/dev/null", "parity": 1 << 40},
        ):
            with self.subTest(**{k: str(v) for k, v in kwargs.items()}):
                with self.assertRaises(ValueError):
                    self.make(**kwargs)

    def test_missing_library_names_where_it_looked(self):
        with self.assertRaises(OSError) as raised:
            tidewire.Service(device="/dev/null", library="/nonexistent/libtidewire.so")
        self.assertIn("TIDEWIRE_LIBRARY", str(raised.exception))

    def test_trace_file_only_when_the_library_has_it(self):
        service = self.make(device="/nonexistent/tidewire-tty")
        if service.can_trace:
            self.skipTest("this library exports SMSSetTraceFile; its own tests cover it")
        with self.assertRaises(NotImplementedError):
            service.set_trace_file("/tmp/trace.txt")


# The library converts texts in the locale's codeset; a GBK host must get GBK bytes both ways.
GBK_CHILD = textwrap.dedent(
    """
    import locale, os, sys, time, tidewire
    if locale.nl_langinfo(locale.CODESET).upper() != "GBK":
        sys.exit(77)
    with tidewire.Service(device=sys.argv[1]) as service:
        assert service.codeset == "gbk", service.codeset
        message_id = service.send("你好，GBK", "8613912345678")
        assert service.wait_for(message_id, 30) is True
        print("report", list(service.reports()))
        sys.stdout.flush()
        sys.stdin.readline()  # the parent injects a message now
        end = time.monotonic() + 30
        messages = []
        while not messages and time.monotonic() < end:
            messages = list(service.messages())
            time.sleep(0.05)
        print("received", messages)
    """
)


class GbkLocaleTest(unittest.TestCase):
    def test_texts_cross_in_gbk(self):
        sim = Simulator()
        self.addCleanup(sim.close)
        # A file, not "-c": in a GBK locale the command line would be read as GBK.
        script = os.path.join(sim.dir, "gbk_host.py")
        with open(script, "w", encoding="utf-8") as out:
            out.write(GBK_CHILD)
        package_root = os.path.dirname(os.path.dirname(os.path.abspath(tidewire.__file__)))
        env = dict(os.environ, LC_ALL="zh_CN.GBK", PYTHONIOENCODING="utf-8",
                   PYTHONPATH=package_root)
        child = subprocess.Popen(
            [sys.executable, script, sim.link],
            env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        )

        def end_child():
            if child.poll() is None:
                child.kill()
            child.wait(timeout=DEADLINE)
            for pipe in (child.stdin, child.stdout, child.stderr):
                pipe.close()

        self.addCleanup(end_child)
        first = child.stdout.readline().decode("utf-8")
        if not first and child.wait(timeout=DEADLINE) == 77:
            self.skipTest("the zh_CN.GBK locale is not installed (make deps-test installs it)")
        self.assertEqual(
            first.strip(), "report [Report(id=0, text='你好，GBK', number='13912345678')]",
            child.stderr.read().decode("utf-8", "replace") if not first else "")
        sim.command("inject +8613912345678 来自GBK的回信")
        out, err = child.communicate(b"\n", timeout=DEADLINE * 2)
        self.assertEqual(child.returncode, 0, err.decode("utf-8", "replace"))
        self.assertRegex(out.decode("utf-8"),
                         r"received \[Message\(text='来自GBK的回信', sender='8613912345678'")
        self.assertIn('text="你好，GBK"', "\n".join(sim.sent(1)))


if __name__ == "__main__":
    unittest.main()
