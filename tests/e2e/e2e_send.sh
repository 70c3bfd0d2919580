#!/usr/bin/env bash
# The real program as a person uses it: pelorvane under Xvfb against the simulated phone,
# driven by xdotool through its menus, dialogs and keys. It imports three contacts, unchecks
# one in the contacts view, composes to the checked contacts, saves, presses F5, waits for the
# run to end, saves again and quits; then it reads the saved project with pelorvane-cli and
# the simulated phone's log of the messages it accepted. Last, pelorvane-cli sends three more
# at a pace on a terminal of its own, whose progress line it reads.
#
# usage: e2e_send.sh PELORVANE PELORVANE_CLI PELORVANE_MODEMSIM [PELORVANE_GRAB]
# Exits 77 (skipped) when Xvfb or xdotool is missing.
set -euo pipefail

app=$1 cli=$2 modemsim=$3 grab=${4:-}

# Under ThreadSanitizer the X11 stack (glib, xcb, Qt's platform plugin, none of them
# instrumented) reports races of its own; the sending path is checked under it by the
# in-process window tests instead.
if [ "${PELORVANE_SANITIZE:-}" = thread ]; then
    echo "SKIPPED: ThreadSanitizer build - the end-to-end test runs in the normal and address builds"
    exit 77
fi

for tool in Xvfb xdotool; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool is not installed (apt-get install xvfb xdotool) - no end-to-end test"
        exit 77
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/pelorvane-e2e.XXXXXX")
# Journals of unsaved projects go here, not among the user's own.
export XDG_STATE_HOME="$work/state"
pids=()
passed=0
cleanup() {
    local pid
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if ((passed)); then
        rm -rf "$work"
    else
        echo "Kept for a look: $work"
    fi
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    [ -n "$grab" ] && "$grab" "$work/failure.png" >/dev/null 2>&1 && echo "Screen: $work/failure.png"
    exit 1
}

# Polls a command until it succeeds, for up to $1 seconds.
wait_for() {
    local seconds=$1
    shift
    local end=$((SECONDS + seconds))
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.1
    done
}

# --- an X server of our own
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for 20 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -1 "$work/display")"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY SESSION_MANAGER
# In a sanitizer build: what the X11 platform's system libraries keep is not ours to report.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# --- the simulated phone, recording every message it accepts
"$modemsim" --log "$work/modem.log" >"$work/modemsim.out" 2>"$work/modemsim.err" &
pids+=($!)
wait_for 20 test -s "$work/modemsim.out" || fail "the simulated phone did not start"
port=$(head -1 "$work/modemsim.out")

# A copy of the program with its own settings file beside it: the phone's port, and a single-
# instance identity of its own.
mkdir "$work/bin"
cp "$app" "$work/bin/pelorvane"
printf '[Setting]\r\nCOM Port=%s\r\n' "$port" >"$work/bin/pelorvane.ini"
printf '"Ann","+4915111111111",0\r\n"Bob","+4915222222222",2\r\n"Cid","+4915733333333",1\r\n' \
    >"$work/contacts.csv"
project="$work/club.sms"

"$work/bin/pelorvane" >"$work/pelorvane.out" 2>"$work/pelorvane.err" &
app_pid=$!
pids+=("$app_pid")

window() { xdotool search --onlyvisible --name ' - Pelorvane$' 2>/dev/null | head -1; }
has_window() { [ -n "$(window)" ]; }
wait_for 30 has_window || fail "the main window did not appear"
wid=$(window)
title() { xdotool getwindowname "$wid"; }
focused() { xdotool getwindowfocus getwindowname 2>/dev/null || true; }
title_is() { [ "$(title)" = "$1" ]; }
focus_starts() { [[ "$(focused)" == "$1"* ]]; }
# Without a window manager nobody gives the focus back when a dialog closes.
focus_main() { xdotool windowfocus --sync "$wid"; }
keys() { xdotool key --delay 60 "$@"; }
type_text() { xdotool type --delay 15 "$1"; }
pause() { sleep 0.4; }

wait_for 10 title_is "Untitled - Pelorvane" || fail "caption is '$(title)'"
focus_main
pause

# --- File, Import Contacts...: the open dialog, then the summary box
keys alt+f
pause
keys Down Down Down Down Return
wait_for 10 focus_starts "Import contacts from text file" || fail "no import dialog ($(focused))"
type_text "$work/contacts.csv"
keys Return
wait_for 10 focus_starts "Information" || fail "no import summary ($(focused))"
keys Return
pause
focus_main

