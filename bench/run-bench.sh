#!/usr/bin/env bash
# Compares Pullwire's FTP engine with curl, wget and lftp on a loopback vsftpd (one 1 GiB file,
# and a tree of 2,000 files of 4 KiB in 20 folders), then `pullwire run` the same way (see its
# section below). Each client runs 5 times, round-robin (each round begins with the next
# client), and the median counts; ratios are taken inside this one run. Peak memory is the
# largest resident set among the client's processes (wait4 in BUILD_DIR/bench/run_measured, so
# the launcher's own memory is not counted).
#
# usage: bench/run-bench.sh BUILD_DIR          (as root: vsftpd logs in as the test account)
#   PULLWIRE_BENCH_PARTS="engine run tls" (the default) picks the sections to run.
#
# Adding a row: write a function cmd_<work>_<client> OUT_DIR that sets the array CMD to a command
# downloading the work's remote data into OUT_DIR (exit status 0 on success), and append <client>
# to the work's client list. check_<work> OUT_DIR verifies the first round's copy.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
serve="$top/tests/support/servers/serve.py"
engine_fetch="$build_dir/bench/engine_fetch"
run_measured="$build_dir/bench/run_measured"
runs=5

BIG_CLIENTS=(engine engine-rw curl wget lftp)
TREE_CLIENTS=(engine curl wget lftp)
# Must match tests/support/test_servers.h (prepare-machine.sh creates the account).
FTP_USER=ftptest
FTP_PASSWORD=pullwire-ftptest-1

for tool in curl wget lftp md5sum /usr/bin/python3 "$engine_fetch" "$run_measured"; do
  command -v "$tool" >/dev/null || { echo "run-bench: $tool is missing" >&2; exit 1; }
done
if [ "$(id -u)" -ne 0 ]; then
  echo "run-bench: vsftpd needs root (it switches to the test account)" >&2
  exit 1
fi

# Data on tmpfs when it has room for the source, one copy and some slack; else the build folder.
need_kib=$((3 * 1024 * 1024))
if [ "$(df -Pk /dev/shm 2>/dev/null | awk 'NR==2 {print $4}')" -gt "$need_kib" ] 2>/dev/null; then
  base=/dev/shm
else
  base=$build_dir
fi
work=$(mktemp -d "$base/pullwire-bench.XXXXXX")
chmod 755 "$work"
root="$work/root"
out="$work/out"
mkdir -p "$root" "$out"
chmod 755 "$root"

server_pids=()
stop_server() {
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  local kept=() pid
  for pid in "${server_pids[@]}"; do [ "$pid" = "$1" ] || kept+=("$pid"); done
  server_pids=("${kept[@]}")
}
cleanup() {
  for pid in "${server_pids[@]}"; do stop_server "$pid"; done
  rm -rf "$work"
}
trap cleanup EXIT

