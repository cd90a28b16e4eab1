#!/usr/bin/python3
"""A pyftpdlib FTP server for tests, with switchable faults (see --help)."""

import argparse
import fnmatch
import logging
import os
import random
import signal
import socket
import stat
import struct
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer

PERMISSIONS = "elradfmwMT"
# Below vsftpd's passive blocks (20000-31999, serve.py) and the kernel's ephemeral range.
LOW_PORT_FIRST, LOW_PORT_LAST = 10000, 19999
LOW_PORT_ATTEMPTS = 200
RETR_FAULTS = ("none", "426", "silent226", "reset", "hang", "noreply")

EPILOG = """\
faults (all composable):
  --no-mlsd                FEAT offers no MLST/MLSD and MLSD is "not understood", so that
                           clients list with LIST (implied by --listing dos and --list-inject,
                           which only shape LIST)
  --listing dos            IIS-style listing lines and "215 Windows_NT" for SYST
  --list-inject FILE       raw lines of FILE (split on LF only, so CR and other control
                           bytes survive) are mixed into every LIST, one before each real
                           line and the rest at the end, each ended by CRLF
  --retr-fault MODE        after --fault-after bytes of a RETR (default: half the file):
                             426        close the data connection, reply 426
                             silent226  close the data connection, reply 226 anyway
                             reset      reset the data connection (SO_LINGER 0), reply 426
                             hang       keep the data connection open, send nothing more
                             noreply    close the data connection, never send the reply
  --fault-nth N            only the Nth RETR (counted over the server's life) fails
  --fault-name GLOB        only RETRs of files whose name matches GLOB count and fail
  --stall CMD=SECONDS      hold back the reply to CMD ("CONNECT" = the greeting); later
                           commands wait behind it; CMD=SECONDS@N stalls only the Nth one
  --refuse CMD[:GLOB][=REPLY]
                           answer CMD (whose argument matches GLOB) with REPLY instead
                           of running it; REPLY defaults to "550 Permission denied."
  --throttle BYTES         limit each data connection to BYTES per second
  --max-sessions N         accept N control connections at once; more are greeted with 421
  --masquerade ADDRESS     announce ADDRESS in PASV replies (clients must ignore it)
"""


def parse_args(argv):
    parser = argparse.ArgumentParser(
        description="pyftpdlib test server on loopback; prints the bound port once listening.",
        epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="folder served as /")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port (default)")
    parser.add_argument("--low-port", action="store_true",
                        help="listen on a free port from %d to %d instead: a command record's "
                        "Port is a 16-bit signed number, which cannot name the kernel's "
                        "ephemeral ports (32768 and up)" % (LOW_PORT_FIRST, LOW_PORT_LAST))
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on")
    parser.add_argument("--ipv6", action="store_true", help="also listen on ::1, same port")
    parser.add_argument("--user", default="pullwire")
    parser.add_argument("--password", default="pullwire-pw")
    parser.add_argument("--lifetime", type=float, default=300.0,
                        help="exit by itself after this many seconds (default 300)")
    parser.add_argument("--command-log", help="append every command received to this file")
    parser.add_argument("--no-mlsd", action="store_true")
    parser.add_argument("--listing", choices=("unix", "dos"), default="unix")
    parser.add_argument("--list-inject", metavar="FILE")
    parser.add_argument("--retr-fault", choices=RETR_FAULTS, default="none")
    parser.add_argument("--fault-after", type=int, default=-1, metavar="BYTES")
    parser.add_argument("--fault-nth", type=int, default=0, metavar="N")
    parser.add_argument("--fault-name", metavar="GLOB")
    parser.add_argument("--stall", action="append", default=[], metavar="CMD=SECONDS[@N]")
    parser.add_argument("--refuse", action="append", default=[], metavar="CMD[:GLOB][=REPLY]")
    parser.add_argument("--throttle", type=int, default=0, metavar="BYTES")
    parser.add_argument("--max-sessions", type=int, default=0, metavar="N")
    parser.add_argument("--masquerade", metavar="ADDRESS")
    parser.add_argument("--verbose", action="store_true", help="log the session to stderr")
    args = parser.parse_args(argv)
    try:
        args.stalls = [parse_stall(s) for s in args.stall]
        args.refusals = [parse_refusal(s) for s in args.refuse]
    except ValueError as err:
        parser.error(str(err))
    return args


def parse_stall(text):
    command, sep, rest = text.partition("=")
    if not sep or not command:
        raise ValueError("--stall wants CMD=SECONDS[@N], got %r" % text)
    seconds, _, nth = rest.partition("@")
    return command.upper(), float(seconds), int(nth) if nth else 0


def parse_refusal(text):
    spec, sep, reply = text.partition("=")
    command, _, glob = spec.partition(":")
    if not command:
        raise ValueError("--refuse wants CMD[:GLOB][=REPLY], got %r" % text)
    reply = reply if sep else "550 Permission denied."
    if len(reply) < 4 or not reply[:3].isdigit():
        raise ValueError("--refuse reply must start with a 3-digit code: %r" % reply)
    return command.upper(), glob or None, reply


