#!/usr/bin/python3
"""Black-box tests of the service host: the real program, started as a process with a
temporary --data-root, a free --port and a temporary --unit-dir.

Usage: host_service_test.py PROGRAM [unittest arguments, e.g. -k StartAndStop]
"""

import html
import os
import re
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import unittest

PROGRAM = None

# Every wait is bounded; none of them decides a result by timing.
START_TIMEOUT = 30.0
EXIT_TIMEOUT = 60.0
CLIENT_THREADS = 32
CALLS_PER_CLIENT = 200
ITEMS_PER_CALL = 50  # enough work per command that the stop meets commands holding the lock
HTTP_TIMEOUT = 30.0

SUCCESS_ENTRY = "dct_korvelmobile: information, event 1: Служба успешно запущена"
NO_ENGINE_ENTRY = ("dct_korvelmobile: error, event 1: "
                   "Ошибка запуска службы: Библиотека не найдена")
START_EXCEPTION_ENTRY = "dct_korvelmobile: error, event 0: Service failed on start: "
NO_LOG_FOLDER_ENTRY = ("dct_korvelmobile: error, event 2: No log folder: neither the machine-wide "
                       "nor the per-user data folder can be used")
DISPLAY_NAME = "Korvel mobile DCT service"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


def port_open(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=5):
            return True
    except OSError:
        return False


def child_environment():
    env = dict(os.environ)
    # Run by hand: the entries go to standard error, not to a journal.
    env.pop("JOURNAL_STREAM", None)
    env.pop("NOTIFY_SOCKET", None)
    return env


class Program:
    """One run of the program; its standard error is collected line by line."""

    def __init__(self, args, env=None, cwd=None):
        self.lines = []
        self.cond = threading.Condition()
        self.proc = subprocess.Popen([PROGRAM] + args, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env or child_environment(),
                                     cwd=cwd)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stderr:
            with self.cond:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self.cond.notify_all()
        with self.cond:
            self.lines.append(None)  # end of output
            self.cond.notify_all()

    def wait_for_line(self, prefix, timeout=START_TIMEOUT):
        """The first stderr line starting with prefix, or None when the output ended."""
        deadline = time.monotonic() + timeout
        with self.cond:
            seen = 0
            while True:
                while seen < len(self.lines):
                    line = self.lines[seen]
                    seen += 1
                    if line is None:
                        return None
                    if line.startswith(prefix):
                        return line
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError("no line %r within %ss; stderr so far: %r"
                                         % (prefix, timeout, self.lines))
                self.cond.wait(left)

    def finish(self, timeout=EXIT_TIMEOUT):
        """Exit status and the whole of standard error and standard output."""
        try:
            out = self.proc.stdout.read()
            code = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise
        self.reader.join(timeout)
        self.proc.stdout.close()
        self.proc.stderr.close()
        with self.cond:
            err = [line for line in self.lines if line is not None]
        return code, err, out.decode("utf-8", "replace")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.reader.join(EXIT_TIMEOUT)
        for stream in (self.proc.stdout, self.proc.stderr):
            stream.close()


def value_text(elements):
    return '<?xml version="1.0" encoding="UTF-8"?><sa>%s</sa>' % "".join(elements)


def item_table(barcodes):
    return '<elm t="A" r="%d" c="11">%s</elm>' % (
        len(barcodes), "".join(item_cells(b) for b in barcodes))


def item_cells(barcode):
    cells = ['<elm t="S">%s</elm>' % barcode, '<elm t="S">Item %s</elm>' % barcode,
             '<elm t="S">pc</elm>', '<elm t="S"></elm>', '<elm t="S"></elm>',
             '<elm t="S"></elm>', '<elm t="N">12.5</elm>', '<elm t="N">3</elm>',
             '<elm t="B">False</elm>', '<elm t="B">False</elm>', '<elm t="B">False</elm>']
    return "".join(cells)


