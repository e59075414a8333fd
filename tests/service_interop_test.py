#!/usr/bin/python3
"""Interop: a real SOAP client stack (python3-suds) reads the server's WSDL and calls it.

Usage: service_interop_test.py SERVER_EXECUTABLE

Starts the server on a free port over a temporary data root, then: SetSingleDeviceParams,
Echo of a nested array holding "&", "<" and Cyrillic, CheckIn, and an unknown command.
suds escapes "&" only where it does not already start an entity, so value text is passed
pre-escaped as suds.sax.text.Raw.
"""
import logging
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

from suds.client import Client
from suds.sax.text import Raw

SERVER = None  # set from the command line

ECHO_VALUE = (
    '<?xml version="1.0" encoding="UTF-8"?>\r\n<sa>'
    '<elm t="S">a &amp; b &lt;c&gt;</elm>'
    '<elm t="A" r="2" c="0"><elm t="S">Привет, ёж</elm>'
    '<elm t="A" r="1" c="0"><elm t="N">2.5</elm></elm></elm>'
    '<elm t="B">True</elm></sa>\r\n'
)


def value_tree(text):
    """The value as nested (kind, text, children) tuples, independent of serialisation."""
    def node(e):
        return (e.get("t"), (e.text or "") if e.get("t") != "A" else "",
                [node(c) for c in e])
    return [node(e) for e in ET.fromstring(text.encode("utf-8"))]


class InteropTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="dct_interop_")
        cls.server = subprocess.Popen(
            [SERVER, "--port", "0", "--data-root", cls.root + "/"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = cls.server.stdout.readline().split()
        if len(line) != 2 or line[0] != "LISTENING":
            cls.server.kill()
            raise RuntimeError("server did not start: %r" % line)
        url = "http://127.0.0.1:%s/wsdl/IMobileDCT" % line[1]
        cls.client = Client(url, cache=None, timeout=60)

    @classmethod
    def tearDownClass(cls):
        cls.server.stdin.close()  # the server disables the device and ends
        try:
            cls.server.wait(timeout=30)
        finally:
            if cls.server.poll() is None:
                cls.server.kill()
            shutil.rmtree(cls.root, ignore_errors=True)

    def execute(self, device, command, value=""):
        return self.client.service.ExecuteCommand(device, command, Raw(escape(value)))

    def test_1_set_params_then_echo_check_in_and_unknown(self):
        reply = self.client.service.SetSingleDeviceParams(False, False, "0", "1.0", "interop")
        self.assertIs(reply["return"], True)
        self.assertEqual(reply.ResultCode, 0)
        self.assertEqual(reply.ResultDescription, "Нет ошибок")

        reply = self.execute("0", "Echo", ECHO_VALUE)
        self.assertIs(reply["return"], True)
        self.assertEqual(reply.ResultCode, 0)
        self.assertEqual(value_tree(reply.OutputParameters), value_tree(ECHO_VALUE))
        self.assertEqual(value_tree(reply.OutputParameters)[0][1], "a & b <c>")
        self.assertEqual(value_tree(reply.OutputParameters)[1][2][0][1], "Привет, ёж")

        reply = self.execute("0", "CheckIn")
        self.assertIs(reply["return"], True)
        check_in = value_tree(reply.OutputParameters)
        self.assertEqual(check_in[0][1], "interop")
        self.assertEqual(check_in[1][1], "1.0")
        self.assertEqual(len(check_in[2][2]), 12)

        reply = self.execute("0", "NoSuchCommand")
        self.assertIs(reply["return"], False)
        self.assertEqual(reply.ResultCode, 1002)
        self.assertEqual(reply.ResultDescription, "Команда не распознана устройством")
        self.assertIn(reply.OutputParameters, (None, ""))

    def test_2_unknown_device(self):
        reply = self.execute("no such device", "Echo")
        self.assertIs(reply["return"], False)
        self.assertEqual(reply.ResultCode, 1013)


if __name__ == "__main__":
    logging.disable(logging.CRITICAL)
    SERVER = sys.argv.pop(1)
    unittest.main(verbosity=2)
