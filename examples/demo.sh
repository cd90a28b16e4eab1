#!/bin/bash
# The demo: serve examples/demo-site with pyftpdlib on a free loopback port, download it with
# `pullwire run` into demo-out/ at the top of the repository, show the messages, stop the server.
# Usage: examples/demo.sh BUILD_DIR   (what ./run demo calls after building)
set -euo pipefail

build=${1:?usage: examples/demo.sh BUILD_DIR}
build=$(cd "$build" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
pullwire="$build/host/pullwire"
[ -x "$pullwire" ] || { echo "demo: $pullwire is not built" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/pullwire-demo.XXXXXX")
server_pid=""
stop_server() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill "$server_pid"
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop_server EXIT

# A password of this run only, handed to pullwire through the environment, never written down.
export PULLWIRE_DEMO_PASSWORD="demo-$RANDOM$RANDOM"
# --low-port: a command record's Port is a 16-bit number, so the port must be below 32768.
/usr/bin/python3 "$top/tests/support/servers/serve.py" --low-port --lifetime 600 \
  pyftpd --root "$top/examples/demo-site" --user demo --password "$PULLWIRE_DEMO_PASSWORD" \
  >"$work/serve.out" 2>"$work/serve.err" &
server_pid=$!
for _ in $(seq 100); do
  grep -q '^READY' "$work/serve.out" 2>/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^READY' "$work/serve.out" 2>/dev/null; then
  echo "demo: the FTP server did not start:" >&2
  cat "$work/serve.err" >&2
  exit 1
fi
port=$(awk '/^PORT /{print $2}' "$work/serve.out")
echo "demo: serving examples/demo-site on ftp://127.0.0.1:$port (server PID $server_pid)"

out="$top/demo-out"
mkdir -p "$out"
cat >"$work/all-files.json" <<JSON
{
  "Host": "127.0.0.1", "Port": "$port", "Username": "demo",
  "RemoteDir": "/", "LocalDir": "$out",
  "TransferMode": "1", "Timeout": "30", "Passive": "1",
  "ProcessAll": "1", "Overwrite": "1", "AutoDelete": "0",
  "ProxyType": "0", "ProxyPort": "0",
  "SaveFilename": "0", "VarScope": "LOCAL", "VarNumber": "1",
  "CopySpecific": "0", "Filter": "*", "IncludeSubdir": "0"
}
JSON
# The same server, one named file in ASCII mode, its name stored in global variable 1.
sed -e 's/"CopySpecific": "0"/"CopySpecific": "1", "SpecificFilename": "notes.txt"/' \
    -e 's/"TransferMode": "1"/"TransferMode": "0"/' \
    -e 's/"SaveFilename": "0", "VarScope": "LOCAL"/"SaveFilename": "1", "VarScope": "GLOBAL"/' \
    "$work/all-files.json" >"$work/one-file.json"
# The folder mode: every entry with its subfolders, into demo-out/site.
sed -e 's/"IncludeSubdir": "0"/"IncludeSubdir": "1"/' -e "s|\"LocalDir\": \"$out\"|\"LocalDir\": \"$out/site\"|" \
    "$work/all-files.json" >"$work/folders.json"
mkdir -p "$out/site"

echo
echo "demo: pullwire run all-files.json   (every file of the folder; the subfolder is listed, not fetched)"
"$pullwire" run "$work/all-files.json" --password-env PULLWIRE_DEMO_PASSWORD
echo
echo "demo: pullwire run one-file.json    (notes.txt in ASCII mode, its name into GlobalVar(0))"
"$pullwire" run "$work/one-file.json" --password-env PULLWIRE_DEMO_PASSWORD
echo
echo "demo: pullwire run folders.json     (folder mode: the whole site with its subfolders, into site/)"
"$pullwire" run "$work/folders.json" --password-env PULLWIRE_DEMO_PASSWORD
echo
echo "demo: downloaded into $out:"
ls -lR "$out"
