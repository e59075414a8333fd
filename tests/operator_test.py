#!/usr/bin/python3
"""The operator's commands against the real program: --import-items loads a CSV catalogue
through the running service (read back with DownloadItems), --merge adds and updates, a bad
file changes nothing and names its line and column; --export-documents writes the pushed
documents as CSV and leaves them stored; no service is a clear failure.

Usage: operator_test.py PROGRAM
"""

import csv
import io
import os
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

import exchange_test
from exchange_test import Server, Table

PROGRAM = None
CLIENT_TIMEOUT = 60
DEVICE = "касса 7"


def run(*args):
    return subprocess.run([PROGRAM] + list(args), capture_output=True, text=True, timeout=CLIENT_TIMEOUT)


def catalogue(server):
    code, _, out = server.execute("DownloadItems", [])
    if code == 6501:  # nothing stored
        return {}
    assert code == 0, code
    return {row[0]: row for row in out[0].rows}


def read_csv(path):
    with open(path, "rb") as f:
        data = f.read()
    return data, list(csv.reader(io.StringIO(data.decode("utf-8"), newline="")))


def row(barcode, name, unit="", extra="", series="", quality="", price=0.0, qty=0.0, serial=False, weight=False,
        fract=False):
    return [barcode, name, unit, extra, series, quality, price, qty, serial, weight, fract]


class OperatorCommands(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.TemporaryDirectory()
        self.server = Server(self.root.name + "/")
        self.url = "http://127.0.0.1:%d/" % self.server.port

    def tearDown(self):
        self.assertEqual(self.server.stop(), 0)
        self.root.cleanup()

    def write(self, name, text):
        path = os.path.join(self.root.name, name)
        with open(path, "wb") as f:
            f.write(text.encode("utf-8"))
        return path

    def test_import_merge_and_a_bad_file(self):
        # Columns in another order, five of them left out; a BOM, CRLF line ends, and fields
        # with commas, doubled quotes, Cyrillic and a line break.
        first = self.write("first.csv",
                           "\ufeffname,price,barcode,unit,useweight,quantity\r\n"
                           '"Молоко ""Луг"", 3,2%",12.34,4600000000017,шт,1,2.5\r\n'
                           '"две\nстроки",0.5,"46,02",кг,false,0.125\r\n'
                           "Хлеб,45,4600000000024,,0,\r\n")
        done = run("--import-items", first, "--url", self.url)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stderr, "")  # no progress line when standard error is not a terminal
        self.assertIn("3 items", done.stdout)
        expected = {"4600000000017": row("4600000000017", 'Молоко "Луг", 3,2%', "шт", price=12.34, qty=2.5,
                                         weight=True),
                    "46,02": row("46,02", "две\nстроки", "кг", price=0.5, qty=0.125),
                    "4600000000024": row("4600000000024", "Хлеб", price=45, qty=0)}
        self.assertEqual(catalogue(self.server), expected)

        # --merge adds and updates by barcode; the port instead of --url.
        second = self.write("second.csv", "barcode,name,useserialnum,usefractvalue\n"
                                          "4600000000024,Хлеб белый,true,1\n"
                                          "new,Новый,0,FALSE\n")
        done = run("--import-items", second, "--merge", "--port", str(self.server.port))
        self.assertEqual(done.returncode, 0, done.stderr)
        expected["4600000000024"] = row("4600000000024", "Хлеб белый", serial=True, fract=True)
        expected["new"] = row("new", "Новый")
        self.assertEqual(catalogue(self.server), expected)

        # A bad price on physical line 5 (the quoted field on line 2 spans two lines): nothing
        # is sent, not even the good lines before it, with or without --merge.
        bad = self.write("bad.csv", 'barcode,name,price\n1,"a\nb",1\n2,c,2\n3,d,"12,5"\n')
        for extra in ([], ["--merge"]):
            done = run("--import-items", bad, "--url", self.url, *extra)
            self.assertEqual(done.returncode, 1)
            self.assertIn('line 5, field "price"', done.stderr)
            self.assertIn("nothing was sent", done.stderr)
            self.assertEqual(catalogue(self.server), expected)

        missing = self.write("missing.csv", "barcode,price\n1,2\n")
        done = run("--import-items", missing, "--url", self.url)
        self.assertEqual(done.returncode, 1)
        self.assertIn('line 1, field "name"', done.stderr)

        # Without --merge the file replaces the whole catalogue.
        done = run("--import-items", self.write("last.csv", "barcode,name\nz,Последний\n"), "--url", self.url)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(catalogue(self.server), {"z": row("z", "Последний")})

    def test_export_documents(self):
        s = self.server
        # The device's identifier changed from "0": the commands address the one the status names.
        s.set_device_params(DEVICE, "test", "1")
        # Rows as pushed, with the quantity text the export must write.
        docs = {"ТСД-1": (2, "Приход, склад \"А\"", [["4600000000017", 2.5, "", "2.5"],
                                                      ["46,02", 0.001, "SN,1", "0.001"]]),
                "T-2": (5, "две\nстроки", [["x", 1234567.5, "s\"q", "1234567.5"]])}
        for doc_id, (doc_type, description, rows) in docs.items():
            pushed = Table([r[:3] for r in rows])
            self.assertEqual(s.execute("PushDocumentData", [doc_id, doc_type, 0, pushed, description],
                                       device=DEVICE)[0], 0)

        out = os.path.join(self.root.name, "export", "nested")  # made by the command
        for args, expected_docs in ((["--url", self.url], docs),
                                    (["--source", "1", "--port", str(s.port)], docs),
                                    (["--source", "0", "--url", self.url], {})):
            done = run("--export-documents", out, *args)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stderr, "")
            data, headers = read_csv(os.path.join(out, "docheaders.csv"))
            self.assertTrue(data.endswith(b"\r\n"))
            self.assertEqual(headers[0], ["id", "docsource", "doctype", "description"])
            self.assertEqual(sorted(headers[1:]),
                             sorted([d, "1", str(t), desc] for d, (t, desc, _) in expected_docs.items()))
            data, tables = read_csv(os.path.join(out, "doctables.csv"))
            self.assertEqual(tables[0], ["docid", "barcode", "quantity", "serialnum"])
            self.assertEqual(sorted(tables[1:]),
                             sorted([d, r[0], r[3], r[2]] for d, (_, _, rows) in expected_docs.items() for r in rows))
            self.assertEqual(sorted(os.listdir(out)), ["docheaders.csv", "doctables.csv"])

        # Reading them changed nothing: both documents are still stored with their rows.
        code, _, listed = s.execute("ReadDocsHeadersFromBuff", [1], device=DEVICE)
        self.assertEqual(code, 0)
        self.assertEqual(sorted(r[0] for r in listed[0].rows), sorted(docs))
        code, _, doc = s.execute("ReadDocFromBuff", [["ТСД-1"]], device=DEVICE)
        self.assertEqual((code, len(doc[0][4].rows)), (0, 2))

    def test_no_service_is_a_clear_failure(self):
        port = str(exchange_test.free_port())
        out = os.path.join(self.root.name, "never")
        for args in (["--import-items", self.write("ok.csv", "barcode,name\n1,a\n"), "--port", port],
                     ["--export-documents", out, "--port", port]):
            done = run(*args)
            self.assertEqual(done.returncode, 1, args)
            self.assertIn("127.0.0.1:%s" % port, done.stderr)
            self.assertIn("connecting", done.stderr)
        self.assertFalse(os.path.exists(out))



