#!/usr/bin/python3
"""The Windows build's service switches under wine's service manager: /INSTALL registers the
service with its registry values, /UNINSTALL removes it and its event-log key, a second
install fails with the install-failure report, /SILENT keeps success quiet, and the installed
service starts from a folder whose path holds a space, answers on its port and stops through
the service manager. Under a Russian locale the reports are Cyrillic UTF-8 on a pipe. A
restart binds its port while connections of the last run linger, and a second program
cannot take the port while the first runs.

    service_manager_test.py PATH/TO/dct_korvelmobilesvc.exe     (WINEPREFIX from the caller)
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

WINE = os.environ.get("DCT_WINE", "/usr/lib/wine/wine64")
SERVICE = "dct_korvelmobile"
SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\dct_korvelmobile"
EVENTLOG_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\Eventlog\Application\dct_korvelmobile"
DESCRIPTION = "Сервер драйвера мобильных терминалов сбора данных Zelt-Korvel\""
EXE = None
# A folder of the wine prefix's C: drive whose path holds a space, as C:\Program Files does.
SPACED_DIR = "Program Files/dct test"
SPACED_EXE = r"C:\Program Files\dct test\dct_korvelmobilesvc.exe"
FIREWALL_WARNING = "firewall rule"
LOCALES = None  # LOCPATH holding ru_RU.UTF-8, made once


def russian_env():
    """The environment of a wine program on a Russian system (code pages 1251 and 866)."""
    global LOCALES
    if LOCALES is None:
        LOCALES = tempfile.mkdtemp(prefix="dct-locales.")
        r = subprocess.run(["localedef", "-i", "ru_RU", "-f", "UTF-8", os.path.join(LOCALES, "ru_RU.UTF-8")],
                           capture_output=True)
        if r.returncode not in (0, 1):  # 1: made, with warnings
            raise RuntimeError("cannot make the ru_RU.UTF-8 locale (Debian package locales): %r" % r.stderr)
    return dict(os.environ, LANG="ru_RU.UTF-8", LC_ALL="ru_RU.UTF-8", LOCPATH=LOCALES)


def wine(*args, timeout=120, env=None):
    r = subprocess.run([WINE] + list(args), capture_output=True, timeout=timeout, env=env)
    return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")


def wine_bytes(*args, timeout=120, env=None):
    r = subprocess.run([WINE] + list(args), capture_output=True, timeout=timeout, env=env)
    return r.returncode, r.stdout, r.stderr


def cyrillic(text):
    return any("\u0400" <= c <= "\u04ff" for c in text)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_answering(port, process, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and process.poll() is None:
        try:
            return urllib.request.urlopen("http://127.0.0.1:%d/wsdl/IMobileDCT" % port, timeout=5).read()
        except OSError:
            time.sleep(0.3)
    return None


def registry(key):
    """The values of a key as reg.exe exports them (UTF-16 text), or None without the key."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "key.reg")
        code, _, _ = wine("reg", "export", key, out, "/y")
        if code != 0 or not os.path.exists(out):
            return None
        with open(out, "rb") as f:
            return f.read().decode("utf-16")


def port_free(port):
    """Whether nothing listens on the port (a closed connection's TIME_WAIT does not count)."""
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


