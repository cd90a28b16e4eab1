"""pyftpdlib with faults, for serve.py's pyftpd kind (imported only there: pyftpdlib is slow to
load). The options are explained in tests/support/test_servers.h."""

import contextlib, fnmatch, functools, logging, os, socket, stat, struct, sys, time

sys.modules.setdefault("OpenSSL", None)  # a second less to load pyftpdlib, without its FTPS
from pyftpdlib.authorizers import DummyAuthorizer  # noqa: E402
from pyftpdlib.filesystems import AbstractedFS  # noqa: E402
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler  # noqa: E402
from pyftpdlib.servers import FTPServer  # noqa: E402

LINGER_RESET = struct.pack("ii", 1, 0)  # SO_LINGER 0: close() resets the connection
ARGS = record = None  # serve.py's command line, and the command log


class ListingFS(AbstractedFS):
    """LIST in the chosen style with the injected lines mixed in; MLSD in name order, as LIST."""

    def format_list(self, basedir, listing, ignore_err=True):
        lines = self.dos_lines(basedir, listing) if ARGS.listing == "dos" else \
            AbstractedFS.format_list(self, basedir, listing, ignore_err)
        extra = [os.fsencode(line) + b"\r\n" for line in ARGS.inject]
        for line in lines:
            if extra:
                yield extra.pop(0)
            yield line
        yield from extra

    def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
        return AbstractedFS.format_mlsx(self, basedir, sorted(listing), perms, facts, ignore_err)

    def dos_lines(self, basedir, listing):
        # IIS: "06-05-02  03:19PM                 1786 index.txt", "<DIR>" in place of a size.
        for name in listing:
            with contextlib.suppress(OSError):
                st = self.lstat(os.path.join(basedir, name))
                size = " %20d " % st.st_size if not stat.S_ISDIR(st.st_mode) else \
                    "       <DIR>          "
                when = time.strftime("%m-%d-%y  %I:%M%p", time.localtime(st.st_mtime))
                yield ("%s%s%s\r\n" % (when, size, name)).encode("utf8", "replace")


class Limited:
    """A RETR's data cut off after `left` bytes; FaultDTP then plays the fault."""

    def __init__(self, inner, left):
        self.inner, self.left = inner, left

    def more(self):
        data = self.inner.more()[:self.left] if self.left > 0 else b""
        self.left -= len(data)
        return data


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
        if fault == "reset":
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, LINGER_RESET)
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
    """The control connection: command log, stalls, refusals, DOS's SYST, RETR faults."""

    retr_count, stall_counts = 0, {}  # over the server's life
    fault = None  # the fault the current RETR plays
    queue = None  # commands received while a reply is stalled

    def handle(self):
        self.held("CONNECT", functools.partial(FTPHandler.handle, self))

    def pre_process_command(self, line, cmd, arg):
        record("PASS ****" if cmd == "PASS" else line)
        if self.queue is not None:
            return self.queue.append((line, cmd, arg))
        return self.held(cmd, functools.partial(self.run, line, cmd, arg))

    def held(self, cmd, action):
        """Runs action, or after cmd's stall, with the commands received meanwhile queued."""
        for command, seconds, nth in ARGS.stall:
            if command.upper() == cmd:
                Handler.stall_counts[cmd] = count = Handler.stall_counts.get(cmd, 0) + 1
                if int(nth) in (0, count):
                    self.queue = []
                    return self.ioloop.call_later(float(seconds), self.resume, action,
                                                  _errback=self.handle_error)
        return action()

    def resume(self, action):
        if self._closed:
            return
        queue, self.queue = self.queue, None
        action()
        while queue and self.queue is None and not self._closed:
            line, cmd, arg = queue.pop(0)
            self.held(cmd, functools.partial(self.run, line, cmd, arg))
        if self.queue is not None:
            self.queue.extend(queue)

    def run(self, line, cmd, arg):
        for command, glob, reply in ARGS.refuse:
            if command.upper() == cmd and (not glob or fnmatch.fnmatchcase(arg, glob) or
                    fnmatch.fnmatchcase(os.path.basename(arg.rstrip("/")), glob)):
                return self.respond(reply)
        return FTPHandler.pre_process_command(self, line, cmd, arg)

    def ftp_SYST(self, line):
        self.respond("215 Windows_NT" if ARGS.listing == "dos" else "215 UNIX Type: L8")

    def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
        self.fault = None
        if cmd == "RETR" and ARGS.retr_fault != "none" and fnmatch.fnmatchcase(
                os.path.basename(file.name), ARGS.fault_name):
            Handler.retr_count += 1
            if ARGS.fault_nth in (0, Handler.retr_count):
                after = ARGS.fault_after
                data = Limited(data, after if after >= 0 else os.fstat(file.fileno()).st_size // 2)
                self.fault = ARGS.retr_fault
        return FTPHandler.push_dtp_data(self, data, isproducer, file, cmd)


def make_server(args, socks, log):
    """A server of args.root on the listening sockets `socks`: the function that runs it.
    log(line) gets every command line received."""
    global ARGS, record
    ARGS, record = args, log
    logging.basicConfig(level=logging.WARNING)  # not pyftpdlib's own, which logs every session
    Handler.authorizer = DummyAuthorizer()
    Handler.authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    if args.no_mlsd or args.listing == "dos" or args.inject:
        Handler.proto_cmds = {name: info for name, info in FTPHandler.proto_cmds.items()
                              if name not in ("MLSD", "MLST")}
    Handler.abstracted_fs, Handler.dtp_handler, Handler.use_sendfile = ListingFS, FaultDTP, False
    Handler.banner = "pyftpdlib test server ready."
    Handler.auth_failed_timeout = 0.1  # not 3 s: tests want a wrong password's answer sooner
    Handler.masquerade_address = args.masquerade
    FaultDTP.read_limit = FaultDTP.write_limit = args.throttle
    servers = [FTPServer(sock, Handler) for sock in socks]
    for server in servers:  # every client comes from 127.0.0.1: a limit per address is one in all
        server.max_cons_per_ip = args.max_sessions
    return functools.partial(servers[0].serve_forever, handle_exit=False)