# start_vsftpd LABEL [SERVE_OPTIONS...] [-- VSFTPD_OPTIONS...]: vsftpd serving $root on a free
# port, stopped by PID at the end; sets started_pid and started_port.
start_vsftpd() {
  local label=$1 serve_options=()
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do serve_options+=("$1"); shift; done
  [ $# -eq 0 ] || shift
  "$serve" "${serve_options[@]}" --lifetime 3600 vsftpd --root "$root" "$@" \
    >"$work/serve-$label.out" 2>"$work/serve-$label.err" &
  started_pid=$!
  server_pids+=("$started_pid")
  for _ in $(seq 100); do
    grep -q '^READY' "$work/serve-$label.out" 2>/dev/null && break
    kill -0 "$started_pid" 2>/dev/null || { cat "$work/serve-$label.err" >&2; exit 1; }
    sleep 0.1
  done
  grep -q '^READY' "$work/serve-$label.out" || { echo "run-bench: vsftpd ($label) did not start" >&2; exit 1; }
  started_port=$(awk '/^PORT/ {print $2}' "$work/serve-$label.out")
}

# make_small_files COUNT FOLDER...: COUNT random 4 KiB files f0000.dat ... in each FOLDER.
make_small_files() {
  /usr/bin/python3 - "$@" <<'PY'
import os, sys
for folder in sys.argv[2:]:
    os.makedirs(folder, exist_ok=True)
    for f in range(int(sys.argv[1])):
        with open(os.path.join(folder, "f%04d.dat" % f), "wb") as out:
            out.write(os.urandom(4096))
PY
}

# One checksum over the names and contents of the f*.dat files below a folder.
files_sum() {
  (cd "$1" && find . -type f -name 'f*.dat' -print0 | sort -z | xargs -0 md5sum | md5sum | cut -d' ' -f1)
}

echo "Preparing data in $work ..."
head -c 1073741824 /dev/urandom >"$root/big.bin"
tree_folders=()
for d in $(seq 0 19); do tree_folders+=("$(printf '%s/tree/d%02d' "$root" "$d")"); done
make_small_files 100 "${tree_folders[@]}"
chmod -R a+rX "$root"
big_sum=$(md5sum <"$root/big.bin" | cut -d' ' -f1)
tree_sum=$(files_sum "$root/tree")

start_vsftpd main
port=$started_port
url="ftp://127.0.0.1:$port"

# ---- the clients ------------------------------------------------------------------------------
export PULLWIRE_BENCH_PASSWORD=$FTP_PASSWORD
cmd_big_engine() { CMD=("$engine_fetch" --port "$port" --user "$FTP_USER" file /big.bin "$1/big.bin"); }
cmd_big_engine-rw() {
  CMD=("$engine_fetch" --no-splice --port "$port" --user "$FTP_USER" file /big.bin "$1/big.bin")
}
cmd_big_curl() { CMD=(curl -sS -u "$FTP_USER:$FTP_PASSWORD" "$url/big.bin" -o "$1/big.bin"); }
cmd_big_wget() {
  CMD=(wget -q "--user=$FTP_USER" "--password=$FTP_PASSWORD" "$url/big.bin" -O "$1/big.bin")
}
cmd_big_lftp() {
  CMD=(lftp -u "$FTP_USER,$FTP_PASSWORD" -p "$port"
       -e "set net:max-retries 1; get /big.bin -o $1/big.bin; quit" 127.0.0.1)
}
cmd_tree_engine() { CMD=("$engine_fetch" --port "$port" --user "$FTP_USER" matching "/tree/*" "$1"); }
# curl has no recursion: one URL glob over the known layout, on one connection.
cmd_tree_curl() {
  CMD=(curl -sS -u "$FTP_USER:$FTP_PASSWORD" "$url/tree/d[00-19]/f[0000-0099].dat"
       -o "$1/d#1/f#2.dat" --create-dirs)
}
cmd_tree_wget() {
  CMD=(wget -q -r -nH --cut-dirs=1 "--user=$FTP_USER" "--password=$FTP_PASSWORD" -P "$1" "$url/tree/")
}
cmd_tree_lftp() {
  CMD=(lftp -u "$FTP_USER,$FTP_PASSWORD" -p "$port" -e "set net:max-retries 1; mirror /tree $1; quit"
       127.0.0.1)
}

check_big() { [ "$(md5sum <"$1/big.bin" | cut -d' ' -f1)" = "$big_sum" ]; }
check_tree() { [ "$(files_sum "$1")" = "$tree_sum" ]; }

# ---- measuring --------------------------------------------------------------------------------
declare -A times peaks
bench_work() {
  local work_name=$1
  shift
  local clients=("$@")
  local count=${#clients[@]}
  for run in $(seq "$runs"); do
    # Each round starts with another client, so that none always follows the same one (a client
    # whose server sessions linger after it ends slows whoever runs next).
    for step in $(seq 0 $((count - 1))); do
      local client=${clients[$(((run - 1 + step) % count))]}
      local dest="$out/$client"
      rm -rf "$dest"
      mkdir -p "$dest"
      "cmd_${work_name}_${client}" "$dest"
      if ! "$run_measured" "$work/result" "${CMD[@]}" >/dev/null; then
        echo "run-bench: $client failed on $work_name (run $run)" >&2
        exit 1
      fi
      local result
      result=$(cat "$work/result")
      if [ "$run" -eq 1 ] && ! "check_${work_name}" "$dest"; then
        echo "run-bench: $client's copy of $work_name differs from the source" >&2
        exit 1
      fi
      rm -rf "$dest"
      times[$work_name.$client]+="${result%% *} "
      local peak=${result##* }
      [ "${peaks[$work_name.$client]:-0}" -ge "$peak" ] || peaks[$work_name.$client]=$peak
    done
  done
}

median() { tr ' ' '\n' <<<"$1" | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# report MAIN WORK TITLE UNIT AMOUNT CLIENT...: each client's median time, rate and peak memory,
# how many times as fast MAIN was, and MAIN against the fastest reference (curl, wget, lftp).
report() {
  local main=$1 work_name=$2 title=$3 unit=$4 amount=$5
  shift 5
  local clients=("$@") base_time best_time= best_client=
  base_time=$(median "${times[$work_name.$main]}")
  printf '\n%s (median of %d)\n' "$title" "$runs"
  printf '  %-12s %10s %14s %12s %11s\n' client seconds rate "$main is" "peak RSS"
  for client in "${clients[@]}"; do
    local t rate ratio
    t=$(median "${times[$work_name.$client]}")
    rate=$(awk -v a="$amount" -v t="$t" 'BEGIN {printf "%.0f", a / t}')
    ratio=$(awk -v p="$base_time" -v t="$t" 'BEGIN {printf "%.2fx", t / p}')
    printf '  %-12s %10.3f %9s %-4s %12s %8.1f MiB\n' "$client" "$t" "$rate" "$unit" "$ratio" \
      "$(awk -v k="${peaks[$work_name.$client]}" 'BEGIN {print k / 1024}')"
    case $client in engine* | pullwire*) continue ;; esac
    if [ -z "$best_client" ] || awk -v t="$t" -v b="$best_time" 'BEGIN {exit !(t < b)}'; then
      best_time=$t
      best_client=$client
    fi
  done
  awk -v p="$base_time" -v b="$best_time" -v c="$best_client" -v n="$main" \
    'BEGIN {printf "  %s vs the fastest reference (%s): %.2fx as fast\n", n, c, b / p}'
  if [ "$main" != engine ] && [ -n "${times[$work_name.engine]:-}" ]; then
    awk -v p="$base_time" -v e="$(median "${times[$work_name.engine]}")" \
      'BEGIN {printf "  pullwire run vs the engine alone: %+.1f%% time\n", (p / e - 1) * 100}'
  fi
}

parts=" ${PULLWIRE_BENCH_PARTS:-engine run tls} "
bench_engine() {
  echo "Measuring: $runs rounds, round-robin (vsftpd on 127.0.0.1:$port, data on $base)"
  bench_work big "${BIG_CLIENTS[@]}"
  bench_work tree "${TREE_CLIENTS[@]}"

  report engine big "1 GiB file" "MiB/s" 1024 "${BIG_CLIENTS[@]}"
  report engine tree "2,000 files of 4 KiB in 20 folders" "files/s" 2000 "${TREE_CLIENTS[@]}"
  echo
  echo "\"engine is\": how many times as fast as that client the engine was (client time / engine time)."
  echo "engine-rw: the engine with read/write through a buffer instead of splice(2)."
}
[[ $parts == *" engine "* ]] && bench_engine

# ---- the download run through `pullwire run` ---------------------------------------------------
# Every file of one folder of 2,000 x 4 KiB, and one 1 GiB file, each as a flat "all files" run of
# `pullwire run` (the plug-in loaded by the host through its exports, the command record, the
# message daemon), against curl, wget and lftp on the same server in the same run; the 1 GiB file
# also against the engine alone. pullwire runs with AutoLog off (--quiet), pullwire-log with it on,
# so that every file also costs its messages to the daemon. The tree of 20 folders x 100 files
# goes through the folder mode (Include Subdirectories, RemoteDir /tree, the default sessions)
# against `wget -r` and `lftp mirror --parallel=4`. A command record's Port is a 16-bit number, so
# these rows use a second vsftpd listening below 32768 (serve.py --low-port).
FLAT_CLIENTS=(pullwire pullwire-log curl wget lftp)
ONE_CLIENTS=(pullwire engine curl wget lftp)
FOLDER_CLIENTS=(pullwire wget lftp-p4)
pullwire_bin="$build_dir/host/pullwire"
pullwire_library="$build_dir/plugin/libpullwire.so"

# The command record that downloads every file of REMOTE_DIR into OUT_DIR, as OUT_DIR.json;
# INCLUDE_SUBDIR true takes the folder mode.
write_pullwire_command() {
  printf '{"Host": "%s", "Port": %s, "Username": "%s", "RemoteDir": "%s", "LocalDir": "%s",
    "TransferMode": 1, "Timeout": 60, "Passive": true, "ProcessAll": true, "Overwrite": true,
    "AutoDelete": false, "ProxyType": 0, "ProxyPort": 0, "SaveFilename": false, "VarNumber": 1,
    "CopySpecific": false, "Filter": "*", "IncludeSubdir": %s}\n' \
    "${record_host:-127.0.0.1}" "${record_port:-$low_port}" "$FTP_USER" "$2" "$1" "${3:-false}" >"$1.json"
}
pullwire_cmd() {
  write_pullwire_command "$1" "$2" "${3:-false}"
  CMD=("$pullwire_bin" --library "$pullwire_library" run "$1.json" --password-env PULLWIRE_BENCH_PASSWORD)
}
cmd_flat_pullwire() { pullwire_cmd "$1" /flat; CMD+=(--quiet); }
cmd_flat_pullwire-log() { pullwire_cmd "$1" /flat; }
cmd_flat_curl() { CMD=(curl -sS -u "$FTP_USER:$FTP_PASSWORD" "$low_url/flat/f[0000-1999].dat" -o "$1/f#1.dat"); }
cmd_flat_wget() {
  CMD=(wget -q -nH --cut-dirs=1 "--user=$FTP_USER" "--password=$FTP_PASSWORD" -P "$1" "$low_url/flat/*")
}
cmd_flat_lftp() {
  CMD=(lftp -u "$FTP_USER,$FTP_PASSWORD" -p "$low_port" -e "set net:max-retries 1; mirror /flat $1; quit"
       127.0.0.1)
}
cmd_one_pullwire() { pullwire_cmd "$1" /one; CMD+=(--quiet); }
cmd_one_engine() { CMD=("$engine_fetch" --port "$low_port" --user "$FTP_USER" file /one/big.bin "$1/big.bin"); }
cmd_one_curl() { CMD=(curl -sS -u "$FTP_USER:$FTP_PASSWORD" "$low_url/one/big.bin" -o "$1/big.bin"); }
cmd_one_wget() {
  CMD=(wget -q "--user=$FTP_USER" "--password=$FTP_PASSWORD" "$low_url/one/big.bin" -O "$1/big.bin")
}
cmd_one_lftp() {
  CMD=(lftp -u "$FTP_USER,$FTP_PASSWORD" -p "$low_port"
       -e "set net:max-retries 1; get /one/big.bin -o $1/big.bin; quit" 127.0.0.1)
}
cmd_folder_pullwire() { pullwire_cmd "$1" /tree true; CMD+=(--quiet); }
cmd_folder_wget() {
  CMD=(wget -q -r -nH --cut-dirs=1 "--user=$FTP_USER" "--password=$FTP_PASSWORD" -P "$1" "$low_url/tree/")
}
cmd_folder_lftp-p4() {
  CMD=(lftp -u "$FTP_USER,$FTP_PASSWORD" -p "$low_port"
       -e "set net:max-retries 1; mirror --parallel=4 /tree $1; quit" 127.0.0.1)
}
check_folder() { check_tree "$1"; }
check_flat() { [ "$(find "$1" -type f -name 'f*.dat' | wc -l)" -eq 2000 ] && [ "$(files_sum "$1")" = "$flat_sum" ]; }
check_one() { check_big "$1"; }

bench_pullwire_run() {
  [ -x "$pullwire_bin" ] && [ -f "$pullwire_library" ] ||
    { echo "run-bench: $pullwire_bin and $pullwire_library must be built" >&2; exit 1; }
  make_small_files 2000 "$root/flat"
  mkdir -p "$root/one"
  ln "$root/big.bin" "$root/one/big.bin"
  chmod -R a+rX "$root/flat" "$root/one"
  flat_sum=$(files_sum "$root/flat")
  start_vsftpd low --low-port
  low_port=$started_port
  low_url="ftp://127.0.0.1:$low_port"
  echo "Measuring pullwire run: $runs rounds, round-robin (vsftpd on 127.0.0.1:$low_port)"
  bench_work flat "${FLAT_CLIENTS[@]}"
  bench_work one "${ONE_CLIENTS[@]}"
  bench_work folder "${FOLDER_CLIENTS[@]}"
  stop_server "$started_pid"
  report pullwire flat "pullwire run: all files of one folder, 2,000 x 4 KiB" "files/s" 2000 "${FLAT_CLIENTS[@]}"
  awk -v off="$(median "${times[flat.pullwire]}")" -v on="$(median "${times[flat.pullwire-log]}")" \
    'BEGIN {printf "  AutoLog on (pullwire-log) vs off (pullwire): %.2fx time\n", on / off}'
  report pullwire one "pullwire run: one 1 GiB file" "MiB/s" 1024 "${ONE_CLIENTS[@]}"
  report pullwire folder "pullwire run, folder mode: 20 folders x 100 files of 4 KiB" "files/s" 2000 \
    "${FOLDER_CLIENTS[@]}"
  echo
  echo "\"pullwire is\": how many times as fast as that client pullwire run was (client time / pullwire time)."
}

[[ $parts == *" run "* ]] && bench_pullwire_run

# ---- FTP over TLS ------------------------------------------------------------------------------
# A third vsftpd, below 32768, requiring explicit TLS for logins and data with session reuse
# (serve.py --tls explicit: a private CA made with openssl, which every client is told to trust).
# A 200 MiB file against curl --ssl-reqd and lftp, and the 1 GiB file against lftp, through
# `pullwire run` with Host "ftpes://127.0.0.1"; the engine alone on the 200 MiB file.
TLS_MID_CLIENTS=(pullwire engine curl lftp)
TLS_BIG_CLIENTS=(pullwire lftp)
tls_lftp() {
  local settings="set net:max-retries 1; set ftp:ssl-force true; set ftp:ssl-protect-data true"
  CMD=(lftp -u "$FTP_USER,$FTP_PASSWORD" -p "$tls_port"
       -e "$settings; set ssl:ca-file $tls_ca; get $2 -o $1/big.bin; quit" 127.0.0.1)
}
tls_pullwire() {
  record_host=ftpes://127.0.0.1 record_port=$tls_port write_pullwire_command "$1" "$2"
  CMD=(env "SSL_CERT_FILE=$tls_ca" "$pullwire_bin" --library "$pullwire_library" run "$1.json"
       --password-env PULLWIRE_BENCH_PASSWORD --quiet)
}
cmd_tlsmid_pullwire() { tls_pullwire "$1" /mid; }
cmd_tlsmid_engine() {
  CMD=(env "SSL_CERT_FILE=$tls_ca" "$engine_fetch" --host ftpes://127.0.0.1 --port "$tls_port"
       --user "$FTP_USER" file /mid/big.bin "$1/big.bin")
}
cmd_tlsmid_curl() {
  CMD=(curl -sS --ssl-reqd --cacert "$tls_ca" -u "$FTP_USER:$FTP_PASSWORD"
       "ftp://127.0.0.1:$tls_port/mid/big.bin" -o "$1/big.bin")
}
cmd_tlsmid_lftp() { tls_lftp "$1" /mid/big.bin; }
cmd_tlsbig_pullwire() { tls_pullwire "$1" /one; }
cmd_tlsbig_lftp() { tls_lftp "$1" /one/big.bin; }
check_tlsmid() { [ "$(md5sum <"$1/big.bin" | cut -d' ' -f1)" = "$mid_sum" ]; }
check_tlsbig() { check_big "$1"; }

bench_tls() {
  [ -x "$pullwire_bin" ] && [ -f "$pullwire_library" ] ||
    { echo "run-bench: $pullwire_bin and $pullwire_library must be built" >&2; exit 1; }
  mkdir -p "$root/mid" "$root/one"
  head -c $((200 << 20)) "$root/big.bin" >"$root/mid/big.bin"
  [ -e "$root/one/big.bin" ] || ln "$root/big.bin" "$root/one/big.bin"
  chmod -R a+rX "$root/mid" "$root/one"
  mid_sum=$(md5sum <"$root/mid/big.bin" | cut -d' ' -f1)
  start_vsftpd tls --low-port -- --tls explicit
  tls_port=$started_port
  tls_ca=$(awk '/^CAFILE/ {print $2}' "$work/serve-tls.out")
  echo "Measuring FTP over TLS: $runs rounds, round-robin (vsftpd on 127.0.0.1:$tls_port, explicit TLS)"
  bench_work tlsmid "${TLS_MID_CLIENTS[@]}"
  bench_work tlsbig "${TLS_BIG_CLIENTS[@]}"
  stop_server "$started_pid"
  report pullwire tlsmid "pullwire run over explicit TLS: one 200 MiB file" "MiB/s" 200 "${TLS_MID_CLIENTS[@]}"
  report pullwire tlsbig "pullwire run over explicit TLS: one 1 GiB file" "MiB/s" 1024 "${TLS_BIG_CLIENTS[@]}"
  echo
  echo "\"pullwire is\": how many times as fast as that client pullwire run was (client time / pullwire time)."
}
[[ $parts == *" tls "* ]] && bench_tls
exit 0
