#!/usr/bin/python3
"""Content codings against the real program: every answer a client can get inflates to the
very answer a client that does not ask gets; a 100,000-item catalogue sent gzip-coded loads
exactly as the plain one; a bomb, a damaged body and an unknown coding are refused and store
nothing.

Usage: compression_test.py PROGRAM
"""

import gzip
import http.client
import re
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zlib
from xml.sax.saxutils import escape

import exchange_test
from exchange_test import NS, SOAP_NS, Server, Table, decode_value, encode_value, item

THRESHOLD = 1024  # answers above it are coded when asked
CATALOGUE_ITEMS = 100000


def envelope(command, value):
    return ('<?xml version="1.0" encoding="UTF-8"?><s:Envelope xmlns:s="%s" xmlns:m="%s">'
            '<s:Body><m:ExecuteCommand><DeviceID>0</DeviceID><CommandName>%s</CommandName>'
            '<InputParameters>%s</InputParameters></m:ExecuteCommand></s:Body></s:Envelope>'
            % (SOAP_NS, NS, command, escape(encode_value(value) if value is not None else ""))).encode("utf-8")


def fetch(port, method, target, body=None, headers=None):
    """(status, headers with lower-case names, body as it came) of one request that sends
    exactly the headers given: no Accept-Encoding unless one is."""
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    conn.putrequest(method, target, skip_accept_encoding=True)
    for name, value in (headers or {}).items():
        conn.putheader(name, value)
    if body is not None:
        conn.putheader("Content-Length", str(len(body)))
    conn.endheaders(body)
    answer = conn.getresponse()
    data = answer.read()
    got = {k.lower(): v for k, v in answer.getheaders()}
    conn.close()
    return answer.status, got, data


def soap(port, command, value=None, coded=None, headers=None):
    body = envelope(command, value)
    h = {"Content-Type": "text/xml; charset=utf-8", "SOAPAction": '"%s#ExecuteCommand"' % NS}
    h.update(headers or {})
    if coded is not None:
        body = coded(body)
    return fetch(port, "POST", "/soap/IMobileDCT", body, h)


def result_code(data):
    return int(re.search(rb"<ResultCode[^>]*>(\d+)</ResultCode>", data).group(1))


def vm_hwm_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmHWM:\s+(\d+) kB", f.read()).group(1))


