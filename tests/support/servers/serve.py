#!/usr/bin/python3
"""Runs one loopback test server in the foreground, for the tests, the benchmarks and the demo.

  serve.py [--low-port] [--lifetime S] [--workdir DIR] [--log FILE] KIND [KIND's options]
  KIND: pyftpd, scripted, vsftpd, dante, microsocks, ftp-proxy    (serve.py KIND --help)

Prints "PORT n", "PID n" (the server's), for vsftpd --tls "CAFILE pem" and "FINGERPRINT AB:..",
then "READY"; serves until SIGTERM, SIGINT or the lifetime's end, then stops all it started.
--log gets every command line pyftpd or scripted reads. A failure (a client off the script, the
lifetime's end) exits 1 with the reason on stderr. vsftpd and dante's username method need root
and the ftptest account (tests/support/prepare-machine.sh). The options are explained in
tests/support/test_servers.h.
"""

import argparse, contextlib, ctypes, fnmatch, functools, hashlib, json, os, pwd, random
import shutil, signal, socket, ssl, struct, subprocess, sys, tempfile, time

SYSTEM_USER = "ftptest"  # kSystemUser in tests/support/test_servers.h
# --low-port control ports, which a command record's 16-bit signed Port can hold. vsftpd's
# passive ports come next (20000-31999; it tries another when one is taken): all below the
# kernel's ephemeral ports, so none is one that bind(0) handed to someone else.
LOW_PORTS = range(10000, 20000)
PR_SET_PDEATHSIG, PR_SET_CHILD_SUBREAPER = 1, 36
LINGER_RESET = struct.pack("ii", 1, 0)  # SO_LINGER 0: close() resets the connection
ARGS = LOG = None  # the command line, and the --log file


class Failure(Exception):
    """Ends the run with exit code 1 and the reason on stderr."""


def listen(ipv6=False):
    """Listening sockets on a free port of 127.0.0.1 (of LOW_PORTS with --low-port), with `ipv6`
    also on ::1 with the same port."""
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
    if LOG:
        LOG.write(line.replace("\n", "\\n") + "\n")
        LOG.flush()


def prctl(option, value):
    ctypes.CDLL(None).prctl(option, value, 0, 0, 0)


def die_with_parent():
    prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def children(pid):
    with contextlib.suppress(OSError), open("/proc/%d/task/%d/children" % (pid, pid)) as f:
        return [int(child) for child in f.read().split()]
    return []


def start(workdir, argv_for_port):
    """Starts an external server on a free port; a port lost to a race means another try."""
    errors = os.path.join(workdir, "server.stderr")
    for _ in range(5):
        with listen()[0] as probe:
            port = probe.getsockname()[1]
        with open(errors, "wb") as err:
            proc = subprocess.Popen(argv_for_port(port), stdin=subprocess.DEVNULL, stdout=err,
                                    stderr=err, preexec_fn=die_with_parent)
        deadline = time.monotonic() + 20
        while proc.poll() is None and not owns_listener(proc.pid, port):
            if time.monotonic() > deadline:
                raise Failure("%s is not listening after 20 s" % proc.args[0])
            time.sleep(0.01)
        if proc.returncode is None:
            return port, proc.pid, lambda: report(proc, errors)
    report(proc, errors)


def owns_listener(pid, port):
    """True once pid or a child of it listens on port (not a stranger that took the port)."""
    with open("/proc/net/tcp") as f:
        rows = [row.split() for row in list(f)[1:]]
    wanted = {"socket:[%s]" % r[9] for r in rows if r[3] == "0A" and r[1].endswith(":%04X" % port)}
    for fds in ["/proc/%d/fd" % owner for owner in [pid] + children(pid)]:
        with contextlib.suppress(OSError):
            if any(os.readlink(os.path.join(fds, fd)) in wanted for fd in os.listdir(fds)):
                return True
    return False


