#!/usr/bin/env bash
# Takes the README's picture of the main window: the real program under Xvfb, with a small
# project that pelorvane-cli has sent through the simulated phone, showing the Sent folder.
#   bash tools/screenshot.sh [BUILD_DIR]      writes docs/screenshot.png
# Needs Xvfb and xdotool (tools/dev.sh installs them) and a build (tools/dev.sh build).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out="$root/docs/screenshot.png"
app="$build/main/pelorvane"
cli="$build/tools/cli/pelorvane-cli"
grab="$build/tools/screenshot/pelorvane-grab"
for file in "$app" "$cli" "$grab"; do
    [ -x "$file" ] || { echo "Missing $file: build first (bash tools/dev.sh build)" >&2; exit 1; }
done
for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

wait_for() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < end)) || { echo "Timed out: $*" >&2; exit 1; }
        sleep 0.1
    done
}

# A club's address book; two messages already sent, one waiting in the outbox.
cat >"$work/club.csv" <<'CSV'
"Anna Becker","+4915112345678",3
"Jonas Weber","+4915298765432",5
"Lea Hoffmann","+491603456789",1
"Mehmet Yilmaz","+491705551234",2
"Sofia Rossi","+393471234567",0
CSV
project="$work/Club.sms"
"$cli" import "$project" "$work/club.csv" >/dev/null
"$cli" queue "$project" --to "+4915112345678;+4915298765432" --subject Club \
    "Training moves to Friday 18:00, same place." >/dev/null
"$cli" send "$project" --simulate >/dev/null 2>&1
"$cli" queue "$project" --to "+491603456789" "Your membership card is ready." >/dev/null

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
wait_for 20 test -s "$work/display"
export DISPLAY=":$(head -1 "$work/display")" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

# A copy of its own, so that the window's layout is not written into the build folder.
cp "$app" "$work/pelorvane"
"$work/pelorvane" --simulate "$project" >/dev/null 2>&1 &
pids+=($!)
window() { xdotool search --onlyvisible --name ' - Pelorvane$' 2>/dev/null | head -1; }
has_window() { [ -n "$(window)" ]; }
wait_for 30 has_window
wid=$(window)
xdotool windowsize --sync "$wid" 900 540
xdotool windowfocus --sync "$wid"
# The Phone folder probes the phone (its model then shows beside the folder), then Sent.
xdotool key --delay 100 alt+v h
sleep 1.5
xdotool windowfocus --sync "$wid"
xdotool key --delay 100 alt+v s
sleep 1
mkdir -p "$(dirname "$out")"
"$grab" "$out" "$wid" 2>/dev/null
echo "Wrote $out"
