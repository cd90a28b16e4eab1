#!/usr/bin/env bash
# Peak memory and time of `pullwire run` over one huge folder: COUNT empty files f0 ... f999999
# (default 1,000,000) on tmpfs, served by vsftpd (LIST) and by pyftpdlib (MLSD), fetched by a
# first-file run, so that the whole listing and EntryList are built and one entry is used.
# Names this short keep a million vsftpd lines (about 65 bytes each) under the client's 64 MiB
# listing cap. Several build trees (say, main's and a branch's) are measured round-robin in the
# same run, so that their figures compare on a busy machine; the median time and the largest
# resident set (BUILD_DIR/bench/run_measured) count.
#
# usage: bench/listing-memory.sh [--count N] [--rounds R] BUILD_DIR...     (as root: vsftpd)
set -euo pipefail

count=1000000
rounds=3
while [ $# -gt 0 ]; do
  case $1 in
    --count) count=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    *) break ;;
  esac
done
if [ $# -lt 1 ]; then
  echo "usage: $0 [--count N] [--rounds R] BUILD_DIR..." >&2
  exit 2
fi
builds=()
for dir in "$@"; do
  dir=$(cd "$dir" && pwd)
  for tool in "$dir/bench/run_measured" "$dir/host/pullwire"; do
    [ -x "$tool" ] || { echo "listing-memory: $tool is missing" >&2; exit 1; }
  done
  builds+=("$dir")
done
top=$(cd "$(dirname "$0")/.." && pwd)
serve="$top/tests/support/servers/serve.py"
# Must match tests/support/test_servers.h (prepare-machine.sh creates the account).
FTP_USER=ftptest
FTP_PASSWORD=pullwire-ftptest-1

work=$(mktemp -d /dev/shm/pullwire-listing.XXXXXX)
chmod 755 "$work"
server_pids=()
cleanup() {
  local pid
  for pid in "${server_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

echo "Creating $count empty files on $work ..."
/usr/bin/python3 - "$work/root/big" "$count" <<'PY'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
os.makedirs(folder)
for i in range(count):
    os.close(os.open(os.path.join(folder, "f%d" % i), os.O_CREAT | os.O_WRONLY, 0o644))
PY
chmod -R a+rX "$work/root"

# start LABEL SERVE_ARGS...: starts serve.py, sets started_port.
start() {
  local label=$1
  shift
  "$serve" --low-port --lifetime 3600 "$@" >"$work/$label.out" 2>"$work/$label.err" &
  server_pids+=("$!")
  for _ in $(seq 300); do
    grep -q '^READY' "$work/$label.out" 2>/dev/null && break
    sleep 0.1
  done
  grep -q '^READY' "$work/$label.out" || { cat "$work/$label.err" >&2; exit 1; }
  started_port=$(awk '/^PORT/ {print $2}' "$work/$label.out")
}

# measure BUILD LABEL PORT USER PASSWORD: one first-file run of /big; appends "SECONDS PEAK_KIB"
# to $work/LABEL.BUILD_INDEX.results.
measure() {
  local build=$1 index=$2 label=$3 port=$4 user=$5 password=$6 out="$work/out"
  rm -rf "$out"
  mkdir -p "$out"
  printf '{"Host": "127.0.0.1", "Port": %s, "Username": "%s", "RemoteDir": "/big",
    "LocalDir": "%s", "TransferMode": 1, "Timeout": 120, "Passive": true, "ProcessAll": false,
    "Overwrite": true, "AutoDelete": false, "ProxyType": 0, "ProxyPort": 0, "SaveFilename": false,
    "VarNumber": 1, "CopySpecific": false, "Filter": "*", "IncludeSubdir": false}\n' \
    "$port" "$user" "$out" >"$work/command.json"
  PULLWIRE_BENCH_PASSWORD=$password "$build/bench/run_measured" "$work/result" \
    "$build/host/pullwire" --library "$build/plugin/libpullwire.so" run "$work/command.json" \
    --password-env PULLWIRE_BENCH_PASSWORD >"$work/run.log" ||
    { echo "listing-memory: $build against $label failed:" >&2; cat "$work/run.log" >&2; exit 1; }
  grep -q "Number of files & directories found: $count" "$work/run.log" &&
    [ "$(find "$out" -type f | wc -l)" -eq 1 ] ||
    { echo "listing-memory: $build against $label listed or fetched wrongly:" >&2;
      cat "$work/run.log" >&2; exit 1; }
  cat "$work/result" >>"$work/$label.$index.results"
}

start vsftpd vsftpd --root "$work/root"
vsftpd_port=$started_port
start pyftpd pyftpd --root "$work/root" --user bench --password bench-pw
pyftpd_port=$started_port

echo "pullwire run, first file of $count entries, $rounds rounds round-robin:"
for round in $(seq "$rounds"); do
  for index in "${!builds[@]}"; do
    measure "${builds[$index]}" "$index" vsftpd "$vsftpd_port" "$FTP_USER" "$FTP_PASSWORD"
    measure "${builds[$index]}" "$index" pyftpd "$pyftpd_port" bench bench-pw
  done
done

printf '  %-42s %-10s %10s %14s\n' build server seconds "peak RSS"
for index in "${!builds[@]}"; do
  for label in vsftpd pyftpd; do
    sort -g "$work/$label.$index.results" | awk -v b="${builds[$index]}" -v l="$label" '
      {t[NR] = $1; if ($2 > k) k = $2}
      END {printf "  %-42s %-10s %10.2f %10.1f MiB\n", b, l, t[int((NR + 1) / 2)], k / 1024}'
  done
done
echo "vsftpd lists with LIST; pyftpdlib offers MLSD (a build that reads FEAT lists with MLSD)."
