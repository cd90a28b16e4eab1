#!/usr/bin/python3
"""A scripted FTP server for exact transcripts: replies as a JSON script says, records every line."""

import argparse
import base64
import fnmatch
import json
import re
import os
import select
import socket
import ssl
import struct
import subprocess
import sys
import time

SCRIPT_HELP = """\
The script is JSON: a list of steps (or {"steps": [...]}), run in order over one control
connection at a time (the first is accepted before the first step). Step keys:
  "expect": "USER *"       glob for the next line received (without CRLF); "re:..." is a regular
                           expression that must match the whole line; "<EOF>" waits for the client
                           to close. Without "expect" the step runs without reading.
  "optional": true         if the line does not match, skip this step and try the next one.
  "delay": 1.5             seconds to wait before replying.
  "passive": true          open a passive listener first: "{pasv}" in replies becomes
                           "h1,h2,h3,h4,p1,p2" of it and "{port}" its port.
  "reply": ["230 ok"]      lines sent, each followed by CRLF.
  "send": "raw"            text sent as is, no CRLF added; "send_base64": any bytes.
  "data": "text"           sent on the data connection after the reply (the passive listener,
                           or else the client's last PORT/EPRT address); "data_base64": bytes.
  "data_end": "close"      "close" (default), "reset" or "hang" (left open until the control
                           connection ends); over TLS "close" sends close_notify first and "cut"
                           ends the TCP connection without it.
  "tls": true              (with --tls) TLS on the control connection after the replies, and
                           on every data connection from then on.
  "data_from": "127.0.0.2" active mode: connect to the client from this address (a stranger).
  "trickle": 0.5           send the data one byte at a time, this many seconds apart; a client
                           that closes the data connection meanwhile ends it (no failure).
  "repeat": 1000000        send the data this many times over (an endless listing), "{n}" in it
                           becoming the count (0, 1, ...) so that each copy differs; a client
                           that closes the data connection meanwhile ends it (no failure).
  "after": ["226 done"]    lines sent after the data went out.
  "action": "close"        "close" or "reset" the control connection after the replies,
                           "stall" for "seconds" without reading, "accept" the next control
                           connection (once the current one is closed).
The script ends after its last step: the connection is closed and the process exits 0. A line
that matches no step (exit 3), a client that closes early (exit 4) or the lifetime running out
(exit 5) end it with a report on stderr. Every line received goes to the transcript file.
"""

DATA_BOUND = 10.0


class ScriptFailure(Exception):
    def __init__(self, message, code):
        super().__init__(message)
        self.code = code


