#!/usr/bin/python3
"""Black-box tests of the Debian package: cpack builds it from the build tree into a temporary
folder; the tests read what it holds, check the unit with systemd-analyze and the whole with
lintian, and run the packaged program as the unit restricts it.

Usage: package_test.py BUILD_DIR SOURCE_DIR [unittest arguments]
"""

import ctypes
import gzip
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import unittest

BUILD_DIR = None
SOURCE_DIR = None

PACKAGE = "dct-korvelmobile"
PROGRAM = "/usr/sbin/dct_korvelmobilesvc"
UNIT = "/lib/systemd/system/dct_korvelmobile.service"
MAN_PAGE = "/usr/share/man/man8/dct_korvelmobilesvc.8.gz"
DOC = "/usr/share/doc/dct-korvelmobile"
DATA_ROOT = "/var/lib/dct-korvelmobile"
COMMAND_TIMEOUT = 120.0
START_TIMEOUT = 30.0

# Every file the package holds, with its mode; owners are all root.
EXPECTED_FILES = {
    PROGRAM: "-rwxr-xr-x",
    UNIT: "-rw-r--r--",
    MAN_PAGE: "-rw-r--r--",
    DOC + "/copyright": "-rw-r--r--",
    DOC + "/changelog.Debian.gz": "-rw-r--r--",
    "/usr/share/lintian/overrides/dct-korvelmobile": "-rw-r--r--",
}


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=COMMAND_TIMEOUT, **kwargs)


