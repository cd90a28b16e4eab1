#!/usr/bin/python3
"""Starts one loopback test server (pyftpd, vsftpd, dante, microsocks, ftp-proxy) in the foreground.

Prints "PORT <n>", "PID <pid>" (and for vsftpd "PASSIVE <low>-<high>", with --tls "CAFILE <pem>"
and the certificate's "FINGERPRINT <sha256>", always "WORKDIR <dir>"), then "READY"; stays until
SIGTERM/SIGINT or --lifetime, then stops its server by PID.
Options before the server's name are serve.py's own:

  serve.py --lifetime 600 vsftpd --root /dev/shm/tree      (as root, after prepare-machine.sh)
  serve.py vsftpd --root /srv/t --tls explicit             (a fresh CA; clients trust CAFILE)
  serve.py pyftpd --root examples/demo-site --user demo --password demo
  serve.py dante --auth username;  serve.py ftp-proxy --target-port 2121
"""

import argparse
import ctypes
import fcntl
import os
import pwd
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"
# Must match kSystemUser / kSystemPassword in tests/support/test_servers.h.
SYSTEM_USER = "ftptest"
SYSTEM_PASSWORD = "pullwire-ftptest-1"
# vsftpd picks its passive ports itself: each instance owns a block below the kernel's ephemeral
# range (32768 and up), so no port another test got from bind(0) can be taken by a data listener.
PASSIVE_FIRST, PASSIVE_LAST, PASSIVE_BLOCK = 20000, 31999, 16
READY_BOUND = 10.0
PR_SET_PDEATHSIG = 1
PR_SET_CHILD_SUBREAPER = 36


class StartError(Exception):
    pass


def die_with_parent():
    """preexec_fn: the server gets SIGTERM when this launcher dies, however it dies."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


def become_subreaper():
    """Orphans of the server (sessions it forked) become this launcher's children, not init's."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


# --low-port: control ports below vsftpd's passive blocks and the kernel's ephemeral range, so
# that a command record's 16-bit signed Port can name them.
LOW_PORT_FIRST, LOW_PORT_LAST = 10000, 19999
LOW_PORT = False


def free_port():
    if LOW_PORT:
        for port in random.sample(range(LOW_PORT_FIRST, LOW_PORT_LAST + 1), 200):
            if port_is_free(port):
                return port
        raise StartError("no free port between %d and %d" % (LOW_PORT_FIRST, LOW_PORT_LAST))
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_is_free(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


def accepting(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.settimeout(0.5)
        return s.connect_ex(("127.0.0.1", port)) == 0


def listener_inodes(port):
    inodes = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f)
                for row in f:
                    fields = row.split()
                    local, state, inode = fields[1], fields[3], fields[9]
                    if state == "0A" and int(local.rsplit(":", 1)[1], 16) == port:
                        inodes.add(inode)
        except OSError:
            continue
    return inodes


def descendants(pid):
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        ppid = int(stat.rsplit(")", 1)[1].split()[1])
        children.setdefault(ppid, []).append(int(entry))
    found, todo = [], [pid]
    while todo:
        current = todo.pop()
        found.append(current)
        todo.extend(children.get(current, []))
    return found


def owns_listener(pid, port):
    """True when the listening socket on port belongs to pid or one of its children: another
    process that grabbed the port between our probe and the server's bind does not count."""
    wanted = {"socket:[%s]" % inode for inode in listener_inodes(port)}
    for owner in descendants(pid):
        fd_dir = "/proc/%d/fd" % owner
        try:
            for fd in os.listdir(fd_dir):
                try:
                    if os.readlink(os.path.join(fd_dir, fd)) in wanted:
                        return True
                except OSError:
                    continue
        except OSError:
            continue
    return False


def wait_ready(proc, port, stderr_path):
    deadline = time.monotonic() + READY_BOUND
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return False
        if accepting(port) and owns_listener(proc.pid, port):
            return True
        time.sleep(0.01)
    raise StartError("not accepting on port %d within %.0f s: %s"
                     % (port, READY_BOUND, read_text(stderr_path)))


def read_text(path):
    try:
        with open(path, errors="replace") as f:
            return f.read().strip()
    except OSError:
        return ""


def start_on_free_port(make_argv, workdir, attempts=5):
    """Starts the server on a probed free port; a port lost to a race means another try."""
    stderr_path = os.path.join(workdir, "server.stderr")
    for _ in range(attempts):
        port = free_port()
        argv = make_argv(port)
        with open(stderr_path, "wb") as err:
            proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=err, stderr=err,
                                    preexec_fn=die_with_parent)
        if wait_ready(proc, port, stderr_path):
            return proc, port
        proc.wait()
    raise StartError("%s did not start (exit code %s): %s"
                     % (os.path.basename(argv[0]), proc.returncode, read_text(stderr_path)))


