#!/usr/bin/env bash
# Line and function coverage of the product folders after a run of the suite in BUILD_DIR (a
# --coverage build): one row per folder, then the whole product.
# usage: tests/support/coverage-summary.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
info="$build/coverage.info"
folders=(com module plugin dialogs download component remote ftp host include)
patterns=("${folders[@]/#/$top/}")
lcov --quiet --capture --directory "$build" --base-directory "$build" --output-file "$info.all" \
  --rc lcov_branch_coverage=0 --ignore-errors gcov,source 2>&1 >/dev/null |
  grep -v "redefined at" >&2 || true
lcov --quiet --extract "$info.all" "${patterns[@]/%//*}" --output-file "$info" >/dev/null
# The LF/LH (lines found/hit) and FNF/FNH (functions) records, summed per folder.
awk -v top="$top/" -v names="${folders[*]} product" '
  function share(hit, found) {
    return found ? sprintf("%6.1f%% %5d/%-5d", 100 * hit / found, hit, found) : ""
  }
  /^SF:/ { folder = substr($0, 4 + length(top)); sub("/.*", "", folder) }
  /^(LF|LH|FNF|FNH):/ { split($0, r, ":"); n[folder, r[1]] += r[2]; n["product", r[1]] += r[2] }
  END {
    printf "%-10s %18s %20s\n", "folder", "lines", "functions"
    for (i = 1; i <= split(names, name, " "); i++) {
      if (n[name[i], "LF"]) printf "%-10s %s %s\n", name[i],
        share(n[name[i], "LH"], n[name[i], "LF"]), share(n[name[i], "FNH"], n[name[i], "FNF"])
    }
  }' "$info"
echo "Details: genhtml $info -o $build/coverage-html"
