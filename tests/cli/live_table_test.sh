#!/usr/bin/env bash
# The live tables of the station and of flash --all on a real terminal screen: obrint-cli alone in
# a tmux window 80 or 120 columns wide, eight virtual headsets with every fault, one arriving in
# its boot firmware, Ctrl+C and a second Ctrl+C, -v, a window narrowed while the table is drawn.
# Each screen, as tmux shows it, is read and kept as text in SCREENS.
#   live_table_test.sh OBRINT_CLI SCREENS
set -uo pipefail
cli=$1
screens=$2
command -v tmux >/dev/null || { echo "tmux is missing: scripts/setup.sh installs it" >&2; exit 1; }
mkdir -p "$screens"
work=$(mktemp -d)
runs=0
socket=$work/tmux-0 # each run has a tmux server of its own, its socket here
trap 'tmux -S "$socket" kill-server 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
export TERM=${TERM:-xterm}
"$cli" sample-image demo.bin >/dev/null || exit 1
# Headsets 1 to 7 have a fault each; 8 arrives in its boot firmware and needs recovery.
fleet=(--sim 8 --sim-real-time --sim-fault 1:block-sum --sim-fault 2:total --sim-fault 3:no-return
  --sim-fault 4:not-back --sim-fault 5:unplug --sim-fault 6:late-boot --sim-fault 7:no-mcu-id)
for n in 1 2 3 4 5 6 7; do echo "$((n * 200 - 200)) plug $n"; done >plugs.txt
echo "1400 plug 8 boot" >>plugs.txt

failed=0
screen=start
fail() {
  echo "FAIL ($screen): $*" >&2
  failed=1
}

# run COLUMNS ARGS...: obrint-cli alone in a window COLUMNS wide and 40 rows high, of a tmux
# server of its own; its exit status is shown after it. The window stays open (bash, unlike sh,
# lives through the Ctrl+C that its command takes), so that tmux reads all of its output.
run() {
  local columns=$1
  shift
  tmux -S "$socket" kill-server 2>/dev/null
  runs=$((runs + 1))
  socket=$work/tmux-$runs
  tmux -S "$socket" -f /dev/null new-session -d -s live -x "$columns" -y 40 \
    "$(printf '%q ' bash -c '"$@"; echo "exit status $?"; exec sleep 3600' - "$cli" "$@")" ||
    fail "tmux did not start"
}
keys() { tmux -S "$socket" send-keys -t live "$@"; }
# The screen, and what scrolled off it, with wrapped lines joined.
joined() { tmux -S "$socket" capture-pane -p -J -S - -t live 2>/dev/null; }
# await PATTERN [SECONDS]: until the screen shows it (an extended regular expression).
await() {
  for _ in $(seq $((${2:-30} * 5))); do
    joined | grep -qE -- "$1" && return 0
    sleep 0.2
  done
  fail "never shown: $1"
}
ended() { await '^exit status [0-9]+$'; }
# look NAME: the screen as it is, and what scrolled off it, kept as NAME.txt.
look() {
  screen=$1
  tmux -S "$socket" capture-pane -p -S - -t live >"$screens/$screen.txt"
}
shows() { joined | grep -qF -- "$1" || fail "not shown: $1"; }

# check COLUMNS: the table on the screen is whole: one header, each headset's row at most once,
# the totals at most once, none of them as wide as the window, no line of -v among them.
row='^1-2\.[1-8] +([0-9A-F]{24}|-)  ' # a row of the table, not of flash --all's summary
table_line="^USB PORT   MCU ID  +STATE$|$row|^flashed [0-9]+  failed [0-9]+"
check() {
  local file=$screens/$screen.txt
  [ "$(grep -c '^USB PORT   MCU ID  *STATE$' "$file")" = 1 ] || fail "not one header"
  for n in 1 2 3 4 5 6 7 8; do
    [ "$(grep -cE "^1-2\.$n +([0-9A-F]{24}|-)  " "$file")" -le 1 ] || fail "1-2.$n shown twice"
  done
  [ "$(grep -cE '^flashed [0-9]+  failed [0-9]+' "$file")" -le 1 ] || fail "totals shown twice"
  grep -E "$table_line" "$file" | awk -v w="$1" 'length($0) >= w { exit 1 }' ||
    fail "a line of the table as wide as the window"
  awk '/^USB PORT/ { t = 1 } t && /^#[0-9]/ { exit 1 }' "$file" || fail "a -v line in the table"
  grep -E '^1-2\.[1-8] .*#[0-9] ' "$file" && fail "a row torn by a -v line"
}