class ServiceManagerTest(unittest.TestCase):
    # Each test starts and ends with no service installed, whatever an earlier run left.
    def setUp(self):
        self.tearDown()

    def tearDown(self):
        wine("sc", "stop", SERVICE)
        wine(EXE, "/UNINSTALL", "/SILENT")

    def test_install_twice_then_uninstall(self):
        code, out, err = wine(EXE, "/INSTALL")
        self.assertEqual(code, 0, err)
        self.assertIn("Service installed successfully", out)

        code, out, _ = wine("sc", "query", SERVICE)
        self.assertEqual(code, 0)
        self.assertIn(SERVICE, out)
        service = registry(SERVICE_KEY)
        self.assertIsNotNone(service)
        self.assertIn('"Description"="%s"' % DESCRIPTION.replace('"', '\\"'), service)
        events = registry(EVENTLOG_KEY)
        self.assertIsNotNone(events)
        self.assertIn('"TypesSupported"=dword:00000007', events)
        self.assertIn('"EventMessageFile"=', events)
        self.assertIn("dct_korvelmobilesvc.exe", events)

        code, out, err = wine(EXE, "/INSTALL")
        self.assertNotEqual(code, 0)
        self.assertIn('Service "Korvel mobile DCT service" failed to install with error: "', out + err)

        code, out, err = wine(EXE, "/UNINSTALL")
        self.assertEqual(code, 0, err)
        self.assertIn("Service uninstalled successfully", out)
        self.assertNotEqual(wine("sc", "query", SERVICE)[0], 0)
        self.assertIsNone(registry(EVENTLOG_KEY))

    def test_silent_reports_failures_only(self):
        code, out, _ = wine(EXE, "/INSTALL", "/SILENT")
        self.assertEqual((code, out.strip()), (0, ""))
        code, out, _ = wine(EXE, "-uninstall", "-silent")
        self.assertEqual((code, out.strip()), (0, ""))
        code, out, err = wine(EXE, "/UNINSTALL", "/SILENT")  # nothing left to remove
        self.assertNotEqual(code, 0)
        self.assertIn("failed to uninstall", out + err)

    def test_install_failure_report_is_cyrillic_utf8_under_a_russian_locale(self):
        env = russian_env()
        self.assertEqual(wine_bytes(EXE, "/INSTALL", "/SILENT", env=env)[0], 0)
        code, out, err = wine_bytes(EXE, "/INSTALL", env=env)
        self.assertNotEqual(code, 0)
        report = (out + err).decode("utf-8")  # strict: bytes in the ANSI code page fail here
        prefix = 'Service "Korvel mobile DCT service" failed to install with error: "'
        self.assertIn(prefix, report)
        reason = report.split(prefix, 1)[1]
        print("\n  install failure under ru_RU: %s" % report.strip(), file=sys.stderr)
        self.assertTrue(cyrillic(reason), reason)
        self.assertNotIn("?", reason)

    def test_installed_service_starts_answers_and_stops(self):
        if not port_free(7211):
            self.skipTest("port 7211 is taken on this machine; the installed service listens there")
        # Installed from a folder whose path holds a space: the service manager must be given
        # the path quoted, and start the program from it.
        drive_c = os.path.join(os.environ["WINEPREFIX"], "drive_c")
        folder = os.path.join(drive_c, SPACED_DIR)
        os.makedirs(folder, exist_ok=True)
        for name in ("dct_korvelmobilesvc.exe", "sqlite3.dll"):
            shutil.copy(os.path.join(os.path.dirname(EXE), name), folder)
        code, out, err = wine(SPACED_EXE, "/INSTALL")
        self.assertEqual(code, 0, err)
        self.assertIn("Service installed successfully", out)
        self.assertNotIn(FIREWALL_WARNING, out + err)  # wine's firewall takes the rule
        image = registry(SERVICE_KEY)
        self.assertIn('"ImagePath"="\\"%s\\""' % SPACED_EXE.replace("\\", "\\\\"), image)
        # Wine's sc.exe may report failure for a start that succeeds (seen with a cold wine
        # server): the service's state and its port are what this test believes.
        wine("sc", "start", SERVICE)
        deadline = time.monotonic() + 60
        page = None
        while page is None and time.monotonic() < deadline:
            try:
                page = urllib.request.urlopen("http://127.0.0.1:7211/wsdl/IMobileDCT", timeout=5).read()
            except OSError:
                time.sleep(0.5)
        self.assertIsNotNone(page, "the started service did not answer on port 7211")
        self.assertIn(b"IMobileDCT", page)
        self.assertIn("RUNNING", wine("sc", "query", SERVICE)[1])
        code, out, err = wine("sc", "stop", SERVICE)
        self.assertEqual(code, 0, out + err)
        deadline = time.monotonic() + 60
        while not port_free(7211) and time.monotonic() < deadline:
            time.sleep(0.5)
        self.assertTrue(port_free(7211), "the stopped service still listens")
        code, out, err = wine(SPACED_EXE, "/UNINSTALL")
        self.assertEqual(code, 0, err)
        self.assertNotIn(FIREWALL_WARNING, out + err)