# --- View, Contacts; Alt+A goes to the name field, Down there moves the list to Ann, then to
# Bob; Space unchecks him.
keys alt+v
pause
keys n
pause
keys alt+a Down
pause
keys Down
pause
keys space
pause

# --- View, Compose; To: the "Checked contacts" entry; a subject and a body; Send to Outbox
keys alt+v
pause
keys m
pause
keys alt+t alt+Down
pause
keys Down Down Return
pause
keys alt+u
type_text "Club"
keys Tab
type_text "Meeting moved to Friday"
keys alt+s
pause

# --- Ctrl+S on an untitled project asks for the name
keys ctrl+s
wait_for 10 focus_starts "Save As" || fail "no save dialog ($(focused))"
type_text "$project"
keys Return
wait_for 10 title_is "club.sms - Pelorvane" || fail "caption after saving is '$(title)'"
focus_main

# --- F5: the run ends when the sent messages have moved, which marks the project modified
keys F5
wait_for 60 title_is "club.sms* - Pelorvane" || fail "the run did not end: caption '$(title)'"
[ -n "$grab" ] && "$grab" "$work/after-run.png" "$wid" >/dev/null 2>&1 || true
focus_main
keys ctrl+s
wait_for 10 title_is "club.sms - Pelorvane" || fail "caption after the second save is '$(title)'"

# --- File, Exit: nothing unsaved, so no question
keys alt+f
pause
keys x
wait_for 20 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end"
status=0
wait "$app_pid" || status=$?
[ "$status" -eq 0 ] || fail "the program ended with status $status: $(cat "$work/pelorvane.err")"

# --- the saved project, compacted for plain text checks (keys come sorted)
show=$("$cli" show "$project" | tr -d ' \n')
expect() { [[ "$show" == *"$1"* ]] || fail "the project lacks $1: $show"; }
expect '"outbox":[]'
expect '{"checked":true,"name":"Ann","number":"+4915111111111","sentCount":1}'
expect '{"checked":false,"name":"Bob","number":"+4915222222222","sentCount":2}'
expect '{"checked":true,"name":"Cid","number":"+4915733333333","sentCount":2}'
expect '"subject":"Club"'
sent=$(grep -o '"sent":\[.*\]' <<<"$show")
[ "$(grep -o '"status":"sent"' <<<"$sent" | wc -l)" -eq 2 ] || fail "two sent messages expected: $sent"
[[ "$sent" == *'"number":"+4915111111111"'*'"number":"+4915733333333"'* ]] ||
    fail "sent messages out of order: $sent"
[[ "$sent" == *'"text":"Club:MeetingmovedtoFriday"'* ]] || fail "sent text: $sent"

# --- what the phone received, in order, decoded from the PDUs
[ "$(wc -l <"$work/modem.log")" -eq 2 ] || fail "the phone accepted: $(cat "$work/modem.log")"
first=$(sed -n 1p "$work/modem.log")
second=$(sed -n 2p "$work/modem.log")
[[ "$first" == *'"number":"+4915111111111"'* && "$first" == *'"text":"Club:Meeting moved to Friday"'* ]] ||
    fail "first message: $first"
[[ "$second" == *'"number":"+4915733333333"'* && "$second" == *'"coding":0'* ]] ||
    fail "second message: $second"

# --- a paced run on a terminal: the progress is one line rewritten in place
"$cli" queue "$project" --all "Paced" >/dev/null || fail "queueing the paced run failed"
SHELL=/bin/bash script -qfec "\"$cli\" send \"$project\" --port \"$port\" --interval 0.6 --jitter 0" \
    "$work/paced.typescript" >/dev/null 2>&1 || fail "the paced run failed: $(cat "$work/paced.typescript")"
paced=$(cat "$work/paced.typescript")
for line in 'Sending 1 of 3' 'Sending 2 of 3 — about ' 'Sending 3 of 3 — about ' 'Sent 3 of 3'; do
    [[ "$paced" == *"$line"* ]] || fail "the paced run's terminal lacks '$line': $paced"
done
[[ "$paced" == *$'\r'* ]] || fail "the progress line is not rewritten in place: $paced"
[ "$(wc -l <"$work/modem.log")" -eq 5 ] || fail "after the paced run the phone accepted: $(cat "$work/modem.log")"

passed=1
echo "PASS: imported 3, unchecked 1, sent 2 through the simulated phone, saved and reopened; a paced run of 3 showed its progress"
