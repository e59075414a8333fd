#!/usr/bin/python3
"""--backup against the real program while terminals keep pushing documents: every push
succeeds (it may wait for a copy, never fail), every copy passes the integrity check and holds
whole pushes only, and a copy put back in place is what the restarted service serves.

Usage: backup_test.py PROGRAM
"""

import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import exchange_test
from exchange_test import Server, Table, item

PROGRAM = None
ITEMS = 40000          # a file of some megabytes, so that each copy holds its lock a while
ROWS_PER_PUSH = 10
PUSHERS = 2
BACKUPS = 5
MAX_PUSHES = 3000      # per pusher: the stream ends by itself
STREAM_SECONDS = 120
BACKUP_TIMEOUT = 120


class Pusher(threading.Thread):
    """Pushes whole documents of ROWS_PER_PUSH rows until told to stop, noting each result."""

    def __init__(self, server, name):
        super().__init__(daemon=True)
        self.server, self.prefix = server, name
        self.results, self.stop = [], threading.Event()

    def run(self):
        deadline = time.monotonic() + STREAM_SECONDS
        n = 0
        while not self.stop.is_set() and n < MAX_PUSHES and time.monotonic() < deadline:
            rows = Table([["46%011d" % (n * ROWS_PER_PUSH + r), r + 1, ""] for r in range(ROWS_PER_PUSH)])
            try:
                code, text, _ = self.server.execute("PushDocumentData", ["%s-%d" % (self.prefix, n), 1, 0, rows, "d"])
            except Exception as e:  # noqa: BLE001 - a failed call is a result to report, not a crash
                code, text = -1, repr(e)
            self.results.append((time.monotonic(), code, text))
            n += 1


def backup(root, target):
    return subprocess.run([PROGRAM, "--backup", target, "--data-root", root], capture_output=True, text=True,
                          timeout=BACKUP_TIMEOUT)


class BackupUnderLoad(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="dct-backup-")
        self.server = Server(self.root + "/")

    def tearDown(self):
        if self.server:
            self.assertEqual(self.server.stop(), 0)
        shutil.rmtree(self.root)

    def test_copies_during_a_stream_of_pushes_fail_no_call(self):
        s = self.server
        catalogue = Table([item("20%011d" % i, "Товар %d" % i, 100 + i, 1) for i in range(ITEMS)])
        self.assertEqual(s.execute("SaveItemsToBuff", [0, catalogue])[0], 0)

        pushers = [Pusher(s, "P%d" % k) for k in range(PUSHERS)]
        for p in pushers:
            p.start()
        while sum(len(p.results) for p in pushers) < 5:
            time.sleep(0.01)
        copies, windows = [], []
        for k in range(BACKUPS):
            target = os.path.join(self.root, "copy-%d.db" % k)
            start = time.monotonic()
            done = backup(self.root, target)
            windows.append((start, time.monotonic()))
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("integrity check ok", done.stdout)
            self.assertFalse(os.path.exists(target + ".part"))
            copies.append(target)
        for p in pushers:
            p.stop.set()
        for p in pushers:
            p.join(timeout=STREAM_SECONDS)

        results = [r for p in pushers for r in p.results]
        failed = [r for r in results if r[1] != 0]
        self.assertEqual(failed, [], "pushes failed during the backups")
        during = [r for r in results if any(a <= r[0] <= b for a, b in windows)]
        self.assertGreater(len(during), 0, "no push ended while a copy was made")

        previous = 0
        for target in copies:
            with sqlite3.connect("file:%s?mode=ro" % target, uri=True) as db:
                self.assertEqual(db.execute("PRAGMA integrity_check").fetchone()[0], "ok")
                self.assertEqual(db.execute("SELECT COUNT(*) FROM items").fetchone()[0], ITEMS)
                docs = db.execute("SELECT COUNT(*) FROM docheaders").fetchone()[0]
                # Each push is one transaction: a copy holds it whole or not at all.
                partial = db.execute("SELECT COUNT(*) FROM (SELECT docid FROM doctables GROUP BY docid "
                                     "HAVING COUNT(*) <> ?)", (ROWS_PER_PUSH,)).fetchone()[0]
            db.close()
            self.assertEqual(partial, 0, target)
            self.assertGreaterEqual(docs, previous, target)
            previous = docs
        self.assertLessEqual(previous, len(results))

        # The restore: stop the service, put the copy in place of its file, start it again.
        self.assertEqual(s.stop(), 0)
        self.server = None
        database = os.path.join(self.root, "dct_korvelmobile", "DataBuffer", "0.db")
        shutil.copyfile(copies[0], database)
        if os.path.exists(database + "-journal"):
            os.remove(database + "-journal")
        self.server = Server(self.root + "/")
        code, _, out = self.server.execute("DownloadItems", [])
        self.assertEqual((code, len(out[0].rows)), (0, ITEMS))
        code, _, out = self.server.execute("ReadDocsHeadersFromBuff", [1])
        with sqlite3.connect("file:%s?mode=ro" % copies[0], uri=True) as db:
            expected = db.execute("SELECT COUNT(*) FROM docheaders").fetchone()[0]
        db.close()
        self.assertEqual((code, len(out[0].rows)), (0, expected))

    def test_no_service_database_is_a_clear_error(self):
        empty = tempfile.mkdtemp(prefix="dct-nobackup-")
        try:
            done = backup(empty, os.path.join(empty, "copy.db"))
            self.assertEqual(done.returncode, 1)
            self.assertIn("there is no database at", done.stderr)
            self.assertEqual(os.listdir(empty), [])
        finally:
            shutil.rmtree(empty)


    def test_a_link_in_place_of_the_database_is_not_followed(self):
        # Whoever can write into the service's folder could point 0.db at any file root reads.
        planted = tempfile.mkdtemp(prefix="dct-planted-")
        try:
            secret = os.path.join(planted, "secret.db")
            with sqlite3.connect(secret) as db:
                db.execute("CREATE TABLE secret (x)")
            db.close()
            folder = os.path.join(planted, "root", "dct_korvelmobile", "DataBuffer")
            os.makedirs(folder)
            os.symlink(secret, os.path.join(folder, "0.db"))
            target = os.path.join(planted, "copy.db")
            done = backup(os.path.join(planted, "root"), target)
            self.assertEqual(done.returncode, 1, done.stdout)
            self.assertIn("symbolic link", done.stderr)
            self.assertFalse(os.path.lexists(target))
            self.assertFalse(os.path.lexists(target + ".part"))
        finally:
            shutil.rmtree(planted)

if __name__ == "__main__":
    PROGRAM = exchange_test.PROGRAM = sys.argv.pop(1)
    unittest.main()
