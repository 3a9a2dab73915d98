#!/usr/bin/env bash
# The test fixture that puts the simulated headset into the Wine prefix, once per test run:
#   install-sim.sh <run-dir>
# lists the headset's two interfaces (application product ID 0021, boot product ID 0001) under
# the HID interface class in the prefix's registry, links their device names in the prefix to
# the interface nodes of <run-dir>/obrint-sim.state (see sim_store.h), and drops any saved
# headset. <run-dir> holds the test-double hid.dll; the tests copy the programs they start there.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../../scripts/wine-env.sh
[ -n "${WINEPREFIX:-}" ] && [ -n "${OBRINT_ROOT:-}" ] || source "$root/scripts/wine-env.sh"
run_dir=$(cd "$1" && pwd)
guid=4d1e55b2-f16f-11cf-88cb-001111000030
instance='7&1a2b3c4d&0&0000'

[ -f "$run_dir/hid.dll" ] || { echo "no test-double hid.dll in $run_dir" >&2; exit 1; }
rm -rf "$run_dir"/obrint-sim.state*
for pid in 0021 0001; do
  "$root/scripts/wine-run.sh" reg add \
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{${guid^^}}\\##?#HID#VID_2833&PID_$pid#$instance#{$guid}" \
    /f >/dev/null
  ln -sfn "$run_dir/obrint-sim.state.if-$pid/node" \
    "$WINEPREFIX/dosdevices/hid#vid_2833&pid_$pid#$instance#{$guid}"
done
echo "simulated headset installed in $WINEPREFIX for $run_dir"