for columns in 80 120; do
  screen=station-$columns
  run "$columns" "${fleet[@]}" --sim-plug-file plugs.txt station --timeout 2 demo.bin
  await '^flashed 0  failed 0'
  look "station-$columns-start"
  check "$columns"
  joined | grep -q 'flashed 0  failed 0  yield' && fail "a yield before any result"
  await '^1-2\.8 +[0-9A-F]{24}  (failed: )?needs recovery'
  await '^1-2\.1 +[0-9A-F]{24}  failed: the headset received'
  look "station-$columns-running"
  check "$columns"
  keys C-c
  await 'Ctrl\+C: no further headset starts'
  look "station-$columns-ctrl-c"
  check "$columns"
  if [ "$columns" = 80 ]; then
    keys C-c
    ended
    look "station-$columns-second-ctrl-c"
    shows 'stopped by signal 2'
  else
    ended
    look "station-$columns-end"
  fi
  check "$columns"
  shows 'Ctrl+C: no further headset starts'
done

# -v: the steps above the table; then the window narrowed under the table.
screen=station-verbose
run 120 -v "${fleet[@]}" --sim-plug-file plugs.txt station --timeout 2 demo.bin
await '^1-2\.8 '
look station-verbose-120
check 120
tmux -S "$socket" resize-window -t live -x 80
sleep 2 # the table is redrawn every second
look station-verbose-narrowed-80
check 80
keys C-c
sleep 0.5
keys C-c
ended

# flash --all: a failed headset shows failed at once, while the others are still flashed.
screen=flash-all-80
run 80 "${fleet[@]}" flash --all --yes --timeout 2 demo.bin
await '^1-2\.1 +[0-9A-F]{24}  failed: the headset received'
look flash-all-80-running
check 80
grep -qE '^1-2\.[2-8] .*flashing \[' "$screens/$screen.txt" || fail "no headset flashing any more"
ended
look flash-all-80-end
check 80

# The totals: the rate goes on while the station is idle; on virtual time, no durations.
screen=idle
printf '0 plug 1\n0 plug 2\n' >two.txt
run 120 --sim 2 --sim-real-time --sim-plug-file two.txt station demo.bin
await '^1-2\.1 +[0-9A-F]{24}  done, unplug'
await '^1-2\.2 +[0-9A-F]{24}  done, unplug'
look idle-120-done
rate=$(joined | grep -oE '[0-9.]+ (headsets )?per hour')
sleep 2.5
look idle-120-later
[ "$(joined | grep -oE '[0-9.]+ (headsets )?per hour')" != "$rate" ] || fail "the rate stood still"
keys C-c
ended
screen=virtual-time
run 120 --sim 8 --sim-plug 100 station --max 8 demo.bin
ended
look station-120-virtual-time
check 120
grep -qE '^flashed 8  failed 0  yield 100.0 %  on virtual time' "$screens/$screen.txt" ||
  fail "virtual time not said"

# --db with the database away: its state on the line below the totals, the headsets flashed all
# the same, and at the end how many records wait in the log.
screen=database-away
run 80 --sim 2 --sim-real-time --sim-plug 200 station --max 2 --log db.jsonl \
  --db "host=127.0.0.1 port=1" demo.bin
await '^database away, [12] waiting: the database cannot be reached'
look database-away-80
check 80
ended
shows '2 records wait in db.jsonl for the next push'
shows 'exit status 0'

exit $failed