def read_inject_lines(path):
    with open(path, "rb") as f:
        data = f.read()
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return lines


def mix_lines(real, extra):
    """Interleaves injected lines with the real ones: first, then after each real line."""
    extra = list(extra)
    for line in real:
        if extra:
            yield extra.pop(0) + b"\r\n"
        yield line
    for line in extra:
        yield line + b"\r\n"


class TestFS(AbstractedFS):
    """Filesystem view with the listing style and injected lines of the server's settings."""

    settings = None

    def format_list(self, basedir, listing, ignore_err=True):
        if self.settings.listing == "dos":
            real = self._format_dos(basedir, listing, ignore_err)
        else:
            real = AbstractedFS.format_list(self, basedir, listing, ignore_err)
        if self.settings.inject_lines:
            return mix_lines(real, self.settings.inject_lines)
        return real

    def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
        # In name order, as LIST is: tests see the same order from both.
        return AbstractedFS.format_mlsx(self, basedir, sorted(listing), perms, facts, ignore_err)

    def _format_dos(self, basedir, listing, ignore_err):
        # IIS: "06-05-02  03:19PM                 1786 index.txt"
        #      "01-16-02  11:14AM       <DIR>          epsgroup"
        for name in listing:
            try:
                st = self.lstat(os.path.join(basedir, name))
            except OSError:
                if ignore_err:
                    continue
                raise
            when = time.strftime("%m-%d-%y  %I:%M%p", time.localtime(st.st_mtime))
            if stat.S_ISDIR(st.st_mode):
                size = "       <DIR>          "
            else:
                size = " %20d " % st.st_size
            line = "%s%s%s\r\n" % (when, size, name)
            yield line.encode("utf8", self.cmd_channel.unicode_errors)


class LimitedProducer:
    """Stops a RETR's data after a byte count; the data handler then plays the fault."""

    def __init__(self, inner, limit):
        self.inner = inner
        self.left = limit

    def more(self):
        if self.left <= 0:
            return b""
        data = self.inner.more()[:self.left]
        self.left -= len(data)
        return data


class FaultDTPMixin:
    """Data connection side of --retr-fault: decides how a cut-short RETR ends."""

    _hanging = False

    def handle_close(self):
        fault = getattr(self.cmd_channel, "active_fault", None)
        if fault is None or self.receive or self._closed:
            return super().handle_close()
        if self._hanging:
            # The client gave up on a hung transfer: it sees the usual abort reply.
            self.cmd_channel.active_fault = None
            self._resp = ("426 Connection closed; transfer aborted.", logging.debug)
            self.transfer_finished = False
            return self.close()
        if fault == "hang":
            self._hanging = True
            self.modify_ioloop_events(self.ioloop.READ)
            self.receive = False
            return None
        self.cmd_channel.active_fault = None
        if fault == "silent226":
            return super().handle_close()
        if fault == "reset":
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.transfer_finished = False
        if fault == "noreply":
            self._resp = ()
        else:
            self._resp = ("426 Connection closed; transfer aborted.", logging.debug)
        return self.close()

    def handle_read(self):
        if self._hanging:
            # Only the client's close (or reset) wakes a hung connection.
            try:
                chunk = self.socket.recv(65536)
            except OSError:
                chunk = b""
            if not chunk:
                self.handle_close()
            return None
        return super().handle_read()

    handle_read_event = handle_read


class FaultDTP(FaultDTPMixin, DTPHandler):
    pass


class FaultThrottledDTP(FaultDTPMixin, ThrottledDTPHandler):
    pass


