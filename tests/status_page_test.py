#!/usr/bin/python3
"""The status at a glance against the real program: after a known load over SOAP (a
catalogue of N items, documents pushed, one failing call) the info page, rendered by headless
Chromium, shows those numbers; /status.json agrees with it; `--status` prints them as a client
of the running service and fails clearly when there is no service.

Usage: status_page_test.py PROGRAM VERSION
Exits 77 (skipped) when Chromium is not installed.
"""

import html.parser
import http.client
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import exchange_test
from exchange_test import Server, Table, item

PROGRAM = None
VERSION = None
CHROMIUM_TIMEOUT = 90
CLIENT_TIMEOUT = 30
ITEMS = 250
ISO_UTC = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")


class CellTexts(html.parser.HTMLParser):
    """The text of every element that has an id, by id."""

    VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}

    def __init__(self):
        super().__init__()
        self.texts, self.open = {}, []

    def handle_starttag(self, tag, attrs):
        if tag not in self.VOID:
            self.open.append(dict(attrs).get("id"))

    def handle_endtag(self, tag):
        if tag not in self.VOID and self.open:
            self.open.pop()

    def handle_data(self, data):
        for element in self.open:
            if element:
                self.texts[element] = self.texts.get(element, "") + data


def status_command(args):
    return subprocess.run([PROGRAM, "--status"] + args, capture_output=True, text=True,
                          timeout=CLIENT_TIMEOUT)