def execute_command(port, command, input_text):
    """(return, ResultCode) of one ExecuteCommand call; raises OSError when the server is
    not there or drops the connection."""
    body = ('<?xml version="1.0" encoding="UTF-8"?>'
            '<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" '
            'xmlns:ns1="urn:uSvcIntf-IMobileDCT" '
            'SOAP-ENV:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/">'
            '<SOAP-ENV:Body><ns1:ExecuteCommand><DeviceID>0</DeviceID>'
            '<CommandName>%s</CommandName><InputParameters>%s</InputParameters>'
            '</ns1:ExecuteCommand></SOAP-ENV:Body></SOAP-ENV:Envelope>'
            % (command, html.escape(input_text, quote=False))).encode("utf-8")
    request = (b"POST /soap/IMobileDCT HTTP/1.1\r\nHost: 127.0.0.1\r\n"
               b"Content-Type: text/xml; charset=utf-8\r\n"
               b"SOAPAction: \"urn:uSvcIntf-IMobileDCT#ExecuteCommand\"\r\n"
               b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(body)) + body
    with socket.create_connection(("127.0.0.1", port), timeout=HTTP_TIMEOUT) as s:
        s.sendall(request)
        answer = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            answer += chunk
    text = answer.decode("utf-8", "replace")
    ok = re.search(r"<return[^>]*>(true|false)</return>", text)
    code = re.search(r"<ResultCode[^>]*>(-?\d+)</ResultCode>", text)
    if not ok or not code:
        raise OSError("not an ExecuteCommand answer: %r" % text[:300])
    return ok.group(1) == "true", int(code.group(1))


class HostTestCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="host_service_")
        self.data_root = os.path.join(self.tmp, "data")
        self.unit_dir = os.path.join(self.tmp, "units")
        os.makedirs(self.data_root)
        os.makedirs(self.unit_dir)
        self.port = free_port()
        self.programs = []

    def tearDown(self):
        for p in self.programs:
            p.kill()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start(self, *extra, env=None, cwd=None):
        p = Program(["--port", str(self.port), "--data-root", self.data_root,
                     "--unit-dir", self.unit_dir] + list(extra), env=env, cwd=cwd)
        self.programs.append(p)
        return p

    def database(self):
        return os.path.join(self.data_root, "dct_korvelmobile", "DataBuffer", "0.db")


class StartAndStop(HostTestCase):
    def test_good_start_serves_until_the_stop_signal(self):
        for stop in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=stop.name):
                p = self.start()
                self.assertEqual(p.wait_for_line("dct_korvelmobile:"), SUCCESS_ENTRY)
                self.assertTrue(port_open(self.port))
                self.assertEqual(execute_command(self.port, "Echo", value_text(
                    ['<elm t="S">ping</elm>'])), (True, 0))
                self.assertTrue(os.path.isdir(
                    os.path.join(self.data_root, "ZeltEquipment", "LOGs")))
                self.assertTrue(os.path.isfile(self.database()))
                p.proc.send_signal(stop)
                code, err, _ = p.finish()
                self.assertEqual(code, 0, err)
                self.assertEqual(err.count(SUCCESS_ENTRY), 1, err)
                self.assertEqual([l for l in err if l.startswith("dct_korvelmobile:")],
                                 [SUCCESS_ENTRY])
                self.assertFalse(port_open(self.port))


