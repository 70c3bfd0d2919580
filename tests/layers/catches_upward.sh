#!/usr/bin/env bash
# The include-direction check itself: it must name an upward include by file and line, and
# let downward and same-folder includes pass.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/link" "$tree/app" "$tree/ui"
printf '#include "link/Phone.h"\n#include "app/Other.h"\n' >"$tree/app/Fine.cpp"
printf '// ok\n#include "base/Error.h"\n#include "app/AppData.h"\n' >"$tree/link/Upward.cpp"
printf '#include "ui/MainWindow.h"\n' >"$tree/app/Sideways.h"

output=$(bash "$here/check_includes.sh" "$tree")
status=$?
fail() { echo "FAIL: $1"; echo "$output"; exit 1; }
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
grep -q '^link/Upward.cpp:3: ' <<<"$output" || fail "link/Upward.cpp:3 not reported"
grep -q '^app/Sideways.h:1: ' <<<"$output" || fail "app/Sideways.h:1 not reported"
! grep -q 'Fine.cpp' <<<"$output" || fail "a downward include was reported"
[ "$(wc -l <<<"$output")" -eq 2 ] || fail "expected exactly two findings"
echo "PASS"
