#!/usr/bin/python3
"""Runs one loopback test server (the kinds and options: tests/support/test_servers.h) in the
foreground, for the tests, the benchmarks and the demo. Prints "PORT n" (vsftpd --tls first
"CAFILE pem" and "FINGERPRINT AB:.."), then "READY"; serves until SIGTERM, SIGINT or the
lifetime's end, then stops all it started. A failure exits 1 with the reason on stderr."""

import argparse, contextlib, ctypes, fnmatch, hashlib, json, os, random, shutil, signal, socket
import ssl, struct, subprocess, sys, tempfile, time

# --low-port: ports a record's 16-bit Port holds, below vsftpd's passive and the ephemeral ones
LOW_PORTS = range(10000, 20000)
PR_SET_PDEATHSIG, PR_SET_CHILD_SUBREAPER, PRCTL = 1, 36, ctypes.CDLL(None).prctl
ARGS = LOG = None  # the command line, the log of the commands received (workdir/commands.log)
Failure = SystemExit  # with a reason: exit code 1, the reason on stderr


def listen(ipv6=False):
    """Listening sockets on a free port of 127.0.0.1 (and with `ipv6` of ::1, same port)."""
    for port in random.sample(LOW_PORTS, 200) if ARGS.low_port else [0] * 20:
        socks = []
        try:
            for host in ["127.0.0.1"] + ["::1"] * ipv6:
                socks.append(socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET))
                socks[-1].bind((host, port))
                port = socks[-1].getsockname()[1]
                socks[-1].listen(100)
            return socks
        except OSError:
            for sock in socks:
                sock.close()
    raise Failure("no free port")


def record(line):
    print(line.replace("\n", "\\n"), file=LOG, flush=True)


def children(pid):
    with contextlib.suppress(OSError), open("/proc/%d/task/%d/children" % (pid, pid)) as f:
        return [int(child) for child in f.read().split()]
    return []


def start(workdir, argv, config=()):
    """Starts argv on a free port, `config` in workdir/server.conf ("{port}", "{dir}" filled in)."""
    def owns_listener(pid, port):
        """True once pid or a child of it listens on port (not a stranger that took the port)."""
        with open("/proc/net/tcp") as f:
            wanted = {"socket:[%s]" % r[9] for r in map(str.split, list(f)[1:])
                      if r[3] == "0A" and r[1].endswith(":%04X" % port)}
        for fds in ["/proc/%d/fd" % owner for owner in [pid] + children(pid)]:
            with contextlib.suppress(OSError):
                if any(os.readlink(os.path.join(fds, fd)) in wanted for fd in os.listdir(fds)):
                    return True
        return False

    errors = open(os.path.join(workdir, "server.stderr"), "w+", errors="replace")
    for _ in range(5):
        with listen()[0] as probe:
            port = probe.getsockname()[1]
        fill = lambda text: text.replace("{port}", str(port)).replace("{dir}", workdir)  # noqa
        path = os.path.join(workdir, "server.conf")
        with open(path, "w") as f:
            f.write("".join(fill(line) + "\n" for line in config))
        os.chmod(path, 0o600)  # vsftpd refuses (exit 2, silently) one that others may write
        proc = subprocess.Popen([fill(arg) for arg in argv], stdin=subprocess.DEVNULL,
                                stdout=errors, stderr=errors,
                                preexec_fn=lambda: PRCTL(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0))
        deadline = time.monotonic() + 20
        while proc.poll() is None and not owns_listener(proc.pid, port):
            if time.monotonic() > deadline:
                raise Failure("%s is not listening after 20 s" % argv[0])
            time.sleep(0.01)
        if proc.returncode is None:
            break  # else the port was lost to a race: another try

    def ended():
        code = proc.wait()
        errors.seek(0)
        raise Failure("%s ended, exit code %s: %s" % (argv[0], code, errors.read().strip()))
    return (port, ended) if proc.returncode is None else ended()