class StopWithClientsInFlight(HostTestCase):
    def test_sigterm_during_commands_ends_cleanly_and_keeps_every_answered_write(self):
        p = self.start()
        self.assertEqual(p.wait_for_line("dct_korvelmobile:"), SUCCESS_ENTRY)
        acked = [[] for _ in range(CLIENT_THREADS)]
        unexpected = []
        first_answers = threading.Semaphore(0)

        def client(n):
            answered = False
            for i in range(CALLS_PER_CLIENT):
                barcodes = ["T%02d-%03d-%02d" % (n, i, k) for k in range(ITEMS_PER_CALL)]
                try:
                    ok, code = execute_command(self.port, "SaveItemsToBuff", value_text(
                        ['<elm t="N">1</elm>', item_table(barcodes)]))
                except OSError:
                    break  # the server has gone away
                if ok:
                    acked[n].extend(barcodes)
                elif code != 70:  # 70: the device was disabled under the call
                    unexpected.append((barcodes[0], code))
                if not answered:
                    answered = True
                    first_answers.release()
            if not answered:
                first_answers.release()

        threads = [threading.Thread(target=client, args=(n,)) for n in range(CLIENT_THREADS)]
        for t in threads:
            t.start()
        # Every client has had an answer and keeps calling: the stop meets running commands.
        for _ in range(CLIENT_THREADS):
            self.assertTrue(first_answers.acquire(timeout=START_TIMEOUT))
        p.proc.send_signal(signal.SIGTERM)
        code, err, _ = p.finish()
        for t in threads:
            t.join(EXIT_TIMEOUT)
            self.assertFalse(t.is_alive())

        self.assertEqual(code, 0, err)
        self.assertFalse(port_open(self.port))
        self.assertEqual(unexpected, [])
        answered = sorted(b for per_client in acked for b in per_client)
        self.assertGreaterEqual(len(answered), CLIENT_THREADS * ITEMS_PER_CALL)
        db = sqlite3.connect(self.database())
        try:
            self.assertEqual(db.execute("PRAGMA integrity_check").fetchall(), [("ok",)])
            stored = {row[0] for row in db.execute("SELECT barcode FROM items")}
        finally:
            db.close()
        self.assertEqual([b for b in answered if b not in stored], [])


class FailedStart(HostTestCase):
    def test_missing_engine_is_reported_and_nothing_listens(self):
        p = self.start("--sqlite-library", "/nonexistent/libsqlite3.so.0")
        code, err, _ = p.finish()
        self.assertNotEqual(code, 0)
        self.assertIn(NO_ENGINE_ENTRY, err)
        self.assertNotIn(SUCCESS_ENTRY, err)
        self.assertFalse(port_open(self.port))

    def test_no_data_folder_is_reported_and_nothing_is_made_in_the_working_folder(self):
        blocked = os.path.join(self.tmp, "file")
        with open(blocked, "w") as f:
            f.write("not a folder")
        env = child_environment()
        env["HOME"] = blocked
        env["XDG_DATA_HOME"] = os.path.join(blocked, "xdg")
        work = os.path.join(self.tmp, "work")
        os.makedirs(work)
        p = self.start("--data-root", blocked, env=env, cwd=work)
        code, err, _ = p.finish()
        self.assertNotEqual(code, 0)  # nor is there a folder for the data buffer
        self.assertIn(NO_LOG_FOLDER_ENTRY, err)
        self.assertEqual(os.listdir(work), [])

    def test_taken_port_is_reported_as_a_failed_start(self):
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as taken:
            taken.bind(("0.0.0.0", self.port))
            taken.listen(1)
            p = self.start()
            code, err, _ = p.finish()
        self.assertNotEqual(code, 0)
        entries = [l for l in err if l.startswith("dct_korvelmobile:")]
        self.assertEqual(len(entries), 1, err)
        self.assertTrue(entries[0].startswith(START_EXCEPTION_ENTRY), entries)
        self.assertGreater(len(entries[0]), len(START_EXCEPTION_ENTRY))  # the message
        self.assertFalse(port_open(self.port))


