#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for SECONDS each, from its seeds (corpus/<name>/)
# and dictionary (<name>.dict); fails when one finds a crash, leak, sanitizer report or time-out.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [SECONDS]" >&2; exit 2; }
build_dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t fuzzers < <(find "$build_dir/tests/fuzz" -maxdepth 1 -type f -name '*_fuzzer' -perm -u+x | sort)
[ ${#fuzzers[@]} -gt 0 ] || { echo "no fuzzers in $build_dir/tests/fuzz" >&2; exit 1; }
failed=()
for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer" _fuzzer)
  work="$build_dir/fuzz-work/$name"  # new inputs go here; the committed seeds stay as they are
  mkdir -p "$work/corpus" "$work/artifacts"
  echo "== $name: ${2:-60} s"
  if "$fuzzer" -max_total_time="${2:-60}" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
       -print_final_stats=1 -artifact_prefix="$work/artifacts/" -dict="$here/$name.dict" \
       "$work/corpus" "$here/corpus/$name" >"$work/log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$work/log" || true
  else
    failed+=("$name")
    tail -n 40 "$work/log"
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzzers that failed: ${failed[*]} (logs in fuzz-work/)" >&2; exit 1; }
echo "all fuzzers ran clean"
