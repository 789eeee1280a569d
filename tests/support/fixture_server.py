#!/usr/bin/python3
"""Local HTTP fixture server for tests, benchmarks and run scripts (standard library only).

It serves configured routes and, optionally, a folder, on 127.0.0.1, and records every request
exactly as it arrived (the head's bytes and the body's bytes), so a test can check the wire.

Standalone (benchmarks, run scripts):
    fixture_server.py --root DIR [--port N] [--port-file FILE] [--routes FILE] [--verbose]
  serves DIR (with Range support) until it gets SIGTERM or SIGINT. --port-file receives the port
  once the server listens (written atomically, so a script can wait for the file to appear).
  --routes takes a JSON object {"/path": REPLY, ...} (REPLY as below).

Under test control (tests/support/fixture_server.h starts it this way):
    fixture_server.py --port 0 --control
  prints "PORT <n>" once listening, then reads one JSON command per line on stdin and answers on
  stdout; it ends as soon as stdin reaches its end, so it never outlives the test process.

  {"cmd": "route", "path": P, "reply": REPLY}  -> OK        serve REPLY at P (full target with
                                                            query, or just the path); REPLY may
                                                            be {"choices": [{"query_has": TEXT,
                                                            "reply": REPLY}, ...], "otherwise":
                                                            REPLY}: the first choice whose TEXT
                                                            is in the query answers
  {"cmd": "unroute", "path": P}                -> OK
  {"cmd": "clear_routes"}                      -> OK
  {"cmd": "root", "dir": D}                    -> OK        serve files under D ("" for none)
  {"cmd": "requests"}                          -> REQ <head-hex> <body-hex> <complete 0|1>
                                                  ... END   ("-" stands for empty hex)
  {"cmd": "clear_requests"}                    -> OK
  {"cmd": "ping"}                              -> OK
  A failed command answers "ERR <text>".

REPLY keys (all optional):
  status (200), reason, body (text, sent as UTF-8) or body_hex (bytes) or file (path, read piece by
  piece at request time, so a file of any size costs no memory) or pattern_size (that many bytes of
  body_hex, or of 0..255, repeated: a body of any size without a file), content_type (guessed for
  files, else "application/octet-stream"; "" for none), headers ([[name, value], ...] appended
  after the standard ones), content_length (true), announced_length (a Content-Length to send
  instead of the true one: a server that lies), chunked (false), ranges (true for files, else
  false: honour "Range: bytes=a-b"), delay_ms (0, before anything is sent), trickle_bytes and
  trickle_interval_ms (send the body in pieces of that size with that pause between them),
  pause_after and pause_ms (after that many body bytes send nothing for that long, then go on),
  stall_after (after that many body bytes send nothing more and keep the connection open until
  the client leaves), reset_after (after that many body bytes reset the connection), raw (false:
  the body is the whole response, sent verbatim).
Strings in commands stand for bytes: characters U+0000..U+00FF are taken as single bytes.
Unknown paths get 404 with the body "fixture: no route for <target>".
"""

import argparse
import json
import mimetypes
import os
import re
import select
import socket
import socketserver
import struct
import sys
import termios  # for TIOCOUTQ
import fcntl
import threading
import time
import urllib.parse
from http import HTTPStatus

MAX_HEAD = 1 << 20
PIECE = 64 * 1024
NOT_FOUND_PREFIX = b"fixture: no route for "


def wire(text):
    """Bytes a command string stands for (latin-1 when it fits, else UTF-8)."""
    try:
        return text.encode("latin-1")
    except UnicodeEncodeError:
        return text.encode("utf-8")


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.routes = {}
        self.root = None
        self.requests = []
        self.verbose = False

    def record(self, head, body, complete):
        with self.lock:
            self.requests.append((head, body, complete))
        if self.verbose:
            line = head.split(b"\n", 1)[0].strip()
            sys.stderr.write("fixture: %s\n" % line.decode("latin-1"))

    def find(self, target):
        path = target.split(b"?", 1)[0]
        with self.lock:
            reply = self.routes.get(target) or self.routes.get(path)
            root = self.root
        if reply is not None:
            return choose_by_query(reply, target)
        if root is not None:
            return file_reply_under(root, path)
        return None


STATE = State()


