#!/usr/bin/python3
"""The whole exchange over SOAP against the real program: the accounting side loads a
catalogue, a terminal downloads it, looks items up, pushes a document in two parts and sees
its own quantity; the accounting side lists, reads and deletes the document and clears the
buffer.

Usage: exchange_test.py PROGRAM
"""

import http.client
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

PROGRAM = None
START_TIMEOUT = 30.0
HTTP_TIMEOUT = 30.0

NS = "urn:uSvcIntf-IMobileDCT"
SOAP_NS = "http://schemas.xmlsoap.org/soap/envelope/"


class Table:
    """A two-dimensional value: rows of equal length."""

    def __init__(self, rows, cols=None):
        self.rows = [list(r) for r in rows]
        self.cols = cols if cols is not None else (len(rows[0]) if rows else 0)


def encode_value(items):
    """The value text of a one-dimensional array."""

    def elm(v):
        if isinstance(v, Table):
            cells = "".join(elm(c) for row in v.rows for c in row)
            return '<elm t="A" r="%d" c="%d">%s</elm>' % (len(v.rows), v.cols, cells)
        if isinstance(v, list):
            return '<elm t="A" r="%d" c="0">%s</elm>' % (len(v), "".join(elm(c) for c in v))
        if isinstance(v, bool):
            return '<elm t="B">%s</elm>' % ("True" if v else "False")
        if isinstance(v, (int, float)):
            return '<elm t="N">%s</elm>' % repr(v)
        if v is None:
            return '<elm t="U"/>'
        return '<elm t="S">%s</elm>' % escape(v)

    return '<?xml version="1.0" encoding="UTF-8"?>\r\n<sa>%s</sa>\r\n' % "".join(elm(v) for v in items)


def decode_value(text):
    if not text:
        return None

    def value(node):
        kind = (node.get("t") or "U").upper()
        if kind == "A":
            r, c = int(node.get("r")), int(node.get("c") or 0)
            children = [value(n) for n in node]
            if c >= 1:
                return Table([children[i * c:(i + 1) * c] for i in range(r)], c)
            return children[:r]
        body = node.text or ""
        return {"N": lambda: float(body), "S": lambda: body, "B": lambda: body.lower() == "true",
                "D": lambda: body}.get(kind, lambda: None)()

    return [value(n) for n in ET.fromstring(text.encode("utf-8"))]


def free_port():
    with socket.socket() as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


class Server:
    def __init__(self, root):
        self.port = free_port()
        env = dict(os.environ)
        env.pop("JOURNAL_STREAM", None)
        env.pop("NOTIFY_SOCKET", None)
        self.proc = subprocess.Popen([PROGRAM, "--port", str(self.port), "--data-root", root],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
        deadline = time.monotonic() + START_TIMEOUT
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                # The listener opens just before the device counts as enabled: a call in
                # between is answered 70, so the start is over once the status says enabled
                # (read without a call, which the status would count).
                while '"enabled":true' not in self.status_json() and time.monotonic() < deadline:
                    time.sleep(0.01)
                return
            except OSError:
                if self.proc.poll() is not None:
                    raise AssertionError("server ended: %s" % self.proc.stderr.read())
                time.sleep(0.05)
        raise AssertionError("server did not listen within %ss" % START_TIMEOUT)

    def status_json(self):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=HTTP_TIMEOUT)
        conn.request("GET", "/status.json")
        text = conn.getresponse().read().decode("utf-8")
        conn.close()
        return text.replace(" ", "")

    def stop(self):
        self.proc.terminate()
        code = self.proc.wait(timeout=60)
        self.proc.stderr.close()
        return code

    def execute(self, command, value, device="0"):
        """(ResultCode, ResultDescription, decoded output) of one ExecuteCommand call."""
        body = ('<?xml version="1.0" encoding="UTF-8"?><s:Envelope xmlns:s="%s" xmlns:m="%s">'
                '<s:Body><m:ExecuteCommand><DeviceID>%s</DeviceID><CommandName>%s</CommandName>'
                '<InputParameters>%s</InputParameters></m:ExecuteCommand></s:Body></s:Envelope>'
                % (SOAP_NS, NS, escape(device), command,
                   escape(encode_value(value) if value is not None else "")))
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=HTTP_TIMEOUT)
        conn.request("POST", "/soap/IMobileDCT", body.encode("utf-8"),
                     {"Content-Type": "text/xml; charset=utf-8",
                      "SOAPAction": '"%s#ExecuteCommand"' % NS})
        answer = conn.getresponse()
        data = answer.read()
        conn.close()
        if answer.status != 200:
            raise AssertionError("status %d: %r" % (answer.status, data[:500]))
        response = ET.fromstring(data).find("{%s}Body/{%s}ExecuteCommandResponse" % (SOAP_NS, NS))
        code = int(response.findtext("ResultCode"))
        ok = response.findtext("return")
        if (ok == "true") != (code == 0):
            raise AssertionError("return %s with code %d" % (ok, code))
        return code, response.findtext("ResultDescription"), decode_value(response.findtext("OutputParameters") or "")

    def set_device_params(self, device, app_name, app_version):
        """One SetSingleDeviceParams call (both auto-clear flags off), which must succeed."""
        body = ('<?xml version="1.0" encoding="UTF-8"?><s:Envelope xmlns:s="%s" xmlns:m="%s"><s:Body>'
                '<m:SetSingleDeviceParams><AutoClearDocs>false</AutoClearDocs><AutoClearItems>false'
                '</AutoClearItems><DeviceID>%s</DeviceID><AppVersion>%s</AppVersion><AppName>%s</AppName>'
                '</m:SetSingleDeviceParams></s:Body></s:Envelope>'
                % (SOAP_NS, NS, escape(device), escape(app_version), escape(app_name)))
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=HTTP_TIMEOUT)
        conn.request("POST", "/soap/IMobileDCT", body.encode("utf-8"),
                     {"Content-Type": "text/xml; charset=utf-8",
                      "SOAPAction": '"%s#SetSingleDeviceParams"' % NS})
        answer = conn.getresponse()
        data = answer.read().decode("utf-8")
        conn.close()
        assert answer.status == 200 and "<ResultCode>0</ResultCode>" in data.replace(' xsi:type="xsd:int"', ""), data


