"""pyftpdlib with faults (tests/support/test_servers.h), for serve.py's pyftpd kind: imported
only there, as pyftpdlib is slow to load."""

import contextlib, fnmatch, functools, io, logging, os, sys

sys.modules.setdefault("OpenSSL", None)  # a second less to load pyftpdlib, without its FTPS
from pyftpdlib.authorizers import DummyAuthorizer  # noqa: E402
from pyftpdlib.filesystems import AbstractedFS  # noqa: E402
from pyftpdlib.handlers import FileProducer, FTPHandler, ThrottledDTPHandler  # noqa: E402
from pyftpdlib.servers import FTPServer  # noqa: E402

ARGS = record = None  # serve.py's command line, and the command log


class ListingFS(AbstractedFS):
    """LIST with the injected lines mixed in; MLSD in name order, as LIST."""

    def format_list(self, basedir, listing, ignore_err=True):
        extra = [os.fsencode(line) + b"\r\n" for line in ARGS.inject]
        for line in AbstractedFS.format_list(self, basedir, listing, ignore_err):
            if extra:
                yield extra.pop(0)
            yield line
        yield from extra

    def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
        return AbstractedFS.format_mlsx(self, basedir, sorted(listing), perms, facts, ignore_err)


class FaultDTP(ThrottledDTPHandler):
    """The data connection: --throttle, and how a RETR cut short by --retr-fault ends."""

    hanging = False

    def handle_close(self):
        fault = self.cmd_channel.fault
        if fault is None or self.receive or self._closed:
            return super().handle_close()
        if fault == "hang" and not self.hanging:  # until the client closes: then 426
            self.hanging = True
            return self.modify_ioloop_events(self.ioloop.READ)
        self.cmd_channel.fault = None
        if fault == "silent226":
            return super().handle_close()
        self.transfer_finished = False
        self._resp = () if fault == "noreply" else \
            ("426 Connection closed; transfer aborted.", logging.debug)
        return self.close()

    def handle_read(self):
        if not self.hanging:
            return super().handle_read()
        chunk = b""
        with contextlib.suppress(OSError):  # only the client's close wakes a hung connection
            chunk = self.socket.recv(65536)
        return None if chunk else self.handle_close()

    handle_read_event = handle_read


class Handler(FTPHandler):
    """The control connection: command log, stalls, refusals, RETR faults."""

    retr_count, stall_counts = 0, {}  # over the server's life
    fault = queue = None  # the current RETR's fault; the commands queued behind a stall

    def handle(self):
        self.held("CONNECT", functools.partial(FTPHandler.handle, self))

    def pre_process_command(self, line, cmd, arg):
        record("PASS ****" if cmd == "PASS" else line)
        self.held(cmd, functools.partial(self.run, line, cmd, arg))

    def held(self, cmd, action):
        """Runs action, after cmd's stall, or queued behind a stalled one."""
        if self.queue is not None:
            return self.queue.append((cmd, action))
        for command, seconds, nth in map(str.split, ARGS.stall):
            if command.upper() == cmd:
                Handler.stall_counts[cmd] = count = Handler.stall_counts.get(cmd, 0) + 1
                if int(nth) in (0, count):
                    self.queue = []
                    return self.ioloop.call_later(float(seconds), self.resume, action,
                                                  _errback=self.handle_error)
        return action()

    def resume(self, action):
        queue, self.queue = self.queue, None
        if not self._closed:
            action()
        for cmd, then in queue:
            if not self._closed:
                self.held(cmd, then)

    def run(self, line, cmd, arg):
        for command, glob, reply in ARGS.refuse:
            if command.upper() == cmd and (not glob or fnmatch.fnmatchcase(arg, glob) or
                    fnmatch.fnmatchcase(os.path.basename(arg.rstrip("/")), glob)):
                return self.respond(reply)
        return FTPHandler.pre_process_command(self, line, cmd, arg)

    def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
        self.fault = None
        if cmd == "RETR" and ARGS.retr_fault != "none" and fnmatch.fnmatchcase(
                os.path.basename(file.name), ARGS.fault_name):
            Handler.retr_count += 1
            if ARGS.fault_nth in (0, Handler.retr_count):  # the data cut short, then the fault
                size = os.fstat(file.fileno()).st_size // 2
                cut = io.BytesIO(file.read(ARGS.fault_after if ARGS.fault_after >= 0 else size))
                data, self.fault = FileProducer(cut, data.type), ARGS.retr_fault
        return FTPHandler.push_dtp_data(self, data, isproducer, file, cmd)


def make_server(args, socks, log):
    """Serves args.root on the sockets, log(line) getting each command: the port, the loop."""
    global ARGS, record
    ARGS, record = args, log
    logging.basicConfig(level=logging.WARNING)  # not pyftpdlib's own, which logs every session
    Handler.authorizer = DummyAuthorizer()
    Handler.authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    if not args.mlsd or args.inject:
        Handler.proto_cmds = {name: info for name, info in FTPHandler.proto_cmds.items()
                              if name not in ("MLSD", "MLST")}
    Handler.abstracted_fs, Handler.dtp_handler, Handler.use_sendfile = ListingFS, FaultDTP, False
    Handler.banner = "pyftpdlib test server ready."
    Handler.auth_failed_timeout = 0.1  # not 3 s: tests want a wrong password's answer sooner
    Handler.masquerade_address = args.masquerade
    FaultDTP.read_limit = FaultDTP.write_limit = args.throttle
    FTPServer.max_cons_per_ip = args.max_sessions  # all clients are 127.0.0.1: a limit in all
    servers = [FTPServer(sock, Handler) for sock in socks]
    return socks[0].getsockname()[1], functools.partial(servers[0].serve_forever, handle_exit=False)