def choose_by_query(reply, target):
    """A route may answer by what the query holds: the first of its "choices" whose "query_has"
    occurs in the query, else its "otherwise"."""
    if "choices" not in reply:
        return reply
    query = target.split(b"?", 1)[1] if b"?" in target else b""
    for choice in reply["choices"]:
        if wire(choice["query_has"]) in query:
            return choice["reply"]
    return reply.get("otherwise", {})


def file_reply_under(root, path):
    parts = [p for p in urllib.parse.unquote_to_bytes(path).split(b"/") if p]
    if any(p in (b".", b"..") or b"\0" in p for p in parts):
        return None
    full = os.path.join(root, *[os.fsdecode(p) for p in parts])
    if not os.path.isfile(full):
        return None
    return {"file": full}


class Reader:
    """Buffered reads from a socket; None or short results mean the peer went away."""

    def __init__(self, conn):
        self.conn = conn
        self.buf = b""
        self.received = b""  # everything read, for recording a broken request

    def fill(self):
        try:
            data = self.conn.recv(PIECE)
        except OSError:
            data = b""
        self.buf += data
        self.received += data
        return bool(data)

    def head(self):
        while True:
            for sep in (b"\r\n\r\n", b"\n\n"):
                at = self.buf.find(sep)
                if at >= 0:
                    end = at + len(sep)
                    head, self.buf = self.buf[:end], self.buf[end:]
                    return head
            if len(self.buf) > MAX_HEAD or not self.fill():
                return None

    def exactly(self, n):
        while len(self.buf) < n:
            if not self.fill():
                break
        data, self.buf = self.buf[:n], self.buf[n:]
        return data

    def line(self):
        while b"\n" not in self.buf:
            if len(self.buf) > MAX_HEAD or not self.fill():
                data, self.buf = self.buf, b""
                return data
        at = self.buf.index(b"\n") + 1
        data, self.buf = self.buf[:at], self.buf[at:]
        return data


def parse_head(head):
    lines = head.replace(b"\r\n", b"\n").split(b"\n")
    parts = lines[0].split(b" ")
    method = parts[0] if parts else b""
    target = parts[1] if len(parts) > 1 else b"/"
    headers = []
    for line in lines[1:]:
        if b":" in line:
            name, value = line.split(b":", 1)
            headers.append((name.strip().lower(), value.strip()))
    return method, target, headers


def header(headers, name):
    for n, v in headers:
        if n == name:
            return v
    return None


def read_body(reader, headers):
    """The request body and whether it arrived whole."""
    if (header(headers, b"transfer-encoding") or b"").lower() == b"chunked":
        body = b""
        while True:
            size_line = reader.line()
            try:
                size = int(size_line.split(b";")[0].strip(), 16)
            except ValueError:
                return body, False
            if size == 0:
                while reader.line().strip():
                    pass
                return body, True
            chunk = reader.exactly(size)
            body += chunk
            reader.exactly(2)
            if len(chunk) < size:
                return body, False
    length = header(headers, b"content-length")
    if length is None:
        return b"", True
    try:
        n = int(length)
    except ValueError:
        return b"", False
    body = reader.exactly(n)
    return body, len(body) == n


def client_gone(conn, seconds):
    """Waits up to seconds (None: until the client leaves); True when the client has left."""
    deadline = None if seconds is None else time.monotonic() + seconds
    while True:
        wait = 0.2 if deadline is None else min(0.2, deadline - time.monotonic())
        if wait <= 0:
            return False
        try:
            readable, _, _ = select.select([conn], [], [], wait)
            if readable and not conn.recv(PIECE):
                return True
        except OSError:
            return True


def reset(conn):
    # Let the peer take what was sent before the reset, or the kernel would throw it away.
    deadline = time.monotonic() + 2
    while time.monotonic() < deadline:
        pending = struct.unpack("i", fcntl.ioctl(conn.fileno(), termios.TIOCOUTQ, b"\0\0\0\0"))[0]
        if pending == 0:
            break
        time.sleep(0.005)
    time.sleep(0.05)
    # Linger 0 makes close() send RST instead of FIN; close here, before the server's own
    # shutdown could send a FIN that would read as a clean end.
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    conn.close()


def parse_range(value, total):
    """(start, end) inclusive, "unsatisfiable", or None for "send it all"."""
    m = re.fullmatch(rb"\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*", value)
    if not m or (not m.group(1) and not m.group(2)):
        return None
    first, last = m.group(1), m.group(2)
    if not first:
        n = int(last)
        if n == 0 or total == 0:
            return "unsatisfiable"
        return max(0, total - n), total - 1
    start = int(first)
    end = int(last) if last else total - 1
    if start >= total or end < start:
        return "unsatisfiable"
    return start, min(end, total - 1)