class Compression(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.TemporaryDirectory()
        self.server = Server(self.root.name + "/")
        self.port = self.server.port

    def tearDown(self):
        self.assertEqual(self.server.stop(), 0)
        self.root.cleanup()

    def load_plain(self, rows):
        status, _, data = soap(self.port, "SaveItemsToBuff", [0, Table(rows)])
        self.assertEqual((status, result_code(data)), (200, 0))

    def download(self, headers=None):
        """The DownloadItems answer as the server made it, and how it came."""
        status, h, data = soap(self.port, "DownloadItems", [], headers=headers)
        self.assertEqual(status, 200)
        if h.get("content-encoding") == "gzip":
            self.assertEqual(int(h["content-length"]), len(data))
            return gzip.decompress(data), h
        return data, h

    def test_every_answer_inflates_to_its_identity_answer(self):
        self.load_plain([item("46%011d" % i, "Товар & <%d>" % i, 10 + i, 1) for i in range(300)])
        self.server.set_device_params("0", "Касса", "3.4")
        big_echo = ["Привет, ёж & <b>" * 200, [1.5, True, None]]
        post = lambda command, value: ("POST", "/soap/IMobileDCT", envelope(command, value),
                                       {"Content-Type": "text/xml; charset=utf-8",
                                        "SOAPAction": '"%s#ExecuteCommand"' % NS})
        requests = [
            ("GET", "/", None, {}),
            ("GET", "/?intf=IMobileDCT", None, {}),
            ("GET", "/wsdl", None, {}),
            ("GET", "/wsdl/IMobileDCT", None, {}),
            ("GET", "/wsdl/Other", None, {}),
            ("GET", "/inspection.wsil", None, {}),
            ("GET", "/status.json", None, {}),
            ("HEAD", "/wsdl/IMobileDCT", None, {}),
            post("DownloadItems", []),
            post("Echo", big_echo),
            post("GetItemInfo", [0, "46%011d" % 7]),
            post("NoSuchCommand", []),
            ("POST", "/soap/IMobileDCT", b'<?xml version="1.0"?><s:Envelope xmlns:s="%s"><s:Body><m:Nope xmlns:m="%s"/>'
             b'</s:Body></s:Envelope>' % (SOAP_NS.encode(), NS.encode()),
             {"Content-Type": "text/xml; charset=utf-8", "SOAPAction": '"%s#Nope"' % NS}),  # a fault
            ("POST", "/soap/IMobileDCT", b"<not xml" * 300, {"Content-Type": "text/xml"}),  # a large fault
        ]
        uptime = re.compile(rb'(id="status-uptime">)[^<]*|("uptimeSeconds": )\d+')
        coded_kinds = set()
        for method, target, body, headers in requests:
            command = re.search(rb"<CommandName>(\w+)</CommandName>", body or b"")
            kind = target + (" " + command.group(1).decode() if command else "")
            where = method + " " + kind
            status, plain_h, plain = fetch(self.port, method, target, body, headers)
            for asks, codes in (("gzip", True), ("gzip, deflate, br", True), ("gzip;q=0, identity", False),
                                ("identity", False)):
                h = dict(headers, **{"Accept-Encoding": asks})
                status2, got_h, got = fetch(self.port, method, target, body, h)
                self.assertEqual(status2, status, where)
                self.assertEqual(got_h["content-type"], plain_h["content-type"], where)
                large = int(plain_h["content-length"]) > THRESHOLD
                self.assertEqual(got_h.get("vary"), "Accept-Encoding" if large else None, where)
                self.assertEqual(plain_h.get("vary"), got_h.get("vary"), where)
                self.assertNotIn("content-encoding", plain_h, where)
                if large and codes:
                    self.assertEqual(got_h.get("content-encoding"), "gzip", where + " " + asks)
                    if method != "HEAD":
                        self.assertEqual(len(got), int(got_h["content-length"]), where)
                        got = gzip.decompress(got)
                        coded_kinds.add(kind)
                else:
                    self.assertNotIn("content-encoding", got_h, where + " " + asks)
                    self.assertEqual(got_h["content-length"], plain_h["content-length"], where)
                self.assertEqual(uptime.sub(rb"\1\2", got), uptime.sub(rb"\1\2", plain), where + " " + asks)
        # Every kind of answer that is large enough was coded at least once.
        for kind in ("/", "/wsdl/IMobileDCT", "/soap/IMobileDCT DownloadItems", "/soap/IMobileDCT Echo"):
            self.assertIn(kind, coded_kinds)

    def test_gzip_coded_catalogue_loads_as_the_plain_one(self):
        rows = [item("46%011d" % i, "Товар № %d «сорт» & <%d>" % (i, i % 7), 10 + i * 0.01, i % 13)
                for i in range(CATALOGUE_ITEMS)]
        plain = envelope("SaveItemsToBuff", [0, Table(rows)])
        coded = gzip.compress(plain, 6)
        self.assertLess(len(coded) * 8, len(plain))
        self.load_plain(rows[:10])
        status, _, data = soap(self.port, "SaveItemsToBuff", coded=lambda _: coded,
                               headers={"Content-Encoding": "gzip"})
        self.assertEqual((status, result_code(data)), (200, 0))
        after_coded, _ = self.download()
        after_coded_gz, h = self.download({"Accept-Encoding": "gzip"})
        self.assertEqual(h.get("content-encoding"), "gzip")
        self.assertLess(int(h["content-length"]) * 8, len(after_coded))
        self.assertEqual(result_code(after_coded), 0)
        self.assertEqual(after_coded_gz, after_coded)
        self.load_plain(rows[:10])
        status, _, data = fetch(self.port, "POST", "/soap/IMobileDCT", plain,
                                {"Content-Type": "text/xml; charset=utf-8",
                                 "SOAPAction": '"%s#ExecuteCommand"' % NS})
        self.assertEqual((status, result_code(data)), (200, 0))
        after_plain, _ = self.download()
        self.assertEqual(after_plain, after_coded)
        response = ET.fromstring(after_plain).find("{%s}Body/{%s}ExecuteCommandResponse" % (SOAP_NS, NS))
        table = decode_value(response.findtext("OutputParameters"))[0]
        self.assertEqual([r[0] for r in table.rows], [r[0] for r in rows])
        self.assertEqual(table.rows[-1][1], rows[-1][1])
        # deflate too (zlib-wrapped, as most clients send it)
        self.load_plain(rows[:10])
        status, _, data = soap(self.port, "SaveItemsToBuff", coded=lambda _: zlib.compress(plain),
                               headers={"Content-Encoding": "deflate"})
        self.assertEqual((status, result_code(data)), (200, 0))
        self.assertEqual(self.download()[0], after_plain)

    def test_refused_bodies_store_nothing(self):
        before = [item("4600000000017", "Молоко", 12.5, 2)]
        self.load_plain(before)
        stored, _ = self.download()
        other = envelope("SaveItemsToBuff", [0, Table([item("46%011d" % i, "x", 1, 1) for i in range(2000)])])
        good = gzip.compress(other)
        damaged = bytearray(good)
        damaged[len(good) // 2] ^= 0x55
        crc = bytearray(good)
        crc[-6] ^= 1
        cases = [
            ("truncated", "gzip", good[:-100], 400),
            ("cut in the header", "gzip", good[:6], 400),
            ("damaged data", "gzip", bytes(damaged), 400),
            ("damaged CRC", "gzip", bytes(crc), 400),
            ("trailing bytes", "gzip", good + b"trailing", 400),
            ("plain text called gzip", "gzip", other, 400),
            ("deflate truncated", "deflate", zlib.compress(other)[:-10], 400),
            ("unknown coding", "br", good, 415),
            ("two codings", "gzip, gzip", gzip.compress(good), 415),
        ]
        for name, coding, body, expected in cases:
            status, _, data = soap(self.port, "SaveItemsToBuff", coded=lambda _: body,
                                   headers={"Content-Encoding": coding})
            self.assertEqual(status, expected, name + ": " + data[:200].decode("utf-8", "replace"))
            self.assertNotIn(b"ResultCode", data, name)
        self.assertEqual(self.download()[0], stored)

    def test_bomb_is_413_with_memory_flat(self):
        self.load_plain([item("4600000000017", "Молоко", 12.5, 2)])
        pid = self.server.proc.pid
        member = gzip.compress(b"\0" * (16 << 20), 9)
        bomb = member * 40  # 640 MB of zeros, past the body limit, in about 650 KB
        self.assertLess(len(bomb), 1 << 20)
        peak_before = vm_hwm_kib(pid)
        for _ in range(3):
            status, _, data = fetch(self.port, "POST", "/soap/IMobileDCT", bomb,
                                    {"Content-Type": "text/xml", "Content-Encoding": "gzip"})
            self.assertEqual(status, 413, data[:200])
        # The process's peak resident size hardly moved: the bomb was never held.
        self.assertLess(vm_hwm_kib(pid) - peak_before, 32 << 10)
        # And the server goes on serving.
        self.assertEqual(result_code(self.download()[0]), 0)


if __name__ == "__main__":
    exchange_test.PROGRAM = sys.argv.pop(1)
    unittest.main()