class StatusPage(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.TemporaryDirectory()
        self.server = Server(self.root.name + "/")

    def tearDown(self):
        self.assertEqual(self.server.stop(), 0)
        self.root.cleanup()

    def load(self):
        s = self.server
        catalogue = Table([item("46%011d" % i, "Товар %d" % i, 10 + i, 1) for i in range(ITEMS)])
        self.assertEqual(s.execute("SaveItemsToBuff", [0, catalogue])[0], 0)
        for doc, rows in (("T-1", [["4600000000001", 2, ""], ["4600000000002", 1, ""]]),
                          ("T-2", [["4600000000003", 1, "SN-1"], ["4600000000003", 1, "SN-2"],
                                   ["4600000000004", 5, ""]]),
                          ("T-3", [["4600000000005", 1, ""]])):
            self.assertEqual(s.execute("PushDocumentData", [doc, 2, 0, Table(rows), "Приход"])[0], 0)
        self.assertEqual(s.execute("GetItemInfo", [0, "no such barcode"])[0], 6501)  # the failed call
        s.set_device_params("0", "Касса & <Co>", "3.4")
        # Served: the load, three pushes, the failed look-up, the settings.
        return {"items": ITEMS, "documents": 3, "rows": 6, "served": 6, "failed": 1}

    def test_rendered_page_json_and_client_show_the_load(self):
        expected = self.load()
        port = self.server.port

        # /status.json: the same numbers as numbers, times in ISO 8601 UTC.
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=CLIENT_TIMEOUT)
        conn.request("GET", "/status.json")
        answer = conn.getresponse()
        self.assertEqual(answer.status, 200)
        self.assertEqual(answer.getheader("Content-Type"), "application/json")
        status = json.loads(answer.read().decode("utf-8"))
        conn.close()
        self.assertEqual(status["version"], VERSION)
        self.assertEqual(status["port"], port)
        self.assertEqual(status["items"], expected["items"])
        self.assertEqual(status["documents"], [{"source": 0, "documents": 0, "rows": 0},
                                               {"source": 1, "documents": 3, "rows": 6}])
        self.assertEqual(status["calls"], {"served": expected["served"], "failed": expected["failed"]})
        self.assertEqual(status["device"], {"id": "0", "appName": "Касса & <Co>", "appVersion": "3.4",
                                            "enabled": True})
        self.assertEqual(status["database"]["file"],
                         os.path.join(self.root.name, "dct_korvelmobile", "DataBuffer", "0.db"))
        self.assertEqual(status["database"]["sizeBytes"], os.path.getsize(status["database"]["file"]))
        for field in ("startTime", "lastCatalogueLoad", "lastDocumentPush"):
            self.assertRegex(status[field], ISO_UTC)
        self.assertIsInstance(status["uptimeSeconds"], int)

        # The info page as a browser renders it.
        with tempfile.TemporaryDirectory() as profile:
            dom = subprocess.run(
                [shutil.which("chromium"), "--headless", "--no-sandbox", "--disable-gpu",
                 "--user-data-dir=" + profile, "--dump-dom", "http://127.0.0.1:%d/" % port],
                capture_output=True, text=True, timeout=CHROMIUM_TIMEOUT)
        self.assertEqual(dom.returncode, 0, dom.stderr[-2000:])
        cells = CellTexts()
        cells.feed(dom.stdout)
        page = cells.texts
        print("rendered: " + ", ".join("%s=%s" % (k[len("status-"):], v) for k, v in sorted(page.items())
                                     if k.startswith("status-") and k != "status-documents"),
              file=sys.stderr)
        self.assertIn("Service Info Page", dom.stdout)
        self.assertEqual(int(page["status-items"]), expected["items"])
        self.assertEqual(int(page["status-source-1-documents"]), expected["documents"])
        self.assertEqual(int(page["status-source-1-rows"]), expected["rows"])
        self.assertEqual(int(page["status-source-0-documents"]), 0)
        self.assertEqual(int(page["status-calls-served"]), expected["served"])
        self.assertEqual(int(page["status-calls-failed"]), expected["failed"])
        self.assertEqual(int(page["status-port"]), port)
        self.assertEqual(page["status-version"], VERSION)
        self.assertEqual(page["status-device-id"], "0")
        self.assertEqual(page["status-enabled"], "yes")
        self.assertEqual(page["status-app-name"], "Касса & <Co>")
        self.assertEqual(page["status-app-version"], "3.4")
        self.assertEqual(page["status-database-file"], status["database"]["file"])
        self.assertGreater(int(page["status-database-bytes"]), 0)
        self.assertEqual(page["status-last-catalogue-load"], status["lastCatalogueLoad"])
        self.assertEqual(page["status-last-document-push"], status["lastDocumentPush"])
        self.assertRegex(page["status-start-time"], ISO_UTC)
        self.assertRegex(page["status-uptime"], r"^\d+d \d\d:\d\d:\d\d$")

        # The program as a client of the running service.
        run = status_command(["--port", str(port)])
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("Items                %d\n" % ITEMS, run.stdout)
        self.assertIn("source 1: 3 documents, 6 rows", run.stdout)
        self.assertIn("Calls                %d served, %d failed\n" % (expected["served"], expected["failed"]),
                      run.stdout)  # neither the page nor the JSON read counted as a call
        self.assertIn("App                  Касса & <Co> 3.4\n", run.stdout)
        run = status_command(["--url", "http://127.0.0.1:%d" % port])
        self.assertEqual(run.returncode, 0, run.stderr)

        # Reading the status is no SOAP call: the counters stay as the load left them.
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=CLIENT_TIMEOUT)
        conn.request("GET", "/status.json")
        self.assertEqual(json.loads(conn.getresponse().read())["calls"]["served"], expected["served"])
        conn.close()

    def test_client_without_a_service(self):
        port = exchange_test.free_port()
        run = status_command(["--port", str(port)])
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stdout, "")
        self.assertIn("cannot read the service's status at http://127.0.0.1:%d/status.json" % port, run.stderr)


if __name__ == "__main__":
    PROGRAM = exchange_test.PROGRAM = os.path.abspath(sys.argv[1])
    VERSION = sys.argv[2]
    if shutil.which("chromium") is None:
        print("SKIP: chromium is not installed (Debian package chromium); the page cannot be rendered")
        sys.exit(77)
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