class Session:
    """One run of the script: the listening socket, the control and data connections."""

    def __init__(self, listener, steps, transcript, deadline):
        self.listener = listener
        self.steps = steps
        self.transcript = transcript
        self.deadline = deadline
        self.control = None
        self.pending = b""
        self.passive = None
        self.active_address = None
        self.hung = []
        self.tls = None  # the server's TLS context once the control connection is secured

    # --- time and sockets

    def time_left(self):
        left = self.deadline - time.monotonic()
        if left <= 0:
            raise ScriptFailure("lifetime ran out", 5)
        return left

    def accept_control(self):
        self.close_control()
        ready, _, _ = select.select([self.listener], [], [], self.time_left())
        if not ready:
            raise ScriptFailure("no client connected before the lifetime ran out", 5)
        self.control, _ = self.listener.accept()
        self.pending = b""

    def close_control(self, reset=False):
        if self.control is None:
            return
        if reset:
            self.control.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.control.close()
        self.control = None
        for sock in self.hung:
            sock.close()
        self.hung = []

    def send(self, data):
        if self.control is None:
            raise ScriptFailure("no control connection to send %r on" % data[:60], 4)
        try:
            self.control.sendall(data)
        except OSError as err:
            raise ScriptFailure("client went away while the server sent %r: %s"
                                % (data[:60], err), 4)

    def read_line(self):
        """The next line received, or None when the client closed the connection."""
        while b"\n" not in self.pending:
            buffered = self.tls is not None and self.control.pending() > 0
            ready, _, _ = select.select([self.control], [], [], 0 if buffered else self.time_left())
            if not ready and not buffered:
                continue
            try:
                chunk = self.control.recv(65536)
            except OSError:
                chunk = b""
            if not chunk:
                return None
            self.pending += chunk
        raw, self.pending = self.pending.split(b"\n", 1)
        if raw.endswith(b"\r"):
            raw = raw[:-1]
        line = raw.decode("utf8", "backslashreplace")
        self.transcript.write(line.replace("\n", "\\n") + "\n")
        self.transcript.flush()
        self.note_active_address(line)
        return line

    def note_active_address(self, line):
        # "PORT 127,0,0,1,4,51" / "EPRT |1|127.0.0.1|1075|"
        verb, _, arg = line.partition(" ")
        verb = verb.upper()
        try:
            if verb == "PORT":
                parts = [int(p) for p in arg.split(",")]
                self.active_address = (".".join(map(str, parts[:4])), parts[4] * 256 + parts[5])
            elif verb == "EPRT":
                fields = arg.split(arg[0])
                self.active_address = (fields[2], int(fields[3]))
        except (ValueError, IndexError):
            self.active_address = None

    # --- data connections

    def open_passive(self):
        if self.passive is not None:
            self.passive.close()
        host = self.control.getsockname()[0]
        family = socket.AF_INET6 if ":" in host else socket.AF_INET
        self.passive = socket.socket(family, socket.SOCK_STREAM)
        self.passive.bind((host, 0))
        self.passive.listen(1)
        port = self.passive.getsockname()[1]
        numbers = host.replace(".", ",") if family == socket.AF_INET else "127,0,0,1"
        return {"pasv": "%s,%d,%d" % (numbers, port // 256, port % 256), "port": str(port)}

    def data_connection(self, source):
        bound = min(DATA_BOUND, self.time_left())
        if source is not None:
            if self.active_address is None:
                raise ScriptFailure("data_from needs active mode (PORT/EPRT)", 3)
            try:
                return socket.create_connection(self.active_address, timeout=bound,
                                                source_address=(source, 0))
            except OSError as err:
                raise ScriptFailure("cannot connect from %s to the client's data address %s: %s"
                                    % (source, self.active_address, err), 4)
        if self.passive is not None:
            ready, _, _ = select.select([self.passive], [], [], bound)
            if not ready:
                raise ScriptFailure("the client did not open the passive data connection", 4)
            sock, _ = self.passive.accept()
            self.passive.close()
            self.passive = None
            return sock
        if self.active_address is None:
            raise ScriptFailure("data to send but no passive listener and no PORT/EPRT", 3)
        try:
            return socket.create_connection(self.active_address, timeout=bound)
        except OSError as err:
            raise ScriptFailure("cannot connect to the client's data address %s: %s"
                                % (self.active_address, err), 4)

    def secure_control(self, context):
        self.control = context.wrap_socket(self.control, server_side=True)
        self.tls = context

    def send_data(self, payload, end, source=None, trickle=None, repeat=None):
        sock = self.data_connection(source)
        if self.tls is not None:
            sock = self.tls.wrap_socket(sock, server_side=True)
        if trickle is not None:
            self.trickle(sock, payload, float(trickle))
            return
        if repeat is not None:
            self.flood(sock, payload, int(repeat))
            return
        try:
            sock.sendall(payload)
        except OSError as err:
            sock.close()
            raise ScriptFailure("client closed the data connection early: %s" % err, 4)
        if end == "hang":
            self.hung.append(sock)
            return
        if end == "reset":
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        elif self.tls is not None and end == "close":
            try:
                sock = sock.unwrap()  # close_notify, and the client's in return
            except OSError:
                pass
        sock.close()


    def trickle(self, sock, payload, seconds):
        try:
            for byte in payload:
                sock.sendall(bytes([byte]))
                time.sleep(min(seconds, self.time_left()))
        except OSError:
            pass  # the client gave up on the trickle, as it should
        sock.close()


    def flood(self, sock, payload, times):
        numbered = b"{n}" in payload
        per_block = max(1, 65536 // max(1, len(payload)))
        try:
            for first in range(0, times, per_block):
                self.time_left()
                count = min(per_block, times - first)
                if numbered:
                    sock.sendall(b"".join(payload.replace(b"{n}", b"%d" % n)
                                          for n in range(first, first + count)))
                else:
                    sock.sendall(payload * count)
        except OSError:
            pass  # the client stopped reading, as it should
        sock.close()


def payload(step, text_key, b64_key):
    if b64_key in step:
        return base64.b64decode(step[b64_key])
    if text_key in step:
        return step[text_key].encode("utf8")
    return None


def matches(pattern, line):
    if pattern.startswith("re:"):
        return re.fullmatch(pattern[3:], line) is not None
    return fnmatch.fnmatchcase(line, pattern)


def lines_bytes(lines, fields):
    out = b""
    for line in lines:
        for key, value in fields.items():
            line = line.replace("{%s}" % key, value)
        out += line.encode("utf8") + b"\r\n"
    return out


def tls_context(folder):
    """A server context with a self-signed certificate for 127.0.0.1, made with openssl."""
    cert, key = os.path.join(folder, "tls-cert.pem"), os.path.join(folder, "tls-key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", key, "-out", cert], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def run_step(session, step, fields, context=None):
    if "delay" in step:
        time.sleep(min(float(step["delay"]), session.time_left()))
    if step.get("passive"):
        fields.update(session.open_passive())
    if "reply" in step:
        session.send(lines_bytes(step["reply"], fields))
    if step.get("tls"):
        if context is None:
            raise ScriptFailure("a tls step needs --tls", 3)
        session.secure_control(context)
    raw = payload(step, "send", "send_base64")
    if raw is not None:
        session.send(raw)
    data = payload(step, "data", "data_base64")
    if data is not None:
        session.send_data(data, step.get("data_end", "close"), step.get("data_from"),
                          step.get("trickle"), step.get("repeat"))
    if "after" in step:
        session.send(lines_bytes(step["after"], fields))
    action = step.get("action")
    if action in ("close", "reset"):
        session.close_control(reset=action == "reset")
    elif action == "stall":
        time.sleep(min(float(step.get("seconds", 0)), session.time_left()))
    elif action == "accept":
        session.accept_control()
    elif action is not None:
        raise ScriptFailure("unknown action %r" % action, 3)


def run_script(session, context):
    session.accept_control()
    fields = {}
    line = None  # a line read but not yet matched (after an optional step was skipped)
    index = 0
    while index < len(session.steps):
        step = session.steps[index]
        pattern = step.get("expect")
        if pattern is not None:
            if line is None:
                if session.control is None:
                    raise ScriptFailure("step %d expects %r but the control connection is "
                                        "closed" % (index + 1, pattern), 3)
                line = session.read_line()
            if line is None and pattern != "<EOF>":
                raise ScriptFailure("client closed the connection at step %d (expected %r)"
                                    % (index + 1, pattern), 4)
            got = "<EOF>" if line is None else line
            if not (got == pattern if pattern == "<EOF>" else line is not None and
                    matches(pattern, line)):
                if step.get("optional"):
                    index += 1
                    continue
                session.send(("500 Scripted server expected %s\r\n" % pattern).encode("utf8"))
                raise ScriptFailure("step %d expected %r, got %r" % (index + 1, pattern, got), 3)
            line = None
            if got == "<EOF>":
                session.close_control()
        run_step(session, step, fields, context)
        index += 1
    if line is not None:
        raise ScriptFailure("unexpected line after the script's end: %r" % line, 3)


def load_steps(path):
    with open(path, encoding="utf8") as f:
        script = json.load(f)
    steps = script["steps"] if isinstance(script, dict) else script
    if not isinstance(steps, list) or not all(isinstance(s, dict) for s in steps):
        raise ValueError("the script must be a list of step objects")
    return steps


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, epilog=SCRIPT_HELP,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--script", required=True, help="JSON script (see below)")
    parser.add_argument("--transcript", required=True, help="file receiving every line read")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port (default)")
    parser.add_argument("--lifetime", type=float, default=60.0,
                        help="give up after this many seconds (default 60)")
    parser.add_argument("--tls", action="store_true",
                        help="make a self-signed certificate for the \"tls\" steps")
    args = parser.parse_args(argv)
    try:
        steps = load_steps(args.script)
    except (OSError, ValueError, KeyError) as err:
        print("scripted_ftp: bad script %s: %s" % (args.script, err), file=sys.stderr)
        return 2
    family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.bind((args.host, args.port))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)
    with open(args.transcript, "a", encoding="utf8") as transcript:
        session = Session(listener, steps, transcript, time.monotonic() + args.lifetime)
        try:
            context = tls_context(os.path.dirname(os.path.abspath(args.transcript))) \
                if args.tls else None
            run_script(session, context)
        except ScriptFailure as failure:
            print("scripted_ftp: %s" % failure, file=sys.stderr)
            session.close_control()
            return failure.code
        session.close_control()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