class InstallAndUninstall(HostTestCase):
    def run_switches(self, *switches):
        p = self.start(*switches)
        code, err, out = p.finish()
        return code, out, "\n".join(err)

    def unit_file(self):
        return os.path.join(self.unit_dir, "dct_korvelmobile.service")

    def test_install_install_again_uninstall_uninstall_again(self):
        self.assertEqual(self.run_switches("/INSTALL"),
                         (0, "Service installed successfully\n", ""))
        with open(self.unit_file(), encoding="utf-8") as f:
            unit = f.read()
        self.assertIn("\nExecStart=%s\n" % os.path.realpath(PROGRAM), unit)
        self.assertIn("\nDescription=%s\n" % DISPLAY_NAME, unit)
        self.assertIn("\nType=notify\n", unit)
        self.assertIn("\nWantedBy=multi-user.target\n", unit)

        code, out, err = self.run_switches("-install")
        self.assertEqual((code, out), (1, ""))
        self.assertRegex(err, r'^Service "Korvel mobile DCT service" failed to install with '
                              r'error: ".*already exists.*"$')
        with open(self.unit_file(), encoding="utf-8") as f:
            self.assertEqual(f.read(), unit)

        self.assertEqual(self.run_switches("/Uninstall"),
                         (0, "Service uninstalled successfully\n", ""))
        self.assertFalse(os.path.exists(self.unit_file()))

        code, out, err = self.run_switches("-UNINSTALL")
        self.assertEqual((code, out), (1, ""))
        self.assertRegex(err, r'^Service "Korvel mobile DCT service" failed to uninstall '
                              r'with error: ".+"$')

    def test_unit_names_the_program_in_a_folder_with_blanks_percent_and_dollar(self):
        folder = os.path.join(self.tmp, "a b%c$d")
        os.makedirs(folder)
        program = os.path.join(folder, os.path.basename(PROGRAM))
        shutil.copy2(PROGRAM, program)
        result = subprocess.run([program, "/INSTALL", "--unit-dir", self.unit_dir],
                                capture_output=True, text=True, timeout=START_TIMEOUT,
                                env=child_environment())
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.unit_file(), encoding="utf-8") as f:
            unit = f.read()
        path = os.path.realpath(program)
        self.assertIn('\nExecStart="%s"\n' % path.replace("%", "%%"), unit)
        analyze = shutil.which("systemd-analyze")
        if analyze is None:
            self.skipTest("systemd-analyze is not installed")
        # systemd's own reading of the unit: the executable must be the file just copied.
        verify = subprocess.run([analyze, "verify", self.unit_file()], capture_output=True,
                                text=True, timeout=60)
        self.assertNotIn("is not executable", verify.stderr + verify.stdout)
        self.assertEqual(verify.returncode, 0, verify.stderr)

    def test_silent_reports_only_failures(self):
        self.assertEqual(self.run_switches("/install", "/silent"), (0, "", ""))
        self.assertTrue(os.path.exists(self.unit_file()))
        code, out, err = self.run_switches("-SILENT", "-INSTALL")
        self.assertEqual((code, out), (1, ""))
        self.assertIn("failed to install", err)
        self.assertEqual(self.run_switches("/uninstall", "/Silent"), (0, "", ""))
        self.assertFalse(os.path.exists(self.unit_file()))


class CommandLine(HostTestCase):
    def test_bad_option_gives_a_message_and_status_2(self):
        for args in (["--port", "0"], ["--port"], ["--frobnicate"], ["/REMOVE"],
                     ["/install", "/uninstall"]):
            with self.subTest(args=args):
                p = Program(args)
                self.programs.append(p)
                code, err, out = p.finish()
                self.assertEqual(code, 2)
                self.assertEqual(out, "")
                self.assertTrue(err and err[0].startswith("dct_korvelmobilesvc: "), err)
        self.assertFalse(port_open(self.port))

    def test_help_lists_the_options(self):
        p = Program(["--help"])
        self.programs.append(p)
        code, err, out = p.finish()
        self.assertEqual((code, err), (0, []))
        for word in ("--port", "--data-root", "--sqlite-library", "--unit-dir", "INSTALL",
                     "UNINSTALL", "SILENT"):
            self.assertIn(word, out)


class UnderSystemd(HostTestCase):
    """systemd's side of Type=notify, played by a datagram socket of the test."""

    def test_ready_after_the_start_and_stopping_at_the_stop(self):
        path = os.path.join(self.tmp, "notify")
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as notify:
            notify.bind(path)
            notify.settimeout(START_TIMEOUT)
            env = child_environment()
            env["NOTIFY_SOCKET"] = path
            p = self.start(env=env)
            self.assertEqual(notify.recv(4096), b"READY=1")
            self.assertTrue(port_open(self.port))
            p.proc.send_signal(signal.SIGTERM)
            self.assertEqual(notify.recv(4096), b"STOPPING=1")
            code, err, _ = p.finish()
        self.assertEqual(code, 0, err)
        self.assertFalse(port_open(self.port))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    PROGRAM = sys.argv.pop(1)
    unittest.main(verbosity=2)
