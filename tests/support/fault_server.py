#!/usr/bin/python3
"""A web server with faults, for the tests of reading over HTTP.

    fault_server.py FILE [SECONDS [CERT KEY]]

Serves FILE on 127.0.0.1 (a free port, printed first on standard output)
under every path /MODE/.../NAME, answering range requests as MODE says, and
stops by itself after SECONDS (120); with CERT and KEY (PEM files) over
TLS, as https. A fault said to happen once happens to
the first request for more than 16 KiB (points, not the header's records)
of each path; "always" to every such request.

  ok            ranges as a web server answers them
  delay-MS      ranges, each answer MS milliseconds late
  link-MS-MBIT  ... and every body through one link of MBIT Mbit/s shared by
                all the answers of this mode, as a distant server's
  drop-once     the connection closes halfway through the body, once
  drop-always   ... always
  stall-once    halfway through the body nothing more comes, once
  503-once      503 Service Unavailable, once
  503-always    ... always
  429-once      429 Too Many Requests with Retry-After: 1, once; the same
                range asked again sooner than that gets 400 Bad Request
  whole         200 and the whole file (no range)
  wrong-range   a Content-Range that starts one byte late
  short         a body one byte shorter than its range
  401 403 404   that answer to every request
  etag-change   ETag "one" on the first answer, "two" on the others
  to-file       a redirect to file:///etc/passwd
  to-ok         a redirect to /ok/ of the same path, with the query kept
"""
import http.server
import os
import re
import ssl
import sys
import threading
import time

DATA = open(sys.argv[1], "rb").read()
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 120.0
seen = {}
lock = threading.Lock()
link_free = [0.0]  # when the emulated link has sent what it was given


def send_over_link(wfile, body, bytes_per_second):
    for at in range(0, len(body), 65536):
        block = body[at:at + 65536]
        with lock:
            done = max(time.time(), link_free[0]) + len(block) / bytes_per_second
            link_free[0] = done
        time.sleep(max(0.0, done - time.time()))
        wfile.write(block)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # An answer's head and body go out as they are written, as a web
    # server's do, not held back till the client acknowledges the head.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def answer(self, status, headers=(), body=b""):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        mode = self.path.split("/")[1]
        if mode.startswith("link-"):
            send_over_link(self.wfile, body, int(mode.split("-")[2]) * 1e6 / 8)
        else:
            self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?")[0]
        mode = path.split("/")[1]
        m = re.fullmatch(r"bytes=(\d+)-(\d+)", self.headers.get("Range", ""))
        big = m is not None and int(m.group(2)) - int(m.group(1)) >= 16384
        with lock:
            count = seen.get(path, 0)
            seen[path] = count + 1
            faults = seen.get((path, "big"), 0)
            if big:
                seen[(path, "big")] = faults + 1
        later = count >= 1  # not the first request of this path
        always, once = big, big and faults == 0
        if mode in ("401", "403", "404"):
            return self.answer(int(mode))
        if mode == "to-file":
            return self.answer(302, [("Location", "file:///etc/passwd")])
        if mode == "to-ok":
            return self.answer(302, [("Location", "/ok" + self.path[len("/to-ok"):])])
        if mode == "503-always" and always or mode == "503-once" and once:
            return self.answer(503)
        if mode == "429-once":
            asked = self.headers.get("Range", "")
            with lock:
                told = seen.get((path, "429"))
                if once:
                    seen[(path, "429")] = (time.time(), asked)
            if once:
                return self.answer(429, [("Retry-After", "1")])
            if told is not None and told[1] == asked and time.time() - told[0] < 0.95:
                return self.answer(400)
        if mode == "whole":
            return self.answer(200, [("ETag", '"one"')], DATA)
        if mode.startswith("delay-") or mode.startswith("link-"):
            time.sleep(int(mode.split("-")[1]) / 1000.0)
        if not m:
            return self.answer(200, [("ETag", '"one"')], DATA)
        first, last = int(m.group(1)), min(int(m.group(2)), len(DATA) - 1)
        body = DATA[first:last + 1]
        shown = first + 1 if mode == "wrong-range" else first
        etag = '"two"' if mode == "etag-change" and later else '"one"'
        headers = [("Content-Range", "bytes %d-%d/%d" % (shown, shown + len(body) - 1, len(DATA))),
                   ("ETag", etag)]
        if mode == "short":
            body = body[:-1]
        if mode == "drop-always" and always or mode in ("drop-once", "stall-once") and once:
            self.send_response(206)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            if mode == "stall-once":
                time.sleep(SECONDS)  # till the client gives up on it
            self.close_connection = True
            return
        self.answer(206, headers, body)


class Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # a client that hangs up on a fault is expected


server = Server(("127.0.0.1", 0), Handler)
server.daemon_threads = True
if len(sys.argv) > 4:
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(sys.argv[3], sys.argv[4])
    server.socket = tls.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
threading.Timer(SECONDS, lambda: os._exit(0)).start()
server.serve_forever()