def report(proc, errors):
    code = proc.wait()
    with open(errors, errors="replace") as f:
        raise Failure("%s ended, exit code %s: %s" % (proc.args[0], code, f.read().strip()))


def stop_children():
    """Stops every process this launcher started and what they forked: vsftpd's sessions call
    setsid(), out of reach of a signal to the process group, but a subreaper inherits them."""
    for signum in (signal.SIGTERM, signal.SIGKILL):
        deadline = time.monotonic() + 0.5
        while time.monotonic() < deadline:
            try:
                while os.waitpid(-1, os.WNOHANG)[0] > 0:
                    pass
            except ChildProcessError:
                return
            for pid in children(os.getpid()):
                os.kill(pid, signum)
            time.sleep(0.02)


def write_config(path, lines):
    with open(path, "w") as f:
        f.write("\n".join(lines + [""]))
    os.chmod(path, 0o600)  # vsftpd refuses (exit 2, silently) one that others may write


def certificates(workdir, names):
    """A fresh CA and a server certificate it signed for `names` (subjectAltName syntax), made
    with the openssl command: the paths of the CA, the certificate and its key."""
    path = functools.partial(os.path.join, workdir)
    write_config(path("san.cnf"), ["subjectAltName=" + names])
    new_key = ["-newkey", "rsa:2048", "-nodes", "-subj"]
    for step in (["req", "-x509", "-days", "2"] + new_key + ["/CN=Test CA", "-keyout",
                  path("ca.key"), "-out", path("ca.pem")],
                 ["req"] + new_key + ["/CN=" + names.split(",")[0].split(":", 1)[-1],
                  "-keyout", path("server.key"), "-out", path("server.csr")],
                 ["x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"), "-CAkey",
                  path("ca.key"), "-CAcreateserial", "-days", "2", "-extfile", path("san.cnf"),
                  "-out", path("server.pem")]):
        done = subprocess.run(["openssl"] + step, stdin=subprocess.DEVNULL, capture_output=True,
                              text=True)
        if done.returncode != 0:
            raise Failure("openssl %s failed: %s" % (step[0], done.stderr.strip()))
    return path("ca.pem"), path("server.pem"), path("server.key")


def pyftpd(args, workdir, facts):
    from pyftpd import make_server  # pyftpdlib takes a while to load: only for this kind
    socks = listen(args.ipv6)
    return socks[0].getsockname()[1], os.getpid(), make_server(args, socks, record)


# --- scripted: an FTP server that follows a JSON script (see tests/support/test_servers.h) -----

