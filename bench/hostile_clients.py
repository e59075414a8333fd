#!/usr/bin/python3
"""What one hostile host on the LAN can make the server hold, and whether the others are still
served meanwhile. Each case runs against a fresh server process, whose peak resident size
(VmHWM) is read at the end and set against the memory budget. The hostile host is 127.0.0.1;
another client is 127.0.0.2, whose small Echo must be answered at once while the attack runs.

  hostile_clients.py PROGRAM [CASE...]

Cases: echo (32 clients send an Echo of 6 MiB of line feeds and never read; echo64 the same
with 64), markup (one
48 MiB envelope of empty elements), download (40 clients ask for a 100,000-item catalogue and
never read), bodies (two 512 MiB declared bodies at a trickle), idle (600 connections that
send one byte, more than the table holds). Every case ends by itself within a minute or two.
"""

import os
import socket
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import exchange_test  # noqa: E402
from exchange_test import NS, SOAP_NS, Server, Table, encode_value, item  # noqa: E402
from xml.sax.saxutils import escape  # noqa: E402

BUDGET = 2048 << 20
PER_ADDRESS = 1280 << 20
MIB = 1 << 20


def envelope(command, value_text):
    return ('<?xml version="1.0" encoding="UTF-8"?><s:Envelope xmlns:s="%s" xmlns:m="%s">'
            '<s:Body><m:ExecuteCommand><DeviceID>0</DeviceID><CommandName>%s</CommandName>'
            '<InputParameters>%s</InputParameters></m:ExecuteCommand></s:Body></s:Envelope>'
            % (SOAP_NS, NS, command, escape(value_text))).encode("utf-8")


def request(body, length=None):
    head = ("POST /soap/IMobileDCT HTTP/1.1\r\nHost: h\r\nContent-Type: text/xml; charset=utf-8\r\n"
            "SOAPAction: \"%s#ExecuteCommand\"\r\nContent-Length: %d\r\n\r\n"
            % (NS, len(body) if length is None else length)).encode()
    return head + body


def connect(port, source):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # a client that reads nothing
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    return s


def rss(pid, field):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    return 0


def other_client_ms(port):
    """Milliseconds for a small Echo from another address, answered whole, or None."""
    t = time.monotonic()
    s = connect(port, "127.0.0.2")
    s.settimeout(10)
    s.sendall(request(envelope("Echo", encode_value(["hi"]))))
    data = b""
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except OSError:
        return None
    s.close()
    if not data.startswith(b"HTTP/1.1 200") or b"ExecuteCommandResponse" not in data:
        return None
    return (time.monotonic() - t) * 1000


def send_all_then_hold(port, payloads, source="127.0.0.1"):
    held = []
    for p in payloads:
        s = connect(port, source)
        try:
            s.sendall(p)
        except OSError:
            pass
        held.append(s)
    return held


def case_echo(server, clients=32):
    text = encode_value(["x" + "\n" * (6 * MIB)])  # not white space alone, which reads as empty
    body = request(envelope("Echo", text))
    sockets = []
    threads = [threading.Thread(target=lambda: sockets.extend(send_all_then_hold(server.port, [body])))
               for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    time.sleep(10)  # two cores decode and encode 32 large values meanwhile
    return sockets, "%d x Echo of 6 MiB of line feeds, unread" % clients


def case_markup(server):
    body = b"<a/>" * (12 * MIB)  # 48 MiB
    s = connect(server.port, "127.0.0.1")
    s.settimeout(60)
    s.sendall(request(envelope("Echo", "").replace(b"<DeviceID>", body + b"<DeviceID>")))
    answer = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        answer += chunk
    fault = b"faultstring" in answer and b"elements and attributes" in answer
    return [s], "one 48 MiB envelope of empty elements (answered with a fault: %s)" % fault


def case_download(server):
    catalogue = Table([item("20%011d" % i, "Товар %d" % i, 100 + i, 1) for i in range(100000)])
    assert server.execute("SaveItemsToBuff", [0, catalogue])[0] == 0
    body = request(envelope("DownloadItems", encode_value([])))
    sockets = send_all_then_hold(server.port, [body] * 40)
    time.sleep(15)
    return sockets, "40 x DownloadItems of 100,000 items, unread"


def case_bodies(server):
    sockets = send_all_then_hold(server.port, [request(b"", 512 * MIB)] * 2)
    for _ in range(3):  # a trickle
        for s in sockets:
            try:
                s.send(b"x" * 1024)
            except OSError:
                pass
        time.sleep(1)
    return sockets, "two 512 MiB declared bodies at a trickle"


def case_idle(server):
    sockets = []
    for _ in range(600):
        try:
            s = connect(server.port, "127.0.0.1")
            s.send(b"G")
            sockets.append(s)
        except OSError:
            break
    time.sleep(1)
    return sockets, "600 connections that sent one byte"


CASES = {"echo": case_echo, "echo64": lambda server: case_echo(server, 64), "markup": case_markup, "download": case_download,
         "bodies": case_bodies, "idle": case_idle}


def main():
    exchange_test.PROGRAM = sys.argv[1]
    names = sys.argv[2:] or list(CASES)
    print("budget %d MiB, one address's share %d MiB" % (BUDGET // MIB, PER_ADDRESS // MIB))
    for name in names:
        root = tempfile.mkdtemp(prefix="dct-hostile-")
        server = Server(root + "/")
        try:
            base = rss(server.proc.pid, "VmRSS")
            sockets, what = CASES[name](server)
            ms = other_client_ms(server.port)
            peak = rss(server.proc.pid, "VmHWM")
            print("%-9s %s: peak %d MiB (%.2f of the budget; %d MiB at start); another address's Echo: %s"
                  % (name, what, peak // MIB, peak / BUDGET, base // MIB,
                     "%.1f ms" % ms if ms is not None else "NOT SERVED"))
            for s in sockets:
                s.close()
        finally:
            server.stop()
            os.system("rm -rf '%s'" % root)


if __name__ == "__main__":
    main()