class TestHandler(FTPHandler):
    """Control connection with the command log, stalls, refusals and RETR faults."""

    settings = None
    retr_count = 0
    stall_counts = {}
    active_fault = None  # the fault the current RETR plays, set when its data is queued
    stall_queue = None   # commands waiting behind a stalled reply, in order

    def handle(self):
        stall = self._stall_for("CONNECT")
        if stall:
            self.stall_queue = []
            self.ioloop.call_later(stall, self._greet_after_stall, _errback=self.handle_error)
            return
        FTPHandler.handle(self)

    def _greet_after_stall(self):
        if self._closed:
            return
        FTPHandler.handle(self)
        self._drain_stall_queue()

    def pre_process_command(self, line, cmd, arg):
        self._log_command(line, cmd)
        if self.stall_queue is not None:
            self.stall_queue.append((line, cmd, arg))
            return
        self._dispatch(line, cmd, arg)

    def _dispatch(self, line, cmd, arg):
        stall = self._stall_for(cmd)
        if stall:
            self.stall_queue = []
            self.ioloop.call_later(stall, self._run_stalled, line, cmd, arg,
                                   _errback=self.handle_error)
            return
        refusal = self._refusal_for(cmd, arg)
        if refusal:
            self.respond(refusal)
            return
        FTPHandler.pre_process_command(self, line, cmd, arg)

    def _run_stalled(self, line, cmd, arg):
        if self._closed:
            return
        self.stall_queue = None
        refusal = self._refusal_for(cmd, arg)
        if refusal:
            self.respond(refusal)
        else:
            FTPHandler.pre_process_command(self, line, cmd, arg)
        self._drain_stall_queue()

    def _drain_stall_queue(self):
        queue, self.stall_queue = self.stall_queue or [], None
        while queue and self.stall_queue is None and not self._closed:
            self._dispatch(*queue.pop(0))
        if self.stall_queue is not None:
            self.stall_queue.extend(queue)

    def _stall_for(self, cmd):
        for command, seconds, nth in self.settings.stalls:
            if command != cmd:
                continue
            count = TestHandler.stall_counts.get(command, 0) + 1
            TestHandler.stall_counts[command] = count
            if nth == 0 or nth == count:
                return seconds
        return 0

    def _refusal_for(self, cmd, arg):
        for command, glob, reply in self.settings.refusals:
            if command != cmd:
                continue
            if glob is None or fnmatch.fnmatchcase(arg, glob) or \
                    fnmatch.fnmatchcase(os.path.basename(arg.rstrip("/")), glob):
                return reply
        return None

    def _log_command(self, line, cmd):
        log = self.settings.command_log
        if log is None:
            return
        if cmd == "PASS":
            line = "PASS ****"
        log.write(line.replace("\n", "\\n") + "\n")
        log.flush()

    def syst_reply(self):
        return "215 Windows_NT" if self.settings.listing == "dos" else "215 UNIX Type: L8"

    def ftp_SYST(self, line):
        self.respond(self.syst_reply())

    def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
        if cmd == "RETR" and file is not None and self._retr_fails(file.name):
            limit = self.settings.fault_after
            if limit < 0:
                limit = os.fstat(file.fileno()).st_size // 2
            data = LimitedProducer(data, limit)
            self.active_fault = self.settings.retr_fault
        else:
            self.active_fault = None
        return FTPHandler.push_dtp_data(self, data, isproducer, file, cmd)

    def _retr_fails(self, path):
        settings = self.settings
        if settings.retr_fault == "none":
            return False
        if settings.fault_name and not fnmatch.fnmatchcase(os.path.basename(path),
                                                           settings.fault_name):
            return False
        TestHandler.retr_count += 1
        return settings.fault_nth == 0 or settings.fault_nth == TestHandler.retr_count


def make_handler(args, log_file):
    args.command_log = log_file
    args.inject_lines = read_inject_lines(args.list_inject) if args.list_inject else []
    TestFS.settings = args
    TestHandler.settings = args

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm=PERMISSIONS)

    handler = TestHandler
    if args.no_mlsd or args.listing == "dos" or args.inject_lines:
        handler.proto_cmds = {name: info for name, info in FTPHandler.proto_cmds.items()
                              if name not in ("MLSD", "MLST")}
    handler.authorizer = authorizer
    handler.abstracted_fs = TestFS
    handler.use_sendfile = False
    handler.banner = "pyftpdlib test server ready."
    # pyftpdlib waits 3 s before answering a wrong password; tests want that answer sooner.
    handler.auth_failed_timeout = 0.1
    if args.masquerade:
        handler.masquerade_address = args.masquerade
    if args.throttle > 0:
        FaultThrottledDTP.read_limit = args.throttle
        FaultThrottledDTP.write_limit = args.throttle
        handler.dtp_handler = FaultThrottledDTP
    else:
        handler.dtp_handler = FaultDTP
    return handler


def candidate_ports(args):
    if args.low_port:
        return random.sample(range(LOW_PORT_FIRST, LOW_PORT_LAST + 1), LOW_PORT_ATTEMPTS)
    return [args.port] * (20 if args.ipv6 and args.port == 0 else 1)


def listen(args, handler):
    """Listens on the host (and ::1 on the same port); a port taken on ::1 means another try."""
    candidates = candidate_ports(args)
    attempts = len(candidates)
    for attempt in range(attempts):
        try:
            first = FTPServer((args.host, candidates[attempt]), handler)
            # Every test client connects from 127.0.0.1: a limit per address is one in all.
            first.max_cons_per_ip = args.max_sessions
        except OSError:
            if args.low_port and attempt + 1 < attempts:
                continue
            raise
        port = first.socket.getsockname()[1]
        if not args.ipv6:
            return [first], port
        try:
            return [first, FTPServer(("::1", port), handler)], port
        except OSError:
            first.close()
            if attempt + 1 == attempts:
                raise
    raise OSError("no port free on both addresses")


def main(argv):
    args = parse_args(argv)
    level = logging.DEBUG if args.verbose else logging.WARNING
    logging.basicConfig(level=level, stream=sys.stderr, format="pyftpd: %(message)s")
    log_file = open(args.command_log, "a", encoding="utf8") if args.command_log else None
    handler = make_handler(args, log_file)
    try:
        servers, port = listen(args, handler)
    except OSError as err:
        print("pyftpd: cannot listen: %s" % err, file=sys.stderr)
        return 2
    # An alarm rather than ioloop.call_later: the loop checks its timers only after an event.
    signal.signal(signal.SIGALRM, lambda signum, frame: sys.exit(0))
    signal.setitimer(signal.ITIMER_REAL, args.lifetime)
    print(port, flush=True)
    try:
        servers[0].serve_forever(handle_exit=False)
    finally:
        IOLoop.instance().close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