class Bytes:
    """A body held in memory."""

    def __init__(self, data):
        self.data = data

    def __len__(self):
        return len(self.data)

    def read(self, start, n):
        return self.data[start:start + n]


class FileBody:
    """A file's bytes, read piece by piece as they are sent."""

    def __init__(self, path):
        self.path = path
        self.size = os.path.getsize(path)

    def __len__(self):
        return self.size

    def read(self, start, n):
        with open(self.path, "rb") as f:
            f.seek(start)
            return f.read(n)


class Pattern:
    """size bytes of a repeated pattern."""

    def __init__(self, size, unit):
        self.size = size
        self.unit = unit or bytes(range(256))
        self.block = self.unit * max(1, PIECE // len(self.unit) + 2)

    def __len__(self):
        return self.size

    def read(self, start, n):
        n = max(0, min(n, self.size - start))
        out = b""
        while len(out) < n:
            offset = (start + len(out)) % len(self.unit)
            out += self.block[offset:offset + min(n - len(out), len(self.block) - offset)]
        return out


class Slice:
    """Bytes first..first+length of a body."""

    def __init__(self, body, first=0, length=None):
        self.body, self.first = body, first
        self.length = len(body) - first if length is None else length

    def __len__(self):
        return self.length

    def read(self, start, n):
        return self.body.read(self.first + start, max(0, min(n, self.length - start)))


def reply_payload(reply):
    if "file" in reply:
        return FileBody(reply["file"])
    if "pattern_size" in reply:
        return Pattern(int(reply["pattern_size"]), bytes.fromhex(reply.get("body_hex", "")))
    if "body_hex" in reply:
        return Bytes(bytes.fromhex(reply["body_hex"]))
    return Bytes(reply.get("body", "").encode("utf-8"))


def build_response(reply, method, headers):
    """(head bytes, payload bytes) for a route's reply to this request."""
    payload = Slice(reply_payload(reply))
    if reply.get("raw"):
        return b"", payload
    status = int(reply.get("status", 200))
    extra = []
    ranges = reply.get("ranges", "file" in reply)
    if ranges:
        extra.append((b"Accept-Ranges", b"bytes"))
        wanted = header(headers, b"range")
        span = parse_range(wanted, len(payload)) if wanted is not None and status == 200 else None
        if span == "unsatisfiable":
            extra.append((b"Content-Range", b"bytes */%d" % len(payload)))
            status, payload = 416, Slice(Bytes(b""))
        elif span is not None:
            total = len(payload)
            payload = Slice(payload.body, span[0], span[1] + 1 - span[0])
            status = 206
            extra.append((b"Content-Range", b"bytes %d-%d/%d" % (span[0], span[1], total)))
    try:
        reason = reply.get("reason") or HTTPStatus(status).phrase
    except ValueError:
        reason = "Fixture"
    lines = [b"HTTP/1.1 %d %s" % (status, wire(reason))]
    ctype = reply.get("content_type")
    if ctype is None:
        ctype = ("file" in reply and mimetypes.guess_type(reply["file"])[0]) or "application/octet-stream"
    if ctype:
        lines.append(b"Content-Type: " + wire(ctype))
    if reply.get("chunked"):
        lines.append(b"Transfer-Encoding: chunked")
    elif reply.get("content_length", True):
        lines.append(b"Content-Length: %d" % int(reply.get("announced_length", len(payload))))
    lines += [n + b": " + v for n, v in extra]
    lines += [wire(n) + b": " + wire(v) for n, v in reply.get("headers", [])]
    lines.append(b"Connection: close")
    head = b"\r\n".join(lines) + b"\r\n\r\n"
    if method == b"HEAD":
        payload = Slice(Bytes(b""))
    return head, payload


def send_body(conn, reply, payload):
    """Sends payload with the reply's pacing; False when the connection must be reset."""
    chunked = bool(reply.get("chunked")) and not reply.get("raw")
    piece = int(reply.get("trickle_bytes") or 0) or PIECE
    interval = int(reply.get("trickle_interval_ms") or 0) / 1000.0
    stall_after = reply.get("stall_after")
    reset_after = reply.get("reset_after")
    pause_after = reply.get("pause_after")
    pause = int(reply.get("pause_ms") or 0) / 1000.0
    sent = 0
    while True:
        if reset_after is not None and sent >= reset_after:
            return False
        if stall_after is not None and sent >= stall_after:
            client_gone(conn, None)
            return True
        if pause_after is not None and sent >= pause_after:
            pause_after = None
            if client_gone(conn, pause):
                return True
        if sent >= len(payload):
            break
        n = min(piece, len(payload) - sent)
        for limit in (stall_after, reset_after, pause_after):
            if limit is not None and limit > sent:
                n = min(n, limit - sent)
        data = payload.read(sent, n)
        conn.sendall(b"%x\r\n%s\r\n" % (len(data), data) if chunked else data)
        sent += n
        if interval and sent < len(payload) and client_gone(conn, interval):
            return True
    if chunked:
        conn.sendall(b"0\r\n\r\n")
    return True


def respond(conn, reply, method, target, headers):
    delay = int(reply.get("delay_ms") or 0) / 1000.0
    if delay and client_gone(conn, delay):
        return
    try:
        head, payload = build_response(reply, method, headers)
    except OSError:  # a file route whose file is missing
        reply = not_found(target)
        head, payload = build_response(reply, method, headers)
    conn.sendall(head)
    if not send_body(conn, reply, payload):
        reset(conn)
        return
    conn.shutdown(socket.SHUT_WR)
    client_gone(conn, 2)  # let the client close first, so no unread byte turns our close into a reset


def not_found(target):
    body = NOT_FOUND_PREFIX + target
    return {"status": 404, "body_hex": body.hex(), "content_type": "text/plain"}


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        reader = Reader(conn)
        try:
            head = reader.head()
            if head is None:
                if reader.received:
                    STATE.record(reader.received, b"", False)
                return
            method, target, headers = parse_head(head)
            if (header(headers, b"expect") or b"").lower() == b"100-continue":
                conn.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
            body, complete = read_body(reader, headers)
            STATE.record(head, body, complete)
            if not complete:
                return
            reply = STATE.find(target) or not_found(target)
            respond(conn, reply, method, target, headers)
        except OSError:
            pass  # the client went away; nothing to tell anyone


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True
    block_on_close = False
    request_queue_size = 128


def answer(text):
    sys.stdout.buffer.write(text)
    sys.stdout.buffer.flush()


def run_command(command):
    cmd = command.get("cmd")
    if cmd == "route":
        with STATE.lock:
            STATE.routes[wire(command["path"])] = command.get("reply", {})
    elif cmd == "unroute":
        with STATE.lock:
            STATE.routes.pop(wire(command["path"]), None)
    elif cmd == "clear_routes":
        with STATE.lock:
            STATE.routes.clear()
    elif cmd == "root":
        with STATE.lock:
            STATE.root = command.get("dir") or None
    elif cmd == "clear_requests":
        with STATE.lock:
            STATE.requests.clear()
    elif cmd == "requests":
        with STATE.lock:
            recorded = list(STATE.requests)
        out = []
        for head, body, complete in recorded:
            out.append(b"REQ %s %s %d\n" % (head.hex().encode() or b"-", body.hex().encode() or b"-",
                                           1 if complete else 0))
        out.append(b"END\n")
        answer(b"".join(out))
        return
    elif cmd != "ping":
        raise ValueError("unknown command %r" % cmd)
    answer(b"OK\n")


def control_loop():
    for line in sys.stdin.buffer:
        if not line.strip():
            continue
        try:
            run_command(json.loads(line))
        except Exception as error:  # report and go on: one bad command must not end the server
            answer(b"ERR " + repr(error).encode("utf-8", "replace").replace(b"\n", b" ") + b"\n")
    os._exit(0)  # the controlling process has gone: leave at once, open connections included


def write_port_file(path, port):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser(description="Local HTTP fixture server")
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--root")
    parser.add_argument("--routes")
    parser.add_argument("--control", action="store_true")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    STATE.verbose = args.verbose
    STATE.root = os.path.abspath(args.root) if args.root else None
    if args.routes:
        with open(args.routes, encoding="utf-8") as f:
            STATE.routes = {wire(path): reply for path, reply in json.load(f).items()}

    server = Server((args.bind, args.port), Handler)
    port = server.server_address[1]
    if args.port_file:
        write_port_file(args.port_file, port)
    if args.control:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()
        answer(b"PORT %d\n" % port)
        control_loop()
        return
    sys.stderr.write("fixture: serving on http://%s:%d/\n" % (args.bind, port))
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
