#!/usr/bin/env bash
# Puts a simulated headset into a Wine prefix for a program under test:
#   install-sim.sh <wineprefix> <program-dir> [<state-file>]
#   install-sim.sh --remove <wineprefix>
# copies the test-double hid.dll into <program-dir>, lists the headset's two interfaces
# (application product ID 0021 and boot product ID 0001) under the HID interface class in the
# prefix's registry, links their device names in the prefix to the interface nodes of the state
# file (default <program-dir>/obrint-sim.state), and starts a fresh headset running its
# application firmware. --remove takes the registry keys and the links out again. The double is $OBRINT_HIDDOUBLE_DLL, else the hid.dll
# beside this script (the build directory's copy of it). See README.md.
set -euo pipefail

guid=4d1e55b2-f16f-11cf-88cb-001111000030
instance='7&1a2b3c4d&0&0000'
wine=${WINE:-wine}

if [ "${1:-}" = --remove ] && [ $# -eq 2 ]; then
  for pid in 0021 0001; do
    rm -f "$2/dosdevices/hid#vid_2833&pid_$pid#$instance#{$guid}"
    WINEPREFIX=$2 "$wine" reg delete \
      "HKLM\\SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{${guid^^}}\\##?#HID#VID_2833&PID_$pid#$instance#{$guid}" \
      /f >/dev/null 2>&1 || true
  done
  exit 0
fi
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 <wineprefix> <program-dir> [<state-file>] | --remove <wineprefix>" >&2
  exit 2
fi
prefix=$(cd "$1" && pwd)
program_dir=$(cd "$2" && pwd)
state=${3:-$program_dir/obrint-sim.state}
state=$(cd "$(dirname "$state")" && pwd)/$(basename "$state")
dll=${OBRINT_HIDDOUBLE_DLL:-$(dirname "$0")/hid.dll}
app_pid=0021

[ -f "$dll" ] || { echo "no test-double hid.dll at $dll" >&2; exit 1; }
[ -d "$prefix/dosdevices" ] || { echo "$prefix is no Wine prefix" >&2; exit 1; }

cp "$dll" "$program_dir/hid.dll"

reg_file=$(mktemp --suffix=.reg)
trap 'rm -f "$reg_file"' EXIT
{
  printf 'REGEDIT4\r\n\r\n'
  for pid in "$app_pid" 0001; do
    upper=$(printf '%s' "$pid" | tr a-f A-F)
    printf '[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{%s}\\##?#HID#VID_2833&PID_%s#%s#{%s}]\r\n\r\n' \
      "${guid^^}" "$upper" "$instance" "$guid"
    ln -sfn "$state.if-$pid/node" "$prefix/dosdevices/hid#vid_2833&pid_$pid#$instance#{$guid}"
  done
} >"$reg_file"
WINEPREFIX=$prefix "$wine" regedit /S "$(WINEPREFIX=$prefix "$wine" winepath -w "$reg_file" 2>/dev/null)"

# A fresh headset: no saved state, the application interface on the bus in its first generation
# (what the double makes of a missing state file).
rm -rf "$state" "$state.new" "$state".if-*
mkdir -p "$state.if-$app_pid"
printf 'obrint-sim-interface pid=%s generation=1\n' "$app_pid" >"$state.if-$app_pid/node"