class StopSignals(unittest.TestCase):
    """Ctrl+C or SIGTERM ends a command that is waiting (on a silent service, on a database
    lock) at once, and what it was writing goes with it."""

    SETTLE = 1.0     # the command is in its wait by then
    AT_ONCE = 3.0    # far below the waits it is in: 10 s for an answer, 60 s for the lock

    def stopped(self, args, sig):
        proc = subprocess.Popen([PROGRAM] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            time.sleep(self.SETTLE)
            self.assertIsNone(proc.poll(), "ended before it was stopped")
            sent = time.monotonic()
            proc.send_signal(sig)
            proc.communicate(timeout=CLIENT_TIMEOUT)
            return proc.returncode, time.monotonic() - sent
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.communicate()

    def test_status_on_a_service_that_never_answers(self):
        with socket.socket() as silent:
            silent.bind(("127.0.0.1", 0))
            silent.listen(4)
            url = "http://127.0.0.1:%d/" % silent.getsockname()[1]
            for sig in (signal.SIGINT, signal.SIGTERM):
                with self.subTest(signal=sig.name):
                    code, took = self.stopped(["--status", "--url", url], sig)
                    self.assertEqual(code, -sig)
                    self.assertLess(took, self.AT_ONCE)

    def test_backup_waiting_for_a_lock_leaves_no_part_file(self):
        with tempfile.TemporaryDirectory() as root:
            folder = os.path.join(root, "dct_korvelmobile", "DataBuffer")
            os.makedirs(folder)
            holder = sqlite3.connect(os.path.join(folder, "0.db"), isolation_level=None)
            try:
                holder.execute("CREATE TABLE t (x)")
                holder.execute("BEGIN EXCLUSIVE")  # a commit in progress: the backup waits for it
                target = os.path.join(root, "copy.db")
                for sig in (signal.SIGINT, signal.SIGTERM):
                    with self.subTest(signal=sig.name):
                        code, took = self.stopped(["--backup", target, "--data-root", root], sig)
                        self.assertEqual(code, -sig)
                        self.assertLess(took, self.AT_ONCE)
                        self.assertEqual(sorted(os.listdir(root)), ["dct_korvelmobile"])
            finally:
                holder.close()

if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    exchange_test.PROGRAM = PROGRAM
    unittest.main(verbosity=2)