def project_version():
    with open(os.path.join(SOURCE_DIR, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(\S+ VERSION (\S+)", f.read()).group(1)


def unit_settings(text):
    """Key -> list of values of a unit file's lines, in order."""
    settings = {}
    for line in text.splitlines():
        if line and not line.startswith(("#", ";", "[")) and "=" in line:
            key, value = line.split("=", 1)
            settings.setdefault(key, []).append(value)
    return settings


def unit_bytes(value):
    """A systemd size ("3G", "512M", bytes) in bytes."""
    m = re.fullmatch(r"(\d+)([KMGT]?)", value)
    return int(m.group(1)) << {"": 0, "K": 10, "M": 20, "G": 30, "T": 40}[m.group(2)]


def memory_budget():
    """kMemoryBudget of the listener's limits in bytes, or None where it is not declared."""
    path = os.path.join(SOURCE_DIR, "service", "HTTPLimits.h")
    with open(path, encoding="utf-8") as f:
        m = re.search(r"kMemoryBudget\s*=\s*([^;]+);", f.read())
    if not m:
        return None
    expression = m.group(1).replace("'", "")
    if not re.fullmatch(r"[\d\s()*+<uUlL]+", expression):
        raise AssertionError("kMemoryBudget is not a plain constant: " + expression)
    return eval(re.sub(r"(\d+)[uUlL]+", r"\1", expression))


def start_packaged_program(root, tmp, preexec_fn=None):
    """The unpacked program on a free port below tmp/data, once it reported READY=1 to a
    notification socket of its own; (process, data folder). Raises if it does not get there."""
    data = os.path.join(tmp, "data")
    notify_path = os.path.join(tmp, "notify")
    with socket.socket(socket.AF_INET) as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as notify:
        notify.bind(notify_path)
        notify.settimeout(START_TIMEOUT)
        env = {"PATH": "/usr/bin:/bin", "NOTIFY_SOCKET": notify_path}
        proc = subprocess.Popen([root + PROGRAM, "--port", str(port), "--data-root", data],
                                env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True, preexec_fn=preexec_fn)
        try:
            while True:
                message = notify.recv(4096)
                if message == b"READY=1":
                    return proc, data
        except BaseException:
            proc.kill()
            proc.communicate()
            raise


class Package:
    """The package, built once for every test, unpacked beside it."""
    tmp = deb = root = control = unit = None


def setUpModule():
    Package.tmp = tempfile.mkdtemp(prefix="dct-package-test-")
    out = run("cpack", "-G", "DEB", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"),
              "-B", Package.tmp)
    if out.returncode != 0:
        raise RuntimeError("cpack failed:\n" + out.stdout + out.stderr)
    debs = [n for n in os.listdir(Package.tmp) if n.endswith(".deb")]
    if len(debs) != 1:
        raise RuntimeError(f"cpack made {debs}")
    Package.deb = os.path.join(Package.tmp, debs[0])
    Package.root = os.path.join(Package.tmp, "root")
    subprocess.run(["dpkg-deb", "-x", Package.deb, Package.root], check=True, timeout=COMMAND_TIMEOUT)
    Package.control = os.path.join(Package.tmp, "control")
    subprocess.run(["dpkg-deb", "-e", Package.deb, Package.control], check=True,
                   timeout=COMMAND_TIMEOUT)
    with open(Package.root + UNIT, encoding="utf-8") as f:
        Package.unit = unit_settings(f.read())


def tearDownModule():
    if Package.tmp:
        shutil.rmtree(Package.tmp)


class PackageTestCase(unittest.TestCase):
    def setUp(self):
        self.deb, self.root, self.control, self.unit = (Package.deb, Package.root, Package.control,
                                                        Package.unit)
        self.tmp = tempfile.mkdtemp(dir=Package.tmp)

    def field(self, name):
        return run("dpkg-deb", "-f", self.deb, name).stdout.strip()


class Contents(PackageTestCase):
    def test_file_name_and_control_fields(self):
        version = project_version() + "-1"
        self.assertEqual(os.path.basename(self.deb), f"{PACKAGE}_{version}_amd64.deb")
        for name, expected in [("Package", PACKAGE), ("Version", version),
                               ("Architecture", "amd64"), ("Section", "net"),
                               ("Priority", "optional")]:
            with self.subTest(field=name):
                self.assertEqual(self.field(name), expected)
        self.assertRegex(self.field("Maintainer"), r"^[^<>]+ <[^@<>\s]+@[^@<>\s]+>$")
        depends = [d.split()[0] for d in self.field("Depends").split(", ")]
        # The engine is opened with dlopen, so dpkg-shlibdeps cannot find it.
        for needed in ["libsqlite3-0", "adduser", "libc6", "libsystemd0", "libacl1"]:
            with self.subTest(depends=needed):
                self.assertIn(needed, depends)

    def test_files_modes_and_owners(self):
        listing = run("dpkg-deb", "-c", self.deb).stdout.splitlines()
        files = {}
        for line in listing:
            mode, owner, _size, _date, _time, path = line.split(None, 5)
            path = path[1:]  # "./usr/..." -> "/usr/..."
            with self.subTest(path=path):
                self.assertEqual(owner, "root/root")
                if mode.startswith("d"):
                    self.assertEqual(mode, "drwxr-xr-x")
                else:
                    files[path] = mode
        self.assertEqual(files, EXPECTED_FILES)

    def test_maintainer_scripts(self):
        for name in ["postinst", "prerm", "postrm"]:
            path = os.path.join(self.control, name)
            with self.subTest(script=name):
                self.assertEqual(os.stat(path).st_mode & 0o7777, 0o755)
                self.assertEqual(run("sh", "-n", path).returncode, 0)
        # The purge removes exactly the folder systemd makes for the unit and nothing more.
        with open(os.path.join(self.control, "postrm"), encoding="utf-8") as f:
            removals = re.findall(r"^\s*rm -rf (.*)$", f.read(), re.M)
        self.assertEqual(removals, [DATA_ROOT])

    def test_program_is_stripped_and_runs(self):
        sections = run("readelf", "-S", "-W", self.root + PROGRAM).stdout
        for section in [".symtab", ".debug_info", ".comment"]:
            with self.subTest(section=section):
                self.assertNotIn(" " + section + " ", sections)
        self.assertIn("BIND_NOW", run("readelf", "-d", "-W", self.root + PROGRAM).stdout)
        out = run(self.root + PROGRAM, "--help")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("--data-root DIR", out.stdout)

    def test_lintian_reports_no_error_or_warning(self):
        out = run("lintian", "--fail-on", "error,warning", self.deb)
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
        self.assertNotRegex(out.stdout, r"(?m)^[EW]: ")


class Unit(PackageTestCase):
    def test_runs_the_packaged_program_in_its_state_folder(self):
        self.assertEqual(self.unit["ExecStart"], [PROGRAM + " --data-root " + DATA_ROOT])
        self.assertEqual(self.unit["StateDirectory"], [os.path.basename(DATA_ROOT)])
        self.assertEqual(self.unit["Type"], ["notify"])
        self.assertEqual(self.unit["WantedBy"], ["multi-user.target"])
        # Written only where systemd makes it writable under ProtectSystem=strict.
        self.assertEqual(self.unit["ProtectSystem"], ["strict"])
        self.assertNotIn("ReadWritePaths", self.unit)

    def test_state_folder_is_closed_to_other_users(self):
        mode = int(self.unit["StateDirectoryMode"][0], 8)
        self.assertEqual(mode & 0o007, 0, "other local users must not reach the data")
        self.assertEqual(mode & 0o750, 0o750, "the service's group (the operators) must reach it")

    def test_limits_leave_room_over_what_the_program_uses(self):
        tasks_max = int(self.unit["TasksMax"][0])
        memory_max = unit_bytes(self.unit["MemoryMax"][0])
        proc, _ = start_packaged_program(self.root, self.tmp)
        try:
            threads = len(os.listdir(f"/proc/{proc.pid}/task"))
            with open(f"/proc/{proc.pid}/status", encoding="ascii") as f:
                rss = int(re.search(r"(?m)^VmRSS:\s+(\d+) kB", f.read()).group(1)) * 1024
        finally:
            proc.send_signal(signal.SIGTERM)
            proc.communicate(timeout=START_TIMEOUT)
        # Every worker exists from the start, so this is the running count, not an idle one.
        self.assertGreaterEqual(tasks_max, threads * 3 // 2, f"{threads} threads at start")
        self.assertGreater(memory_max, rss * 8)
        budget = memory_budget()
        if budget is None:
            self.skipTest("the listener declares no kMemoryBudget")
        # SQLite's page cache, a catalogue in flight and the allocator's slack come on top.
        self.assertGreaterEqual(memory_max, budget + (512 << 20))

    def test_names_the_service_as_its_install_switch_does(self):
        units = os.path.join(self.tmp, "units")
        os.mkdir(units)
        out = run(os.path.join(BUILD_DIR, "dct_korvelmobilesvc"), "/INSTALL", "/SILENT",
                  "--unit-dir", units)
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
        with open(os.path.join(units, "dct_korvelmobile.service"), encoding="utf-8") as f:
            installed = unit_settings(f.read())
        for key in ["Description", "X-Description", "Type", "After", "WantedBy"]:
            with self.subTest(key=key):
                self.assertEqual(self.unit[key], installed[key])

    def test_systemd_analyze_verify(self):
        # verify wants the program and the man page where the unit names them: point both at
        # the unpacked package.
        with open(self.root + UNIT, encoding="utf-8") as f:
            text = f.read().replace("ExecStart=" + PROGRAM, "ExecStart=" + self.root + PROGRAM)
        unit = os.path.join(self.tmp, "dct_korvelmobile.service")
        with open(unit, "w", encoding="utf-8") as f:
            f.write(text)
        env = dict(os.environ, MANPATH=self.root + "/usr/share/man")
        out = run("systemd-analyze", "verify", unit, env=env)
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
        self.assertEqual(out.stderr.strip(), "")
        out = run("systemd-analyze", "security", "--offline=yes", unit)
        level = re.search(r"Overall exposure level for \S+: (\d+\.\d+)", out.stdout)
        self.assertIsNotNone(level, out.stdout + out.stderr)
        self.assertLessEqual(float(level.group(1)), 2.0, out.stdout)

    def test_program_starts_and_stops_without_writable_executable_memory(self):
        # The kernel's form of MemoryDenyWriteExecute=: the engine's dlopen must still work.
        libc = ctypes.CDLL(None, use_errno=True)
        pr_set_mdwe, pr_mdwe_refuse_exec_gain = 65, 1

        def refuse_exec_gain():
            if libc.prctl(pr_set_mdwe, pr_mdwe_refuse_exec_gain, 0, 0, 0) != 0:
                os._exit(77)

        data = os.path.join(self.tmp, "data")
        notify_path = os.path.join(self.tmp, "notify")
        with socket.socket(socket.AF_INET) as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as notify:
            notify.bind(notify_path)
            notify.settimeout(START_TIMEOUT)
            env = {"PATH": "/usr/bin:/bin", "NOTIFY_SOCKET": notify_path}
            proc = subprocess.Popen([self.root + PROGRAM, "--port", str(port), "--data-root", data],
                                    env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    text=True, preexec_fn=refuse_exec_gain)
            try:
                try:
                    ready = notify.recv(4096)
                except socket.timeout:
                    ready = b""
                if proc.poll() == 77:
                    self.skipTest("the kernel has no PR_SET_MDWE")
                self.assertEqual(ready, b"READY=1", proc.stderr.read() if proc.poll() is not None else "")
                proc.send_signal(signal.SIGTERM)
                _, err = proc.communicate(timeout=START_TIMEOUT)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.communicate()
        self.assertEqual(proc.returncode, 0, err)
        self.assertTrue(os.path.isfile(os.path.join(data, "dct_korvelmobile/DataBuffer/0.db")))
        self.assertTrue(os.path.isdir(os.path.join(data, "ZeltEquipment/LOGs")))


class ManPage(PackageTestCase):
    def test_compressed_as_debian_wants(self):
        with open(self.root + MAN_PAGE, "rb") as f:
            header = f.read(10)
        # gzip -9n: no file name (flag 0x08) and no time stamp in the header.
        self.assertEqual(header[:3], b"\x1f\x8b\x08")
        self.assertEqual(header[3] & 0x08, 0)
        self.assertEqual(header[4:8], b"\0\0\0\0")
        self.assertEqual(header[8], 2)  # best compression

    def test_formats_without_warnings(self):
        out = run("man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", self.root + MAN_PAGE)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stderr.strip(), "")

    def test_describes_every_option_and_switch_of_the_usage(self):
        with gzip.open(self.root + MAN_PAGE, "rt", encoding="utf-8") as f:
            page = f.read().replace("\\-", "-")
        self.assertRegex(page, r"(?m)^\.TH DCT_KORVELMOBILESVC 8 ")
        self.assertIn(project_version(), page.splitlines()[0])
        usage = run(os.path.join(BUILD_DIR, "dct_korvelmobilesvc"), "--help").stdout
        options = set(re.findall(r"(?m)^\s+(--[a-z-]+)", usage))
        switches = set(re.findall(r"(?m)^\s+([A-Z]+)\s", usage))
        self.assertEqual(options, {"--port", "--data-root", "--sqlite-library", "--unit-dir", "--help",
                                   "--status", "--url", "--backup", "--import-items", "--merge",
                                   "--export-documents", "--source", "--allow-origin"})
        self.assertEqual(switches, {"INSTALL", "UNINSTALL", "SILENT"})
        for name in sorted(options):
            with self.subTest(option=name):
                self.assertRegex(page, r"(?m)^\.BI? " + re.escape(name) + r"\b")
        for name in sorted(switches):
            with self.subTest(switch=name):
                self.assertRegex(page, r"(?m)^\.B /" + name + "$")


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    BUILD_DIR, SOURCE_DIR = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
