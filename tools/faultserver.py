#!/usr/bin/env python3
"""A small HTTP server that misbehaves on purpose, for tests.

usage: faultserver.py --listen ADDR:PORT --max-seconds S
                      [--config FILE] [--route PATH JSON]... [--root FOLDER]
                      [--log FILE] [--raw-log FILE] [--ready-file FILE]

It reads each request's head, looks up a behaviour by the request target
(exactly, then by its path without the query, then "default"), answers as
the behaviour says, and by default closes. So /zru/ver.php answers the
version query whatever its k value. Every connection gets its own thread;
the whole server exits by itself after --max-seconds, ending every stall.

Configuration (--config FILE, JSON):

  {"routes": {"/zru/ver.php": BEHAVIOUR, "/zr/a.rar": [BEHAVIOUR, ...]},
   "default": BEHAVIOUR,
   "root": "FOLDER"}

A list of behaviours is used one per request, in order, the last one again
for every further request. "root" serves files below FOLDER, as status 200
with their Content-Length, for targets that no route names. Without a
route, a file or a "default", the answer is 404. --route PATH JSON adds or
replaces one route; --root sets "root".

BEHAVIOUR is an object with any of these keys:

  status          status code (200); "reason" its phrase (the usual one)
  body            the body as text (each character one byte, latin-1)
  body_hex        the body as hexadecimal digits
  file            the body read from this file
  body_size       a body of this many bytes, "body_fill" (default "x")
                  repeated
  headers         list of extra header lines, sent after the usual ones
  content_length  "auto" (the body's length; the default unless chunked),
                  a number (sent as it is, larger or smaller than the body),
                  or null (no Content-Length line)
  chunked         chunked transfer coding: {"sizes": [n, ...] (the last one
                  repeats; default one chunk), "extensions": [";a=b", ...]
                  (cycled over the chunks), "upper": true (hex digits in
                  upper case), "last": "0" (the last-chunk line),
                  "trailers": ["X: 1"], "header": "Transfer-Encoding: chunked"
                  (the header line as sent)}
  raw, raw_hex    send exactly these bytes instead of a response (garbage)
  garbage         send this many pseudo-random bytes instead of a response
                  ("seed" picks them; the same seed, the same bytes)
  delay           seconds to wait after the request before sending
  limit           send only the first N bytes of the response
  body_limit      send the header block and only N bytes of the body
  write_size      send in pieces of this many bytes, "write_delay" seconds
                  apart
  then            after sending: "close" (default, an orderly close),
                  "reset" (close with SO_LINGER 0, the client sees a reset),
                  or "stall" (keep the connection open, send nothing, for
                  "stall_seconds", default until --max-seconds, then close)

Recipes: stall before anything {"limit": 0, "then": "stall"}; stall after
the headers {"body_limit": 0, "then": "stall"}; close early mid-body
{"body_limit": 100}; reset mid-body {"body_limit": 100, "then": "reset"};
missing length {"content_length": null}; not found {"status": 404}.

--log FILE gets one line per request: its request line, in arrival order.
--raw-log FILE gets one JSON object per request: {"n", "peer", "request"}
with the whole request head as latin-1 text. Once listening, the server
prints "listening ADDR:PORT" (the real port when PORT is 0) and writes the
same to --ready-file.
"""

import argparse
import json
import os
import random
import socket
import struct
import sys
import threading
import time
from http import HTTPStatus

KEYS = {"status", "reason", "body", "body_hex", "file", "body_size",
        "body_fill", "headers", "content_length", "chunked", "raw", "raw_hex",
        "garbage", "seed", "delay", "limit", "body_limit", "write_size",
        "write_delay", "then", "stall_seconds"}
CHUNK_KEYS = {"sizes", "extensions", "upper", "last", "trailers", "header"}
MAX_HEAD = 65536


class ConfigError(Exception):
    pass