def write_config(path, text, private):
    with open(path, "w") as f:
        f.write(text)
    if private and os.geteuid() == 0:
        # vsftpd refuses (exit 2, silently) a config that root does not own.
        os.chown(path, 0, 0)
        os.chmod(path, 0o600)


class PassiveBlock:
    """An flock-held block of ports below 32768, owned for the life of this process."""

    def __init__(self):
        folder = os.path.join(tempfile.gettempdir(), "pullwire-passive-%d" % os.getuid())
        os.makedirs(folder, mode=0o700, exist_ok=True)
        starts = list(range(PASSIVE_FIRST, PASSIVE_LAST + 1 - PASSIVE_BLOCK, PASSIVE_BLOCK))
        random.shuffle(starts)
        for start in starts[:100]:
            fd = os.open(os.path.join(folder, "%d.lock" % start), os.O_RDWR | os.O_CREAT, 0o600)
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except OSError:
                os.close(fd)
                continue
            if all(port_is_free(p) for p in range(start, start + PASSIVE_BLOCK)):
                self.fd, self.low, self.high = fd, start, start + PASSIVE_BLOCK - 1
                return
            os.close(fd)
        raise StartError("no free passive port block between %d and %d"
                         % (PASSIVE_FIRST, PASSIVE_LAST))


def system_user():
    try:
        return pwd.getpwnam(SYSTEM_USER)
    except KeyError:
        raise StartError("the system user %s does not exist: run tests/support/prepare-machine.sh"
                         % SYSTEM_USER)


def check_traversable(root, account):
    path = os.path.abspath(root)
    while True:
        st = os.stat(path)
        if not (st.st_mode & 0o001 or (st.st_uid == account.pw_uid and st.st_mode & 0o100)):
            raise StartError("%s is not traversable by %s (vsftpd could not enter the root)"
                             % (path, SYSTEM_USER))
        if path == "/":
            return
        path = os.path.dirname(path)


def grant_tree(root, account):
    """Hands the tree to the FTP account so DELE and RMD work, folders traversable."""
    for folder, dirs, files in os.walk(root):
        os.chown(folder, account.pw_uid, account.pw_gid)
        os.chmod(folder, os.stat(folder).st_mode | 0o755)
        for name in files + [d for d in dirs if os.path.islink(os.path.join(folder, d))]:
            os.chown(os.path.join(folder, name), account.pw_uid, account.pw_gid,
                     follow_symlinks=False)


