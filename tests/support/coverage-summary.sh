#!/usr/bin/env bash
# Line and function coverage of the product folders after a run of the suite in BUILD_DIR (a
# --coverage build): one row per folder, then the whole product.
# usage: tests/support/coverage-summary.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
folders=(com module plugin dialogs download component remote ftp host include)

info="$build/coverage.info"
lcov --quiet --capture --directory "$build" --base-directory "$build" --output-file "$info.all" \
  --rc lcov_branch_coverage=0 --ignore-errors gcov,source 2>&1 >/dev/null | grep -v "redefined at" >&2 || true
patterns=()
for f in "${folders[@]}"; do [ -d "$top/$f" ] && patterns+=("$top/$f/*"); done
lcov --quiet --extract "$info.all" "${patterns[@]}" --output-file "$info" >/dev/null

# "  lines......: 92.5% (9115 of 9852 lines)" -> "92.5 9115 9852"
figures() { lcov --summary "$1" 2>&1 | awk -v what="$2" '$1 ~ "^"what {gsub(/[%(]/, ""); print $2, $3, $5}'; }

printf '%-10s %18s %20s\n' folder "lines" "functions"
row() {
  local name=$1 file=$2 l f
  l=$(figures "$file" lines); f=$(figures "$file" functions)
  [ -n "$l" ] || return 0
  printf '%-10s %6s%% %5s/%-5s %6s%% %5s/%-5s\n' "$name" $l $f
}
for f in "${folders[@]}"; do
  [ -d "$top/$f" ] || continue
  lcov --quiet --extract "$info" "$top/$f/*" --output-file "$info.$f" >/dev/null 2>&1 || continue
  row "$f" "$info.$f"
  rm -f "$info.$f"
done
row product "$info"
echo "Details: genhtml $info -o $build/coverage-html"