def stop_children():
    """Kills all started here, vsftpd's setsid() sessions too: a subreaper inherits them."""
    for _ in range(100):
        try:
            while os.waitpid(-1, os.WNOHANG)[0] > 0:
                pass
        except ChildProcessError:
            return
        for pid in children(os.getpid()):
            os.kill(pid, signal.SIGKILL)
        time.sleep(0.01)


def certificates(workdir, names):
    """A new CA, a certificate it signed for `names`: the paths of CA, certificate and key."""
    common = ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj"]
    for step in (["/CN=Test CA", "-keyout", "ca.key", "-out", "ca.pem"],
                 ["/CN=" + names.split(",")[0].split(":", 1)[-1], "-CA", "ca.pem", "-CAkey",
                  "ca.key", "-addext", "subjectAltName=" + names, "-addext",
                  "basicConstraints=critical,CA:FALSE", "-keyout", "server.key", "-out",
                  "server.pem"]):
        done = subprocess.run(common + step, cwd=workdir, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise Failure("openssl failed: " + done.stderr.strip())
    return [os.path.join(workdir, name) for name in ("ca.pem", "server.pem", "server.key")]


class Script:
    """An FTP server that follows a JSON script (see tests/support/test_servers.h)."""

    def __init__(self, args, workdir):
        with open(args.script, encoding="utf8") as f:
            self.steps, self.listener = json.load(f), listen()[0]
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        if args.tls:
            self.context.load_cert_chain(*certificates(workdir, "IP:127.0.0.1")[1:])
        self.pending, self.passive, self.active, self.fields = b"", None, None, {}

    def send(self, text="", lines=()):
        """Sends text as is, then lines with CRLF and "{pasv}" and "{port}" filled in."""
        for line in lines:
            for key, value in self.fields.items():
                line = line.replace("{%s}" % key, value)
            text += line + "\r\n"
        try:
            self.control.sendall(text.encode("utf8"))
        except OSError as err:
            raise Failure("the client went away while the server sent %r: %s" % (text[:60], err))

    def read_line(self):
        """The next line received, or None once the client closed the connection."""
        while b"\n" not in self.pending:
            chunk = b""
            with contextlib.suppress(OSError):
                chunk = self.control.recv(65536)
            if not chunk:
                return None
            self.pending += chunk
        raw, self.pending = self.pending.split(b"\n", 1)
        line = raw.removesuffix(b"\r").decode("utf8", "backslashreplace")
        record(line)
        if line.upper().startswith("PORT "):  # "PORT 127,0,0,1,4,51"
            numbers = line[5:].split(",")
            self.active = (".".join(numbers[:4]), int(numbers[4]) * 256 + int(numbers[5]))
        return line

    def send_data(self, step):
        if self.passive and "data_from" not in step:
            sock = self.passive.accept()[0]
            self.passive = self.passive.close()
        elif self.active:
            source = (step["data_from"], 0) if "data_from" in step else None
            sock = socket.create_connection(self.active, source_address=source)
        else:
            raise Failure("data to send but no passive listener and no PORT")
        if isinstance(self.control, ssl.SSLSocket):
            sock = self.context.wrap_socket(sock, server_side=True)
        payload = step["data"].encode("utf8")
        try:
            if "trickle" in step:
                for byte in payload:
                    sock.sendall(bytes([byte]))
                    time.sleep(float(step["trickle"]))
            elif "repeat" not in step:
                sock.sendall(payload)
            else:  # in blocks of about 64 KiB
                times, block = int(step["repeat"]), max(1, 65536 // max(1, len(payload)))
                for first in range(0, times, block):
                    sock.sendall(b"".join(payload.replace(b"{n}", b"%d" % n)
                                          for n in range(first, min(first + block, times))))
            if step.get("data_end") == "reset":  # SO_LINGER 0: close() resets the connection
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            elif step.get("data_end", "close") == "close" and isinstance(sock, ssl.SSLSocket):
                with contextlib.suppress(OSError):
                    sock = sock.unwrap()  # close_notify, and the client's in return
        except OSError as err:
            if "trickle" not in step and "repeat" not in step:  # those the client may end
                raise Failure("the client closed the data connection early: %s" % err)
        finally:
            sock.close()

    def run_step(self, step):
        time.sleep(float(step.get("delay", 0)))
        if step.get("passive"):
            self.passive = listen()[0]
            port = self.passive.getsockname()[1]
            self.fields = {"pasv": "127,0,0,1,%d,%d" % (port // 256, port % 256), "port": str(port)}
        self.send(lines=step.get("reply", []))
        if step.get("tls"):
            self.control = self.context.wrap_socket(self.control, server_side=True)
        self.send(step.get("send", ""))
        if "data" in step:
            self.send_data(step)
        self.send(lines=step.get("after", []))
        if step.get("action") == "close":
            self.control.close()
        elif step.get("action") == "stall":
            time.sleep(float(step["seconds"]))

    def run(self):
        self.control = self.listener.accept()[0]
        line = None  # read but not matched yet (an optional step was skipped)
        for number, step in enumerate(self.steps, 1):
            if "expect" in step:
                line = self.read_line() if line is None else line
                if line is None:
                    raise Failure("the client closed the connection at step %d (expected %r)"
                                  % (number, step["expect"]))
                if not fnmatch.fnmatchcase(line, step["expect"]):
                    if step.get("optional"):
                        continue
                    self.send(lines=["500 Scripted server expected " + step["expect"]])
                    raise Failure("step %d expected %r, got %r" % (number, step["expect"], line))
                line = None
            self.run_step(step)
        if line is not None:
            raise Failure("a line after the script's end: %r" % line)


def external(args, workdir):
    """vsftpd, dante, microsocks or ftp-proxy, with its config."""
    if args.kind == "microsocks":
        return start(workdir, ["/usr/bin/microsocks", "-i", "127.0.0.1", "-p", "{port}"])
    if args.kind == "ftp-proxy":
        return start(workdir, ["/usr/sbin/ftp-proxy", "-d", "-n", "-f", "{dir}/server.conf"], [
            "[-Global-]", "Listen 127.0.0.1", "Port {port}", "ServerType standalone",
            "DestinationAddress 127.0.0.1", "DestinationPort %d" % args.target_port,
            "AllowMagicUser yes", "DestinationTransferMode client", "TimeOut 60",
            "LogDestination {dir}/ftp-proxy.log", "PidFile {dir}/ftp-proxy.pid",
            "ForkLimit 1000"])  # the default of 40 forks a minute breaks a test suite
    if args.kind == "dante":
        users = ["user.privileged: root", "user.unprivileged: nobody"] * (os.geteuid() == 0)
        return start(workdir, ["/usr/sbin/danted", "-f", "{dir}/server.conf", "-N", "1", "-p",
                               "{dir}/danted.pid"], users + [
            "logoutput: {dir}/danted.log", "internal: 127.0.0.1 port = {port}",
            "external: 127.0.0.1", "clientmethod: none", "socksmethod: " + args.auth,
            "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 log: error }",
            "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8", "command: connect",
            "log: error connect }"])
    os.makedirs(os.path.join(workdir, "empty"), mode=0o755, exist_ok=True)
    lines = []
    if args.tls != "none":  # TLS 1.2+ for logins and data, data resuming the control's session
        ca, cert, key = certificates(workdir, args.cert_names)
        with open(cert) as f:
            digest = hashlib.sha256(ssl.PEM_cert_to_DER_cert(f.read())).digest()
        print("CAFILE %s\nFINGERPRINT %s" % (ca, ":".join("%02X" % byte for byte in digest)))
        lines = ["ssl_enable=YES", "ssl_tlsv1=NO", "ssl_ciphers=HIGH", "rsa_cert_file=" + cert,
                 "rsa_private_key_file=" + key,
                 "implicit_ssl=" + ("YES" if args.tls == "implicit" else "NO")]
    return start(workdir, ["/usr/sbin/vsftpd", "{dir}/server.conf"], lines + [
        "listen=YES", "listen_address=127.0.0.1", "listen_port={port}", "anonymous_enable=NO",
        "local_enable=YES", "write_enable=YES", "local_umask=022", "chroot_local_user=YES",
        "local_root=" + os.path.abspath(args.root), "allow_writeable_chroot=YES",
        "pasv_min_port=20000", "pasv_max_port=31999", "pam_service_name=vsftpd",
        "secure_chroot_dir={dir}/empty", "seccomp_sandbox=NO", "isolate=NO", "isolate_network=NO",
        "log_ftp_protocol=YES", "xferlog_enable=YES", "vsftpd_log_file={dir}/vsftpd.log"])


def parse(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    need, flag = dict(required=True), dict(action="store_true")
    many = dict(action="append", default=[])
    number = lambda default: dict(type=int, default=default)  # noqa: E731
    parser.add_argument("--low-port", action="store_true", help="a port from 10000 to 19999")
    parser.add_argument("--lifetime", type=float, default=0, help="seconds; 0: no end")
    parser.add_argument("--workdir", help="configs and logs (default: a temporary folder)")
    kinds = parser.add_subparsers(dest="kind", required=True)
    for kind, options in {
            "pyftpd": {"--root": need, "--user": need, "--password": need, "--ipv6": number(0),
                       "--mlsd": number(1), "--inject": many, "--retr-fault": dict(default="none"),
                       "--fault-after": number(-1), "--fault-nth": number(0),
                       "--fault-name": dict(default="*"), "--throttle": number(0),
                       "--max-sessions": number(0), "--masquerade": {},
                       "--stall": dict(metavar="'CMD SECONDS NTH'", **many),
                       "--refuse": dict(nargs=3, metavar=("CMD", "GLOB", "REPLY"), **many)},
            "scripted": {"--script": need, "--tls": flag},
            "vsftpd": {"--root": need, "--tls": dict(choices=("none", "explicit", "implicit"),
                                                     default="none"),
                       "--cert-names": dict(default="IP:127.0.0.1,DNS:localhost")},
            "dante": {"--auth": dict(choices=("none", "username"), default="none")},
            "microsocks": {}, "ftp-proxy": {"--target-port": dict(need, type=int)}}.items():
        sub = kinds.add_parser(kind)
        for name, how in options.items():
            sub.add_argument(name, **how)
    return parser.parse_args(argv)


def main(argv):
    global ARGS, LOG
    ARGS = parse(argv)
    workdir = ARGS.workdir or tempfile.mkdtemp(prefix="pullwire-%s-" % ARGS.kind)
    LOG = open(os.path.join(workdir, "commands.log"), "a", encoding="utf8")

    def on_signal(signum, frame):
        for ignored in (signal.SIGTERM, signal.SIGINT, signal.SIGALRM):
            signal.signal(ignored, signal.SIG_IGN)
        raise Failure("the lifetime ran out" if signum == signal.SIGALRM else 0)
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGALRM):
        signal.signal(signum, on_signal)
    signal.setitimer(signal.ITIMER_REAL, ARGS.lifetime)
    PRCTL(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    try:  # Failure is no Exception: pyftpdlib passes it on
        if ARGS.kind == "pyftpd":
            from pyftpd import make_server  # pyftpdlib takes a while to load: only for this kind
            port, serve = make_server(ARGS, listen(ARGS.ipv6), record)
        elif ARGS.kind == "scripted":
            script = Script(ARGS, workdir)
            port, serve = script.listener.getsockname()[1], script.run
        else:
            port, serve = external(ARGS, workdir)
        print("PORT %d\nREADY" % port, flush=True)
        serve()
    finally:
        stop_children()
        if not ARGS.workdir:
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main(sys.argv[1:])