def make_certificates(workdir, names):
    """A private CA and a server certificate it signed for `names` (subjectAltName syntax), made
    with the openssl command; returns the paths of the CA, the certificate and its key."""
    ca, ca_key = os.path.join(workdir, "ca.pem"), os.path.join(workdir, "ca.key")
    cert, key = os.path.join(workdir, "server.pem"), os.path.join(workdir, "server.key")
    csr, extensions = os.path.join(workdir, "server.csr"), os.path.join(workdir, "san.cnf")
    with open(extensions, "w") as f:
        f.write("subjectAltName=%s\n" % names)
    first = names.split(",")[0].split(":", 1)[-1]
    steps = [
        ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Test CA",
         "-keyout", ca_key, "-out", ca],
        ["req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=%s" % first, "-keyout", key,
         "-out", csr],
        ["x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial", "-days", "2",
         "-extfile", extensions, "-out", cert],
    ]
    for step in steps:
        done = subprocess.run(["openssl"] + step, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if done.returncode != 0:
            raise StartError("openssl %s failed: %s"
                             % (step[0], done.stderr.decode(errors="replace").strip()))
    return ca, cert, key


def fingerprint(cert):
    """The certificate's SHA-256 fingerprint, "AB:CD:...", as openssl prints it."""
    done = subprocess.run(["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", cert],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if done.returncode != 0 or "=" not in done.stdout:
        raise StartError("openssl x509 -fingerprint failed: %s" % done.stderr.strip())
    return done.stdout.strip().split("=", 1)[1]


def vsftpd_tls_lines(args, cert, key):
    """TLS required for logins and data, data connections resuming the control connection's
    TLS session; implicit: TLS from the first byte."""
    lines = ["ssl_enable=YES", "allow_anon_ssl=NO", "force_local_logins_ssl=YES",
             "force_local_data_ssl=YES", "require_ssl_reuse=YES", "ssl_sslv2=NO", "ssl_sslv3=NO",
             "ssl_tlsv1=NO", "ssl_ciphers=HIGH", "rsa_cert_file=%s" % cert,
             "rsa_private_key_file=%s" % key]
    if args.tls == "implicit":
        lines.append("implicit_ssl=YES")
    return lines


def vsftpd_config(args, workdir, port, block, tls_lines=()):
    return "\n".join(list(tls_lines) + [
        "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1", "listen_port=%d" % port,
        "background=NO", "anonymous_enable=NO", "local_enable=YES", "write_enable=YES",
        "local_umask=022", "local_root=%s" % os.path.abspath(args.root),
        "chroot_local_user=YES", "allow_writeable_chroot=YES",
        "pasv_enable=YES", "pasv_min_port=%d" % block.low, "pasv_max_port=%d" % block.high,
        "port_enable=YES", "connect_from_port_20=NO", "pam_service_name=vsftpd",
        "secure_chroot_dir=%s" % os.path.join(workdir, "empty"), "seccomp_sandbox=NO",
        "isolate=NO", "isolate_network=NO",
        "vsftpd_log_file=%s" % os.path.join(workdir, "vsftpd.log"), "log_ftp_protocol=YES",
        "xferlog_enable=YES",
        "userlist_enable=NO", "max_per_ip=0", "max_clients=0", ""])


def start_vsftpd(args, workdir, facts):
    if os.geteuid() != 0:
        raise StartError("vsftpd needs root (it switches to the logged-in user)")
    account = system_user()
    if not os.path.isdir(args.root):
        raise StartError("no such folder: %s" % args.root)
    check_traversable(args.root, account)
    grant_tree(args.root, account)
    os.makedirs(os.path.join(workdir, "empty"), mode=0o755, exist_ok=True)
    block = PassiveBlock()
    facts["PASSIVE"] = "%d-%d" % (block.low, block.high)
    facts["_keep"] = block
    tls_lines = []
    if args.tls != "none":
        ca, cert, key = make_certificates(workdir, args.cert_names)
        facts["CAFILE"] = ca
        facts["FINGERPRINT"] = fingerprint(cert)
        tls_lines = vsftpd_tls_lines(args, cert, key)
    conf = os.path.join(workdir, "vsftpd.conf")

    def argv(port):
        write_config(conf, vsftpd_config(args, workdir, port, block, tls_lines), private=True)
        return ["/usr/sbin/vsftpd", conf]
    return start_on_free_port(argv, workdir)


def dante_config(args, workdir, port):
    lines = [
        "logoutput: %s" % os.path.join(workdir, "danted.log"),
        "internal: 127.0.0.1 port = %d" % port,
        "external: 127.0.0.1",
        "clientmethod: none",
        "socksmethod: %s" % args.auth,
    ]
    if os.geteuid() == 0:
        lines += ["user.privileged: root", "user.unprivileged: nobody"]
    lines += [
        "client pass {", "  from: 127.0.0.0/8 to: 0.0.0.0/0", "  log: error", "}",
        "socks pass {", "  from: 127.0.0.0/8 to: 127.0.0.0/8", "  command: connect",
        "  log: error connect", "}", ""]
    return "\n".join(lines)


def start_dante(args, workdir, facts):
    if args.auth == "username":
        if os.geteuid() != 0:
            raise StartError("dante's username method needs root (it reads the shadow file)")
        system_user()
    conf = os.path.join(workdir, "danted.conf")
    pidfile = os.path.join(workdir, "danted.pid")

    def argv(port):
        write_config(conf, dante_config(args, workdir, port), private=False)
        return ["/usr/sbin/danted", "-f", conf, "-p", pidfile, "-N", "1"]
    return start_on_free_port(argv, workdir)


def start_microsocks(args, workdir, facts):
    if bool(args.user) != bool(args.password):
        raise StartError("microsocks wants both --user and --password, or neither")

    def argv(port):
        command = ["/usr/bin/microsocks", "-i", "127.0.0.1", "-p", str(port)]
        if args.user:
            command += ["-u", args.user, "-P", args.password]
        return command
    return start_on_free_port(argv, workdir)


def ftp_proxy_config(args, workdir, port):
    return "\n".join([
        "[-Global-]", "Listen 127.0.0.1", "Port %d" % port, "ServerType standalone",
        "DestinationAddress 127.0.0.1", "DestinationPort %d" % args.target_port,
        "AllowMagicUser yes", "DestinationTransferMode client",
        "LogDestination %s" % os.path.join(workdir, "ftp-proxy.log"),
        "PidFile %s" % os.path.join(workdir, "ftp-proxy.pid"),
        "TimeOut 60",
        # The default of 40 forks a minute breaks a test suite.
        "ForkLimit 1000", ""])


def start_ftp_proxy(args, workdir, facts):
    conf = os.path.join(workdir, "ftp-proxy.conf")

    def argv(port):
        write_config(conf, ftp_proxy_config(args, workdir, port), private=False)
        return ["/usr/sbin/ftp-proxy", "-d", "-n", "-f", conf]
    return start_on_free_port(argv, workdir)


def start_pyftpd(args, workdir, facts):
    stderr_path = os.path.join(workdir, "server.stderr")
    argv = [PYTHON, os.path.join(HERE, "pyftpd.py"), "--port", "0"] + args.rest
    if LOW_PORT and "--low-port" not in args.rest:
        argv.append("--low-port")
    if args.lifetime > 0 and "--lifetime" not in args.rest:
        argv += ["--lifetime", str(args.lifetime + 5)]
    with open(stderr_path, "wb") as err:
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=err, preexec_fn=die_with_parent)
    line = proc.stdout.readline().strip()
    if not line.isdigit():
        proc.wait()
        raise StartError("pyftpd did not start (exit code %s): %s"
                         % (proc.returncode, read_text(stderr_path)))
    return proc, int(line)


STARTERS = {"pyftpd": start_pyftpd, "vsftpd": start_vsftpd, "dante": start_dante,
            "microsocks": start_microsocks, "ftp-proxy": start_ftp_proxy}


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--workdir", help="folder for configs and logs (default: a private "
                        "temporary folder, removed at exit)")
    parser.add_argument("--lifetime", type=float, default=0,
                        help="stop after this many seconds (default 0: until terminated)")
    parser.add_argument("--low-port", action="store_true",
                        help="listen on a free port from %d to %d, which a command record's "
                        "16-bit Port can hold" % (LOW_PORT_FIRST, LOW_PORT_LAST))
    sub = parser.add_subparsers(dest="server", required=True)
    sub.add_parser("pyftpd", help="pyftpd.py; other options go to it (see pyftpd.py --help)")
    vs = sub.add_parser("vsftpd", help="vsftpd chrooted to --root as the local user %s"
                        % SYSTEM_USER)
    vs.add_argument("--root", required=True)
    vs.add_argument("--tls", choices=("none", "explicit", "implicit"), default="none",
                    help="explicit: AUTH TLS on the port; implicit: TLS from the first byte")
    vs.add_argument("--cert-names", default="IP:127.0.0.1,DNS:localhost",
                    help="the server certificate's subjectAltName (with --tls)")
    da = sub.add_parser("dante", help="dante SOCKS4/5 server")
    da.add_argument("--auth", choices=("none", "username"), default="none")
    ms = sub.add_parser("microsocks", help="microsocks SOCKS5 server")
    ms.add_argument("--user")
    ms.add_argument("--password")
    fp = sub.add_parser("ftp-proxy", help="ftp-proxy gateway (USER user@host:port)")
    fp.add_argument("--target-port", type=int, required=True)
    args, rest = parser.parse_known_args(argv)
    if rest and args.server != "pyftpd":
        parser.error("unrecognized arguments: %s" % " ".join(rest))
    args.rest = rest
    return args


def live_descendants():
    me = os.getpid()
    found = []
    for pid in descendants(me):
        if pid == me:
            continue
        try:
            with open("/proc/%d/stat" % pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if state not in "ZX":
            found.append(pid)
    return found


def reap_orphans():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def stop(proc):
    """Stops the server, then whatever it forked: vsftpd's sessions call setsid(), so a signal
    to the process group misses them, but as a subreaper this launcher inherits them."""
    # Quick: the fixtures give the whole stop 2 s before they kill this launcher outright.
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(0.5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    deadline = time.monotonic() + 0.5
    signum = signal.SIGTERM
    while True:
        reap_orphans()
        left = live_descendants()
        if not left:
            return
        if time.monotonic() >= deadline:
            if signum == signal.SIGKILL:
                return
            signum, deadline = signal.SIGKILL, time.monotonic() + 0.5
        for pid in left:
            try:
                os.kill(pid, signum)
            except OSError:
                pass
        time.sleep(0.02)


def serve(args, workdir):
    become_subreaper()
    facts = {}
    proc, port = STARTERS[args.server](args, workdir, facts)
    stopping = []

    def on_signal(signum, frame):
        stopping.append(signum)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    try:
        print("PORT %d" % port)
        print("PID %d" % proc.pid)
        for key, value in facts.items():
            if not key.startswith("_"):
                print("%s %s" % (key, value))
        print("WORKDIR %s" % workdir)
        print("READY", flush=True)
        deadline = time.monotonic() + args.lifetime if args.lifetime > 0 else None
        while not stopping and proc.poll() is None:
            if deadline is not None and time.monotonic() >= deadline:
                break
            time.sleep(0.05)
    finally:
        stop(proc)
    if proc.returncode not in (0, -signal.SIGTERM) and not stopping:
        print("serve.py: %s ended with exit code %s" % (args.server, proc.returncode),
              file=sys.stderr)
        return 1
    return 0


def main(argv):
    global LOW_PORT
    args = parse_args(argv)
    LOW_PORT = args.low_port
    own_workdir = args.workdir is None
    workdir = tempfile.mkdtemp(prefix="pullwire-%s-" % args.server) if own_workdir \
        else os.path.abspath(args.workdir)
    os.makedirs(workdir, exist_ok=True)
    try:
        return serve(args, workdir)
    except StartError as err:
        print("serve.py %s: %s" % (args.server, err), file=sys.stderr)
        return 2
    finally:
        if own_workdir:
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