def item(barcode, name, price, qty):
    return [barcode, name, "шт", "", "", "", price, qty, False, False, True]


class Exchange(unittest.TestCase):
    def test_whole_exchange(self):
        with tempfile.TemporaryDirectory() as root:
            server = Server(root + "/")
            try:
                self.run_exchange(server)
            finally:
                self.assertEqual(server.stop(), 0)
            self.assertTrue(os.path.exists(os.path.join(root, "dct_korvelmobile", "DataBuffer", "0.db")))

    def run_exchange(self, s):
        # The accounting side loads the catalogue (mode 0 replaces it).
        catalogue = Table([item("4600000000017", "Молоко & сливки <1 л>", 12.3456, 2.5),
                           item("4600000000024", "Хлеб", 45.5, 1),
                           item("it's", "кавычка", 1, 1)])
        self.assertEqual(s.execute("SaveItemsToBuff", [0, catalogue])[:2], (0, "Нет ошибок"))

        # A terminal downloads it: prices to the hundredth, every field back.
        code, _, out = s.execute("DownloadItems", [])
        self.assertEqual(code, 0)
        rows = {row[0]: row for row in out[0].rows}
        self.assertEqual(sorted(rows), ["4600000000017", "4600000000024", "it's"])
        self.assertEqual(rows["4600000000017"][1], "Молоко & сливки <1 л>")
        self.assertAlmostEqual(rows["4600000000017"][6], 12.34)
        self.assertAlmostEqual(rows["4600000000017"][7], 2.5)
        self.assertEqual(rows["4600000000017"][8:], [False, False, True])

        # Look-ups by barcode: exact match only.
        code, _, out = s.execute("GetItemInfo", [0, "4600000000024"])
        self.assertEqual(code, 0)
        self.assertEqual(len(out[0]), 12)
        self.assertEqual(out[0][1], "Хлеб")
        self.assertEqual(out[0][11], 0)
        self.assertEqual(s.execute("GetItemInfo", [0, "IT'S"])[:2],
                         (6501, "Товар с указанными параметрами не найден"))

        # The terminal pushes its document in two parts; a row sent again is overwritten.
        rows1 = Table([["4600000000017", 2, ""], ["4600000000024", 1, ""]])
        self.assertEqual(s.execute("PushDocumentData", ["ТСД-1", 2, 0, rows1, "Приход"]),
                         (0, "Нет ошибок", ["Приход"]))
        rows2 = Table([["4600000000017", 5, ""], ["it's", 1, "SN-1"]])
        self.assertEqual(s.execute("PushDocumentData", ["ТСД-1", 2, 0, rows2, "Приход"])[0], 0)

        # It looks an item up with the quantity that its document holds.
        code, _, out = s.execute("GetItemInfo", [0, "4600000000017", "ТСД-1", ""])
        self.assertEqual(code, 0)
        self.assertEqual(out[0][11], 5)
        self.assertEqual(s.execute("GetItemInfo", [0, "it's", "ТСД-1", ""])[0], 6501)  # serial differs

        # No document was prepared for the terminals.
        code, _, out = s.execute("GetDocuments", [])
        self.assertEqual(code, 0)
        self.assertEqual((len(out[0].rows), out[0].cols), (0, 4))

        # The accounting side lists, reads and deletes the pushed document.
        code, _, out = s.execute("ReadDocsHeadersFromBuff", [1])
        self.assertEqual(code, 0)
        self.assertEqual([r[0] for r in out[0].rows], ["ТСД-1"])
        self.assertEqual(out[0].rows[0][1:4], [2, 0, "Приход"])
        code, _, out = s.execute("ReadDocFromBuff", [["ТСД-1"]])
        self.assertEqual(code, 0)
        doc = out[0]
        self.assertEqual(doc[:4], ["", 2, 1, "Приход"])
        self.assertEqual(sorted(tuple(r) for r in doc[4].rows),
                         [("4600000000017", 5, ""), ("4600000000024", 1, ""), ("it's", 1, "SN-1")])
        self.assertEqual(s.execute("DeleteDocFromBuffer", [["ТСД-1"]])[0], 0)
        self.assertEqual(s.execute("ReadDocFromBuff", [["ТСД-1"]])[:2],
                         (6502, "Документ с указанными параметрами не найден"))
        self.assertEqual(s.execute("ReadDocsHeadersFromBuff", [1])[:2],
                         (6507, "Документы для загрузки отсутствуют"))

        # Clearing the buffer empties the catalogue too.
        self.assertEqual(s.execute("ClearData", [0])[0], 0)
        self.assertEqual(s.execute("DownloadItems", [])[0], 6501)
        # Malformed input is refused before the buffer is touched.
        self.assertEqual(s.execute("PushDocumentData", ["X", 1, 0, Table([])])[:2],
                         (1004, "Ошибка входных параметров команды"))


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main()