def check_behaviour(b, where):
    if not isinstance(b, dict):
        raise ConfigError(f"{where}: a behaviour is a JSON object")
    unknown = set(b) - KEYS
    if unknown:
        raise ConfigError(f"{where}: unknown keys {sorted(unknown)}")
    if b.get("then", "close") not in ("close", "reset", "stall"):
        raise ConfigError(f"{where}: 'then' is close, reset or stall")
    c = b.get("chunked")
    if c is not None:
        if not isinstance(c, dict) or set(c) - CHUNK_KEYS:
            raise ConfigError(f"{where}: 'chunked' takes {sorted(CHUNK_KEYS)}")
        if any(not isinstance(s, int) or s <= 0 for s in c.get("sizes", [1])):
            raise ConfigError(f"{where}: chunk sizes are positive numbers")
    cl = b.get("content_length", "auto")
    if cl != "auto" and cl is not None and not isinstance(cl, int):
        raise ConfigError(f"{where}: content_length is \"auto\", a number or null")
    if b.get("write_size", 1) <= 0:
        raise ConfigError(f"{where}: write_size must be positive")
    if "file" in b and not os.path.isfile(b["file"]):
        raise ConfigError(f"{where}: no file {b['file']}")


def body_of(b):
    if "body_hex" in b:
        return bytes.fromhex(b["body_hex"])
    if "file" in b:
        with open(b["file"], "rb") as f:
            return f.read()
    if "body_size" in b:
        fill = b.get("body_fill", "x").encode("latin-1")
        n = b["body_size"]
        return (fill * (n // len(fill) + 1))[:n]
    return b.get("body", "").encode("latin-1")


def encode_chunked(body, c):
    sizes = c.get("sizes") or [max(len(body), 1)]
    extensions = c.get("extensions") or [""]
    out = bytearray()
    pos = i = 0
    while pos < len(body):
        data = body[pos:pos + sizes[min(i, len(sizes) - 1)]]
        digits = format(len(data), "X" if c.get("upper") else "x")
        out += digits.encode() + extensions[i % len(extensions)].encode("latin-1")
        out += b"\r\n" + data + b"\r\n"
        pos += len(data)
        i += 1
    out += c.get("last", "0").encode("latin-1") + b"\r\n"
    for line in c.get("trailers", []):
        out += line.encode("latin-1") + b"\r\n"
    return bytes(out + b"\r\n")


def build_response(b):
    """Returns (whole response bytes, length of its header block)."""
    if "raw" in b:
        return b["raw"].encode("latin-1"), 0
    if "raw_hex" in b:
        return bytes.fromhex(b["raw_hex"]), 0
    if "garbage" in b:
        rng = random.Random(b.get("seed", 1))
        return bytes(rng.randrange(256) for _ in range(b["garbage"])), 0
    status = b.get("status", 200)
    try:
        reason = b.get("reason", HTTPStatus(status).phrase)
    except ValueError:
        reason = b.get("reason", "Status")
    body = body_of(b)
    lines = [f"HTTP/1.1 {status} {reason}"]
    c = b.get("chunked")
    cl = b.get("content_length", "auto")
    if cl == "auto":
        cl = None if c is not None else len(body)
    if cl is not None:
        lines.append(f"Content-Length: {cl}")
    if c is not None:
        lines.append(c.get("header", "Transfer-Encoding: chunked"))
        body = encode_chunked(body, c)
    lines.append("Connection: close")
    lines += b.get("headers", [])
    head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
    return head + body, len(head)


class Server:
    def __init__(self, config, listen, deadline, log, raw_log):
        self.routes = config.get("routes", {})
        self.default = config.get("default")
        self.root = config.get("root")
        self.deadline = deadline
        self.counts = {}
        self.requests = 0
        self.lock = threading.Lock()
        self.log = open(log, "a") if log else None
        self.raw_log = open(raw_log, "a") if raw_log else None
        host, _, port = listen.rpartition(":")
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((host, int(port)))
        self.sock.listen(64)
        self.address = "%s:%d" % self.sock.getsockname()

    def remaining(self):
        return max(0.0, self.deadline - time.monotonic())

    def sleep(self, seconds):
        time.sleep(min(max(seconds, 0.0), self.remaining()))

    def pick(self, target):
        path = target.split("?", 1)[0]
        with self.lock:
            for key in (target, path):
                if key in self.routes:
                    entry = self.routes[key]
                    if isinstance(entry, list):
                        n = self.counts.get(key, 0)
                        self.counts[key] = n + 1
                        return entry[min(n, len(entry) - 1)]
                    return entry
        if self.root:
            full = os.path.realpath(os.path.join(self.root, path.lstrip("/")))
            base = os.path.realpath(self.root)
            if full.startswith(base + os.sep) and os.path.isfile(full):
                return {"file": full}
        if self.default is not None:
            return self.default
        return {"status": 404, "body": "not found\n"}

    def read_head(self, conn):
        data = b""
        conn.settimeout(min(10.0, self.remaining()) or 0.01)
        try:
            while b"\r\n\r\n" not in data and len(data) < MAX_HEAD:
                piece = conn.recv(4096)
                if not piece:
                    break
                data += piece
        except OSError:
            pass
        return data

    def record(self, head, peer):
        line = head.split(b"\r\n", 1)[0].decode("latin-1")
        with self.lock:
            self.requests += 1
            if self.log:
                self.log.write(line + "\n")
                self.log.flush()
            if self.raw_log:
                self.raw_log.write(json.dumps({"n": self.requests,
                                               "peer": "%s:%d" % peer,
                                               "request": head.decode("latin-1")}) + "\n")
                self.raw_log.flush()
        return line

    def handle(self, conn, peer):
        try:
            head = self.read_head(conn)
            if not head:
                return
            line = self.record(head, peer)
            parts = line.split(" ")
            b = self.pick(parts[1] if len(parts) > 1 else "/")
            response, head_length = build_response(b)
            if "body_limit" in b:
                response = response[:head_length + b["body_limit"]]
            if "limit" in b:
                response = response[:b["limit"]]
            self.sleep(b.get("delay", 0))
            step = b.get("write_size") or len(response) or 1
            conn.settimeout(self.remaining() or 0.01)
            for pos in range(0, len(response), step):
                if pos and b.get("write_delay"):
                    self.sleep(b["write_delay"])
                if not self.remaining():
                    return
                conn.sendall(response[pos:pos + step])
            then = b.get("then", "close")
            if then == "stall":
                self.sleep(b.get("stall_seconds", self.remaining()))
            elif then == "reset":
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                struct.pack("ii", 1, 0))
        except OSError:
            pass
        finally:
            conn.close()

    def serve(self):
        while True:
            left = self.remaining()
            if left <= 0:
                break
            self.sock.settimeout(min(left, 0.5))
            try:
                conn, peer = self.sock.accept()
            except socket.timeout:
                continue
            threading.Thread(target=self.handle, args=(conn, peer),
                             daemon=True).start()
        self.sock.close()


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n", 1)[0], epilog=__doc__.split("\n", 5)[5],
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--listen", required=True, metavar="ADDR:PORT",
                        help="address and port (0: any free port)")
    parser.add_argument("--max-seconds", type=float, required=True,
                        metavar="S", help="exit after S seconds")
    parser.add_argument("--config", metavar="FILE", help="JSON configuration")
    parser.add_argument("--route", nargs=2, action="append", default=[],
                        metavar=("PATH", "JSON"), help="one route's behaviour")
    parser.add_argument("--root", metavar="FOLDER",
                        help="serve files below FOLDER for other targets")
    parser.add_argument("--log", metavar="FILE", help="request lines")
    parser.add_argument("--raw-log", metavar="FILE", help="whole request heads")
    parser.add_argument("--ready-file", metavar="FILE",
                        help="written with ADDR:PORT once listening")
    args = parser.parse_args()
    deadline = time.monotonic() + args.max_seconds
    try:
        config = {}
        if args.config:
            with open(args.config) as f:
                config = json.load(f)
        config.setdefault("routes", {})
        for path, text in args.route:
            config["routes"][path] = json.loads(text)
        if args.root:
            config["root"] = args.root
        if set(config) - {"routes", "default", "root"}:
            raise ConfigError("top-level keys are routes, default and root")
        for path, entry in config["routes"].items():
            for b in entry if isinstance(entry, list) else [entry]:
                check_behaviour(b, path)
        if "default" in config:
            check_behaviour(config["default"], "default")
    except (ConfigError, ValueError, OSError) as e:
        print(f"faultserver: {e}", file=sys.stderr)
        return 2
    try:
        server = Server(config, args.listen, deadline, args.log, args.raw_log)
    except (OSError, ValueError) as e:
        print(f"faultserver: cannot listen on {args.listen}: {e}", file=sys.stderr)
        return 2
    print(f"listening {server.address}", flush=True)
    if args.ready_file:
        with open(args.ready_file + ".tmp", "w") as f:
            f.write(server.address + "\n")
        os.replace(args.ready_file + ".tmp", args.ready_file)
    server.serve()
    # Threads still stalling end with the process.
    sys.stdout.flush()
    os._exit(0)


if __name__ == "__main__":
    sys.exit(main())
