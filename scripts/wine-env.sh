# Sourced by the scripts that run Windows code. Sets up the project's Wine prefix, a Chinese locale
# (ANSI code page 936), and offers:
#   obrint_win_arch        i686 where this machine runs 32-bit Windows code, else x86_64
#   obrint_start_display   a usable X display: $DISPLAY, or an Xvfb of our own
#   obrint_init_prefix     creates and configures the prefix once (safe to call again)
#   obrint_wine PROG ARGS  runs a Windows program with the loader its machine type needs
#   obrint_window_screenshot PID TITLE FILE
#                          a PNG picture of the window TITLE of the program PID, once it is drawn
#   obrint_wine_cleanup    ends the prefix's wineserver and the Xvfb started here
# A preset WINEPREFIX, DISPLAY or OBRINT_DISPLAY_NUMBER is honoured.

OBRINT_ROOT=${OBRINT_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export OBRINT_ROOT
export WINEPREFIX=${WINEPREFIX:-$OBRINT_ROOT/build/wine/prefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
if locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
else
  echo "wine-env: locale zh_CN.UTF-8 is missing (run scripts/setup.sh): narrow Chinese text will show as '?'" >&2
fi

OBRINT_WINE_RUN=$OBRINT_ROOT/scripts/wine-run.sh

# Debian's 32-bit loader needs the kernel's IA-32 emulation and the i386 wine32 package; some
# kernels boot with the emulation switched off, and then no 32-bit program can start at all.
obrint_win_arch() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo i686
  else
    echo x86_64
  fi
}

obrint_wine() {
  "$OBRINT_WINE_RUN" "$@"
}

obrint_start_display() {
  if [ -n "${OBRINT_DISPLAY_NUMBER:-}" ]; then
    export DISPLAY=":$OBRINT_DISPLAY_NUMBER"
    xdpyinfo >/dev/null 2>&1 && return 0
    rm -f "/tmp/.X$OBRINT_DISPLAY_NUMBER-lock" "/tmp/.X11-unix/X$OBRINT_DISPLAY_NUMBER" 2>/dev/null
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    OBRINT_XVFB_PID=$!
  elif [ -n "${DISPLAY:-}" ] && [ -z "${OBRINT_OWN_DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  else
    # Let Xvfb pick a free display number, so that a stale one never blocks us.
    local fifo n
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    OBRINT_XVFB_PID=$!
    n=$(timeout 20 head -n1 "$fifo" || true)
    rm -f "$fifo"
    if [ -z "$n" ]; then
      echo "wine-env: Xvfb did not start" >&2
      return 1
    fi
    export DISPLAY=":$n"
  fi
  export OBRINT_XVFB_PID
  local _
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "wine-env: display $DISPLAY does not answer" >&2
  return 1
}

# Keys the program and its tests rely on:
# - no window manager under Xvfb, so Wine draws caption bars itself (Managed=N);
# - Wine ships no class key for the Computer setup class, so its description lookup would fail.
obrint_configure_prefix() {
  obrint_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f &&
    obrint_wine reg add \
      'HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E966-E325-11CE-BFC1-08002BE10318}' \
      /ve /d Computer /f &&
    timeout 60 wineserver -w &&
    obrint_wine reg query \
      'HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E966-E325-11CE-BFC1-08002BE10318}' /ve |
    grep -q Computer
}

obrint_init_prefix() {
  local stamp=$WINEPREFIX/.obrint-ready want log attempt
  want="$(/usr/lib/wine/wine64 --version 2>/dev/null) keys-1"
  if [ -f "$WINEPREFIX/system.reg" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$want" ]; then
    return 0
  fi
  log=$(dirname "$WINEPREFIX")/prefix-init.log
  mkdir -p "$(dirname "$WINEPREFIX")"
  for attempt in 1 2; do
    mkdir -p "$WINEPREFIX"
    if timeout 300 "$OBRINT_WINE_RUN" wineboot --init >>"$log" 2>&1 &&
      timeout 120 wineserver -w &&
      [ -f "$WINEPREFIX/system.reg" ] &&
      obrint_configure_prefix >>"$log" 2>&1; then
      echo "$want" >"$stamp"
      return 0
    fi
    echo "wine-env: preparing the Wine prefix failed (attempt $attempt, see $log)" >&2
    timeout 30 wineserver -k 2>/dev/null
    rm -rf "$WINEPREFIX"
  done
  return 1
}

# Waits (up to 30 s) for the top-level window TITLE of the program PID (started by this shell),
# lets it finish painting (two equal pictures in a row) and saves its picture as FILE.
obrint_window_screenshot() {
  local program=$1 title=$2 shot=$3 window='' previous='' current _
  for _ in $(seq 300); do
    window=$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$title\"" 'index($0, t) {print $1; exit}' ||
      true)
    [ -n "$window" ] && break
    if ! kill -0 "$program" 2>/dev/null; then
      wait "$program"
      echo "the program ended (status $?) before its window \"$title\" appeared" >&2
      return 1
    fi
    sleep 0.1
  done
  if [ -z "$window" ]; then
    echo "the window \"$title\" did not appear within 30 s" >&2
    return 1
  fi
  mkdir -p "$(dirname "$shot")"
  for _ in $(seq 40); do
    sleep 0.25
    import -window "$window" "$shot.tmp.png" 2>/dev/null || continue
    current=$(md5sum <"$shot.tmp.png")
    [ "$current" = "$previous" ] && break
    previous=$current
  done
  mv "$shot.tmp.png" "$shot"
}

obrint_wine_cleanup() {
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  if [ -n "${OBRINT_XVFB_PID:-}" ]; then
    kill "$OBRINT_XVFB_PID" 2>/dev/null || true
    wait "$OBRINT_XVFB_PID" 2>/dev/null || true
    unset OBRINT_XVFB_PID
  fi
}