class Script:
    def __init__(self, steps, context):
        self.steps, self.context, self.listener = steps, context, listen()[0]
        self.control, self.pending, self.passive, self.active = None, b"", None, None

    def send(self, data):
        try:
            self.control.sendall(data)
        except OSError as err:
            raise Failure("the client went away while the server sent %r: %s" % (data[:60], err))

    def send_lines(self, lines, fields):
        for line in lines:
            for key, value in fields.items():
                line = line.replace("{%s}" % key, value)
            self.send(line.encode("utf8") + b"\r\n")

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
        line = (raw[:-1] if raw.endswith(b"\r") else raw).decode("utf8", "backslashreplace")
        record(line)
        if line.upper().startswith("PORT "):  # "PORT 127,0,0,1,4,51"
            numbers = line[5:].split(",")
            self.active = (".".join(numbers[:4]), int(numbers[4]) * 256 + int(numbers[5]))
        return line

    def send_data(self, step, payload):
        if self.passive and "data_from" not in step:
            sock = self.passive.accept()[0]
            self.passive.close()
            self.passive = None
        elif self.active:
            source = (step["data_from"], 0) if "data_from" in step else None
            sock = socket.create_connection(self.active, source_address=source)
        else:
            raise Failure("data to send but no passive listener and no PORT")
        if isinstance(self.control, ssl.SSLSocket):
            sock = self.context.wrap_socket(sock, server_side=True)
        try:
            stream(sock, payload, step)
            if step.get("data_end") == "reset":
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, LINGER_RESET)
            elif step.get("data_end", "close") == "close" and isinstance(sock, ssl.SSLSocket):
                with contextlib.suppress(OSError):
                    sock = sock.unwrap()  # close_notify, and the client's in return
        except OSError as err:
            if "trickle" not in step and "repeat" not in step:  # those the client may end
                raise Failure("the client closed the data connection early: %s" % err)
        finally:
            sock.close()

    def run_step(self, step, fields):
        time.sleep(float(step.get("delay", 0)))
        if step.get("passive"):
            self.passive = listen()[0]
            port = self.passive.getsockname()[1]
            fields.update(pasv="127,0,0,1,%d,%d" % (port // 256, port % 256), port=str(port))
        self.send_lines(step.get("reply", []), fields)
        if step.get("tls"):
            self.control = self.context.wrap_socket(self.control, server_side=True)
        if "send" in step:
            self.send(step["send"].encode("utf8"))
        if "data" in step:
            self.send_data(step, step["data"].encode("utf8"))
        self.send_lines(step.get("after", []), fields)
        if step.get("action") == "close":
            self.control.close()
        elif step.get("action") == "stall":
            time.sleep(float(step["seconds"]))

    def run(self):
        self.control = self.listener.accept()[0]
        fields, line = {}, None  # line: read but not matched yet (an optional step was skipped)
        for number, step in enumerate(self.steps, 1):
            if "expect" in step:
                line = self.read_line() if line is None else line
                if line is None:
                    raise Failure("the client closed the connection at step %d (expected %r)"
                                  % (number, step["expect"]))
                if not fnmatch.fnmatchcase(line, step["expect"]):
                    if step.get("optional"):
                        continue
                    self.send(("500 Scripted server expected %s\r\n" % step["expect"]).encode())
                    raise Failure("step %d expected %r, got %r" % (number, step["expect"], line))
                line = None
            self.run_step(step, fields)
        if line is not None:
            raise Failure("a line after the script's end: %r" % line)


def stream(sock, payload, step):
    """Sends the data at once, byte by byte "trickle" seconds apart, or "repeat" times over with
    "{n}" in it counting."""
    if "trickle" in step:
        for byte in payload:
            sock.sendall(bytes([byte]))
            time.sleep(float(step["trickle"]))
        return
    if "repeat" not in step:
        return sock.sendall(payload)
    times, block = int(step["repeat"]), max(1, 65536 // max(1, len(payload)))
    for first in range(0, times, block):
        sock.sendall(b"".join(payload.replace(b"{n}", b"%d" % n)
                              for n in range(first, min(first + block, times))))


def scripted(args, workdir, facts):
    with open(args.script, encoding="utf8") as f:
        script = Script(json.load(f), ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER))
    if args.tls:
        script.context.load_cert_chain(*certificates(workdir, "IP:127.0.0.1")[1:])
    return script.listener.getsockname()[1], os.getpid(), script.run


# --- vsftpd, dante, microsocks, ftp-proxy -----------------------------------------------------

def vsftpd(args, workdir, facts):
    if os.geteuid() != 0:
        raise Failure("vsftpd needs root (it switches to the logged-in user)")
    try:
        account, root = pwd.getpwnam(SYSTEM_USER), os.path.abspath(args.root)
    except KeyError:
        raise Failure("no user %s: run tests/support/prepare-machine.sh" % SYSTEM_USER)
    for folder, dirs, files in os.walk(root):  # DELE and RMD work, folders can be entered
        os.chmod(folder, os.stat(folder).st_mode | 0o755)
        for path in [folder] + [os.path.join(folder, name) for name in files + dirs]:
            os.chown(path, account.pw_uid, account.pw_gid, follow_symlinks=False)
    os.makedirs(os.path.join(workdir, "empty"), mode=0o755, exist_ok=True)
    conf, lines = os.path.join(workdir, "vsftpd.conf"), []
    if args.tls:  # TLS 1.2 at least for logins and data, data resuming the control's session
        facts["CAFILE"], cert, key = certificates(workdir, args.cert_names)
        with open(cert) as f:
            digest = hashlib.sha256(ssl.PEM_cert_to_DER_cert(f.read())).digest()
        facts["FINGERPRINT"] = ":".join("%02X" % byte for byte in digest)
        lines = ["ssl_enable=YES", "allow_anon_ssl=NO", "force_local_logins_ssl=YES",
                 "force_local_data_ssl=YES", "require_ssl_reuse=YES", "ssl_sslv2=NO",
                 "ssl_sslv3=NO", "ssl_tlsv1=NO", "ssl_ciphers=HIGH", "rsa_cert_file=" + cert,
                 "rsa_private_key_file=" + key,
                 "implicit_ssl=" + ("YES" if args.tls == "implicit" else "NO")]

    def argv(port):
        write_config(conf, lines + [
            "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1", "listen_port=%d" % port,
            "background=NO", "anonymous_enable=NO", "local_enable=YES", "write_enable=YES",
            "local_umask=022", "local_root=" + root, "chroot_local_user=YES",
            "allow_writeable_chroot=YES", "pasv_enable=YES", "pasv_min_port=20000",
            "pasv_max_port=31999", "port_enable=YES",
            "connect_from_port_20=NO", "pam_service_name=vsftpd",
            "secure_chroot_dir=" + os.path.join(workdir, "empty"), "seccomp_sandbox=NO",
            "isolate=NO", "isolate_network=NO", "log_ftp_protocol=YES", "xferlog_enable=YES",
            "vsftpd_log_file=" + os.path.join(workdir, "vsftpd.log"), "userlist_enable=NO",
            "max_per_ip=0", "max_clients=0"])
        return ["/usr/sbin/vsftpd", conf]
    return start(workdir, argv)


def dante(args, workdir, facts):
    conf = os.path.join(workdir, "danted.conf")
    users = ["user.privileged: root", "user.unprivileged: nobody"] if os.geteuid() == 0 else []

    def argv(port):
        write_config(conf, [
            "logoutput: " + os.path.join(workdir, "danted.log"),
            "internal: 127.0.0.1 port = %d" % port, "external: 127.0.0.1",
            "clientmethod: none", "socksmethod: " + args.auth] + users + [
            "client pass {", "  from: 127.0.0.0/8 to: 0.0.0.0/0", "  log: error", "}",
            "socks pass {", "  from: 127.0.0.0/8 to: 127.0.0.0/8", "  command: connect",
            "  log: error connect", "}"])
        return ["/usr/sbin/danted", "-f", conf, "-p", os.path.join(workdir, "danted.pid"),
                "-N", "1"]
    return start(workdir, argv)


def microsocks(args, workdir, facts):
    return start(workdir, lambda port: ["/usr/bin/microsocks", "-i", "127.0.0.1", "-p", str(port)])


def ftp_proxy(args, workdir, facts):
    conf = os.path.join(workdir, "ftp-proxy.conf")

    def argv(port):
        write_config(conf, [
            "[-Global-]", "Listen 127.0.0.1", "Port %d" % port, "ServerType standalone",
            "DestinationAddress 127.0.0.1", "DestinationPort %d" % args.target_port,
            "AllowMagicUser yes", "DestinationTransferMode client", "TimeOut 60",
            "LogDestination " + os.path.join(workdir, "ftp-proxy.log"),
            "PidFile " + os.path.join(workdir, "ftp-proxy.pid"),
            "ForkLimit 1000"])  # the default of 40 forks a minute breaks a test suite
        return ["/usr/sbin/ftp-proxy", "-d", "-n", "-f", conf]
    return start(workdir, argv)


# --- the launcher -------------------------------------------------------------------------------

def parse(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--low-port", action="store_true", help="a port from 10000 to 19999")
    parser.add_argument("--lifetime", type=float, default=0, help="seconds; 0: no end")
    parser.add_argument("--workdir", help="configs and logs (default: a temporary folder)")
    parser.add_argument("--log", help="the file that gets every command line received")
    kinds = parser.add_subparsers(dest="kind", required=True)
    py = kinds.add_parser("pyftpd", help="pyftpdlib serving --root, with faults")
    for flag in ("--root", "--user", "--password"):
        py.add_argument(flag, required=True)
    for flag in ("--ipv6", "--no-mlsd"):
        py.add_argument(flag, action="store_true")
    py.add_argument("--listing", choices=("unix", "dos"), default="unix")
    py.add_argument("--inject", action="append", default=[], metavar="LINE")
    py.add_argument("--retr-fault", default="none",
                    choices=("none", "426", "silent226", "reset", "hang", "noreply"))
    for flag, default in (("--fault-after", -1), ("--fault-nth", 0), ("--throttle", 0),
                          ("--max-sessions", 0)):
        py.add_argument(flag, type=int, default=default)
    py.add_argument("--fault-name", default="*")
    py.add_argument("--stall", nargs=3, action="append", default=[],
                    metavar=("CMD", "SECONDS", "NTH"))
    py.add_argument("--refuse", nargs=3, action="append", default=[],
                    metavar=("CMD", "GLOB", "REPLY"))
    py.add_argument("--masquerade")
    sc = kinds.add_parser("scripted", help="follows a JSON script")
    sc.add_argument("--script", required=True)
    sc.add_argument("--tls", action="store_true")
    vs = kinds.add_parser("vsftpd", help="vsftpd serving --root as " + SYSTEM_USER)
    vs.add_argument("--root", required=True)
    vs.add_argument("--tls", choices=("explicit", "implicit"))
    vs.add_argument("--cert-names", default="IP:127.0.0.1,DNS:localhost")
    kinds.add_parser("dante").add_argument("--auth", choices=("none", "username"), default="none")
    kinds.add_parser("microsocks")
    kinds.add_parser("ftp-proxy").add_argument("--target-port", type=int, required=True)
    return parser.parse_args(argv)


def on_signal(signum, frame):
    for ignored in (signal.SIGTERM, signal.SIGINT, signal.SIGALRM):
        signal.signal(ignored, signal.SIG_IGN)
    if signum == signal.SIGALRM:
        print("serve.py: the lifetime ran out", file=sys.stderr)
    raise SystemExit(int(signum == signal.SIGALRM))  # not an Exception: pyftpdlib passes it on


def main(argv):
    global ARGS, LOG
    ARGS = parse(argv)
    LOG = open(ARGS.log, "a", encoding="utf8") if ARGS.log else None
    workdir = ARGS.workdir or tempfile.mkdtemp(prefix="pullwire-%s-" % ARGS.kind)
    os.makedirs(workdir, exist_ok=True)
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGALRM):
        signal.signal(signum, on_signal)
    signal.setitimer(signal.ITIMER_REAL, ARGS.lifetime)
    prctl(PR_SET_CHILD_SUBREAPER, 1)
    try:
        facts = {}
        starter = globals()[ARGS.kind.replace("-", "_")]  # the function named after the kind
        port, pid, serve = starter(ARGS, workdir, facts)
        print("PORT %d\nPID %d" % (port, pid))
        for key, value in facts.items():
            print(key, value)
        print("READY", flush=True)
        serve()
        return 0
    except (Failure, OSError, ValueError) as err:
        print("serve.py %s: %s" % (ARGS.kind, err), file=sys.stderr)
        return 1
    finally:
        stop_children()
        if not ARGS.workdir:
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
