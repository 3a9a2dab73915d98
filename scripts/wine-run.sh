#!/usr/bin/env bash
# Runs one Windows program under Wine with the loader that its machine type needs: the build's
# test emulator, and what the other scripts use to start Windows programs.
#
# Wine can fail to start a program and still exit 0 without a word (a 32-bit program where the
# 32-bit loader cannot run, with WINEDEBUG=-all). So for an .exe file the output is checked as
# well: Wine's own start-up failures, or a run that printed nothing at all, end with status 125.
# Programs that are silent by nature (the GUI) are run with OBRINT_WINE_SILENT_OK=1.
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: wine-run.sh PROGRAM [ARGS...]" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
[ -n "${WINEPREFIX:-}" ] && [ -n "${OBRINT_ROOT:-}" ] || source "$here/wine-env.sh"

loader32=/usr/lib/wine/wine
loader64=/usr/lib/wine/wine64
[ -x "$loader64" ] || loader64=$(command -v wine64 || command -v wine)

# The PE header's machine field: 014c is i386, 8664 is x86-64.
pe_machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] || return 0
  od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}

program=$1
loader=$loader64
check_output=
if [ -f "$program" ] && [[ "$program" == *.[eE][xX][eE] ]]; then
  check_output=1
  if [ "$(pe_machine "$program")" = 014c ]; then
    if ! "$loader32" --version >/dev/null 2>&1; then
      echo "wine-run: cannot start the 32-bit program $program: this machine's 32-bit Wine loader" \
        "does not run (wine32:i386 missing, or a kernel without IA-32 emulation)" >&2
      exit 125
    fi
    loader=$loader32
  fi
fi

if [ -z "$check_output" ]; then
  exec "$loader" "$@"
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$loader" "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}

if grep -q -E 'Application could not be started|Bad EXE format|wine32 is missing|could not load .*(ntdll|kernel32)|ShellExecuteEx failed' "$log"; then
  echo "wine-run: Wine could not start $program" >&2
  exit 125
fi
if [ "$status" -eq 0 ] && [ ! -s "$log" ] && [ "${OBRINT_WINE_SILENT_OK:-0}" != 1 ]; then
  echo "wine-run: $program exited 0 but printed nothing: it probably never started" >&2
  exit 125
fi
exit "$status"