class ListenerTest(unittest.TestCase):
    """The exe run by hand (--console) on a free port, as the service runs."""

    def start(self, port, data, env=None, stderr=subprocess.DEVNULL):
        return subprocess.Popen([WINE, EXE, "--console", "--port", str(port), "--data-root", data],
                                stdout=subprocess.DEVNULL, stderr=stderr, env=env)

    def test_port_taken_entry_is_utf8_under_a_russian_locale(self):
        with socket.socket() as holder, tempfile.TemporaryDirectory() as data:
            holder.bind(("0.0.0.0", 0))
            holder.listen()
            port = holder.getsockname()[1]
            server = self.start(port, data, env=russian_env(), stderr=subprocess.PIPE)
            _, err = server.communicate(timeout=120)
        self.assertEqual(server.returncode, 1)
        text = err.decode("utf-8")  # strict
        print("\n  port taken under ru_RU: %s" % text.strip(), file=sys.stderr)
        self.assertIn("Service failed on start: Cannot listen for HTTP on port %d (bind): " % port, text)
        self.assertNotIn("\ufffd", text)

    def test_engine_file_that_cannot_load_fails_with_the_loaders_text_not_not_found(self):
        with tempfile.TemporaryDirectory() as data:
            junk = os.path.join(data, "sqlite3.dll")
            with open(junk, "wb") as f:
                f.write(b"MZ" + b"\0" * 64)  # the start of an executable, and nothing after it
            cases = [(junk, "Ошибка запуска службы: Cannot load the SQLite library "),
                     (os.path.join(data, "absent", "sqlite3.dll"), "Ошибка запуска службы: Библиотека не найдена")]
            for library, entry in cases:
                r = subprocess.run([WINE, EXE, "--console", "--port", str(free_port()), "--data-root", data,
                                    "--sqlite-library", library], capture_output=True, timeout=120)
                text = r.stderr.decode("utf-8")
                print("\n  %s: %s" % (os.path.basename(os.path.dirname(library)), text.strip()), file=sys.stderr)
                self.assertEqual(r.returncode, 1, text)
                self.assertIn("error, event 1: " + entry, text)

    # Wine binds past lingering connections whatever the options, so what this shows there
    # is that a restart binds and that a second program is refused with the options chosen
    # (SO_REUSEADDR would let it in); what Windows itself does with them is in
    # service/SocketOptions_windows.cpp.
    def test_restart_binds_while_connections_of_the_last_run_linger(self):
        port = free_port()
        with tempfile.TemporaryDirectory() as data:
            first = self.start(port, data)
            self.assertIsNotNone(wait_answering(port, first), "the first run did not answer")
            # Served and closed by the server: its side waits in TIME_WAIT.
            urllib.request.urlopen("http://127.0.0.1:%d/" % port, timeout=10).read()
            # A terminal that vanished mid-call: half a request, never finished or closed.
            lingering = socket.create_connection(("127.0.0.1", port), timeout=10)
            lingering.sendall(b"POST /soap/IMobileDCT HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n<a")
            # While it runs, a second program cannot take the port.
            second = self.start(port, data, stderr=subprocess.PIPE)
            _, err = second.communicate(timeout=120)
            self.assertEqual(second.returncode, 1)
            self.assertIn(b"Cannot listen for HTTP on port %d (bind)" % port, err)
            first.send_signal(signal.SIGINT)  # Ctrl+C, as wine hands it on
            self.assertEqual(first.wait(timeout=60), 0)
            try:
                restarted = self.start(port, data)
                self.assertIsNotNone(wait_answering(port, restarted), "the restart did not bind its port")
                restarted.send_signal(signal.SIGINT)
                self.assertEqual(restarted.wait(timeout=60), 0)
            finally:
                lingering.close()


if __name__ == "__main__":
    EXE = sys.argv.pop(1)
    unittest.main()
