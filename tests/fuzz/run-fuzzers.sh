#!/usr/bin/env bash
# Runs the libFuzzer target of a fuzz build for SECONDS from its seeds and dictionary; fails when
# it finds a crash, leak, sanitizer report or time-out.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [SECONDS]" >&2; exit 2; }
build_dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work="$build_dir/fuzz-work"  # new inputs go here; the committed seeds stay as they are
mkdir -p "$work/corpus" "$work/artifacts"
if ! "$build_dir/tests/fuzz/ftp_fuzzer" -max_total_time="${2:-60}" -timeout=10 \
    -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    -dict="$here/ftp.dict" "$work/corpus" "$here/corpus/ftp" >"$work/log" 2>&1; then
  tail -n 40 "$work/log"
  echo "the fuzzer failed: see $work/log and $work/artifacts/" >&2
  exit 1
fi
grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$work/log" || true
echo "the fuzzer ran clean"
