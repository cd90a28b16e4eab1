#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for SECONDS each, from its seed corpus
# (corpus/<name>/ for <name>_fuzzer) and its dictionary (<name>.dict) when present. Fails when
# a fuzzer finds a crash, leak, sanitizer report or time-out, or none was built.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [SECONDS]" >&2; exit 2; }
build_dir=$(cd "$1" && pwd)
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
work="$build_dir/fuzz-work"
mapfile -t fuzzers < <(find "$build_dir/tests/fuzz" -maxdepth 1 -type f -name '*_fuzzer' -perm -u+x | sort)
[ ${#fuzzers[@]} -gt 0 ] || { echo "no fuzzers in $build_dir/tests/fuzz" >&2; exit 1; }

failed=()
for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer" _fuzzer)
  # New inputs go to a working corpus in the build tree; the committed seeds stay as they are.
  corpus="$work/$name/corpus"
  artifacts="$work/$name/artifacts"
  mkdir -p "$corpus" "$artifacts"
  seeds=(); [ -d "$here/corpus/$name" ] && seeds=("$here/corpus/$name")
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192
           -print_final_stats=1 -artifact_prefix="$artifacts/")
  [ -f "$here/$name.dict" ] && options+=(-dict="$here/$name.dict")
  echo "== $name: ${seconds} s"
  if "$fuzzer" "${options[@]}" "$corpus" "${seeds[@]}" >"$work/$name/log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$work/$name/log" || true
    echo "   corpus: $(find "$corpus" -type f | wc -l) inputs"
  else
    failed+=("$name")
    tail -n 40 "$work/$name/log"
    echo "   FAILED: see $work/$name/log and $artifacts/"
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzzers that failed: ${failed[*]}" >&2; exit 1; }
echo "all fuzzers ran clean"
