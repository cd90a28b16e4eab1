#!/usr/bin/python3
"""A small ftplib client for checking test servers byte for byte: one session, steps in order.

Steps: "quote:CMD" prints the reply; "list:PATH" writes the raw LIST bytes (CRLF kept) to
--out or stdout; "retr:NAME" (and "retr@OFFSET:NAME") writes the data to --out and prints
"received N" and then "reply: <final reply>" or "error: <what went wrong>"; "cwd:PATH" prints
the reply. Exits 0 when every step got through, 1 at the first failing step (its error printed).
"""

import argparse
import ftplib
import socket
import sys


def run_step(ftp, step, out):
    verb, _, arg = step.partition(":")
    if verb == "quote":
        print(ftp.sendcmd(arg))
    elif verb == "cwd":
        print(ftp.cwd(arg))
    elif verb == "list":
        chunks = []
        reply = ftp.retrbinary("LIST " + arg if arg else "LIST", chunks.append)
        out.write(b"".join(chunks))
        out.flush()
        print(reply, file=sys.stderr)
    elif verb.startswith("retr"):
        offset = int(verb[5:]) if verb.startswith("retr@") else None
        received = [0]

        def keep(chunk):
            received[0] += len(chunk)
            out.write(chunk)
        try:
            reply = ftp.retrbinary("RETR " + arg, keep, rest=offset)
        finally:
            out.flush()
            print("received %d" % received[0])
        print("reply: %s" % reply)
    else:
        raise ValueError("unknown step %r" % step)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--timeout", type=float, default=10.0)
    parser.add_argument("--active", action="store_true", help="active mode (PORT/EPRT)")
    parser.add_argument("--out", help="file for data (default: stdout)")
    parser.add_argument("steps", nargs="*")
    args = parser.parse_args(argv)
    out = open(args.out, "wb") if args.out else sys.stdout.buffer
    try:
        ftp = ftplib.FTP(timeout=args.timeout)
        ftp.connect(args.host, args.port)
        ftp.login(args.user, args.password)
        ftp.set_pasv(not args.active)
        for step in args.steps:
            run_step(ftp, step, out)
        ftp.quit()
    except (ftplib.Error, OSError, EOFError, socket.timeout) as err:
        sys.stdout.flush()
        print("error: %s: %s" % (type(err).__name__, err), flush=True)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
