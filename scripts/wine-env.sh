# shellcheck shell=bash
# Wine environment of the project: its own prefix, an X display, a warm wineserver.
# Source it; it sets variables and defines functions, and runs nothing by itself.
#
#   lumeno_display_ok         DISPLAY is set and answers
#   lumeno_xvfb_start [force] use DISPLAY if it answers (unless "force"), else start
#                             a private Xvfb; sets DISPLAY and LUMENO_XVFB_PID
#   lumeno_xvfb_stop          stop the Xvfb that lumeno_xvfb_start started
#   lumeno_screen_size        WxH of the X screen of DISPLAY
#   lumeno_prefix_setup       create or update the prefix; quick when already done
#   lumeno_wineserver_warm    keep a wineserver running for the prefix a while
#   lumeno_set_dpi [dpi]      the display scale programs of the prefix see (96 unless
#                             given or LUMENO_DPI is set); takes effect at their next start
#   lumeno_wine_cleanup       end every Wine process of the prefix
#   lumeno_wine ARGS...       run Wine in the prefix
#   lumeno_lock [seconds]     take the prefix's lock (fd 9) for this shell; the
#                             end-to-end tests take the same lock
#
# Every wait is bounded by a timeout. The functions are safe under set -e.

LUMENO_ROOT=${LUMENO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export LUMENO_ROOT
export WINEPREFIX=${LUMENO_WINEPREFIX:-$LUMENO_ROOT/build/wineprefix}
export WINEARCH=win64
# No Mono or Gecko install prompts, no menu entries or file associations on the host.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG=${WINEDEBUG:--all}

# Call the 64-bit loader directly: Debian's wrapper warns about a missing wine32
# on stderr whenever tracing is on, which would mix into the trace logs.
if [ -z "${LUMENO_WINE:-}" ]; then
  if [ -x /usr/lib/wine/wine64 ]; then
    LUMENO_WINE=/usr/lib/wine/wine64
  elif command -v wine64 >/dev/null 2>&1; then
    LUMENO_WINE=$(command -v wine64)
  else
    LUMENO_WINE=$(command -v wine || echo wine)
  fi
fi
if [ -z "${LUMENO_WINESERVER:-}" ]; then
  if [ -x /usr/lib/wine/wineserver64 ]; then
    LUMENO_WINESERVER=/usr/lib/wine/wineserver64
  else
    LUMENO_WINESERVER=$(command -v wineserver || echo wineserver)
  fi
fi
export LUMENO_WINE LUMENO_WINESERVER
export WINELOADER=${WINELOADER:-$LUMENO_WINE}
export WINESERVER=${WINESERVER:-$LUMENO_WINESERVER}

LUMENO_SCREEN=${LUMENO_SCREEN:-1024x768x24}
# Bump when the prefix recipe below changes, so existing prefixes are redone.
LUMENO_PREFIX_RECIPE=4

lumeno_wine() {
  "$LUMENO_WINE" "$@"
}

lumeno_lock() {
  # One wineserver serves one X display: whoever uses the prefix holds this.
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock -w "${1:-600}" 9 || {
    echo "lumeno_lock: $WINEPREFIX is in use by another run" >&2
    return 1
  }
}

lumeno_display_ok() {
  [ -n "${DISPLAY:-}" ] && timeout 5 xdpyinfo >/dev/null 2>&1
}

lumeno_xvfb_start() {
  if [ "${1:-}" != force ] && lumeno_display_ok; then
    return 0
  fi
  local numfile log pid n i
  numfile=$(mktemp)
  if [ -n "${LUMENO_XVFB_LOG:-}" ]; then
    log=$LUMENO_XVFB_LOG
  else
    log=$(mktemp -t lumeno-xvfb.XXXXXX.log)
    LUMENO_XVFB_TEMPLOG=$log
  fi
  # -displayfd lets the server pick a free display number itself, without races.
  Xvfb -displayfd 3 -screen 0 "$LUMENO_SCREEN" -nolisten tcp -noreset 3>"$numfile" 2>"$log" &
  pid=$!
  n=
  for i in $(seq 100); do
    n=$(tr -dc '0-9' <"$numfile")
    [ -n "$n" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$numfile"
  if [ -z "$n" ]; then
    kill "$pid" 2>/dev/null || true
    echo "lumeno_xvfb_start: Xvfb did not come up (log: $log)" >&2
    return 1
  fi
  export DISPLAY=":$n"
  LUMENO_XVFB_PID=$pid
  export LUMENO_XVFB_PID
  for i in $(seq 50); do
    timeout 5 xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  echo "lumeno_xvfb_start: display $DISPLAY does not answer" >&2
  lumeno_xvfb_stop
  return 1
}

lumeno_xvfb_stop() {
  local pid=${LUMENO_XVFB_PID:-} i
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || true
  for i in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  unset LUMENO_XVFB_PID
  if [ -n "${LUMENO_XVFB_TEMPLOG:-}" ]; then
    rm -f "$LUMENO_XVFB_TEMPLOG"
    unset LUMENO_XVFB_TEMPLOG
  fi
  return 0
}

lumeno_screen_size() {
  timeout 5 xdpyinfo 2>/dev/null | awk '/dimensions:/ { print $2; exit }'
}

# Wine ships these; marlett draws the caption buttons, the others are the
# classic dialog faces.
LUMENO_WINE_FONT_DIR=${LUMENO_WINE_FONT_DIR:-/usr/share/wine/fonts}

# Host faces that stand in for the ones the program asks for, one a line:
#   wanted face|family that replaces it|its font files, found by name under /usr/share/fonts
# Debian 12 keeps Liberation 2 in liberation2/ (liberation/ may hold the older 1.x there),
# Debian 13 in liberation/: liberation2/ is searched first.
# Wine maps a face only to a whole family (never to one style of it), so the
# heavy face needs a family of its own: Roboto Black is one, with weight 900
# like the face it replaces. "MS Sans Serif" needs no entry: Wine's own
# bitmap font of that name (sserife.fon) has the classic sizes and metrics.
lumeno_font_replacements() {
  cat <<'EOF'
Arial|Liberation Sans|LiberationSans-Regular.ttf LiberationSans-Bold.ttf LiberationSans-Italic.ttf LiberationSans-BoldItalic.ttf
Arial Black|Roboto Black|Roboto-Black.ttf Roboto-BlackItalic.ttf
EOF
}

lumeno_prefix_stamp() {
  local size=$1
  printf 'recipe=%s wine=%s desktop=%s\n' "$LUMENO_PREFIX_RECIPE" \
    "$("$LUMENO_WINE" --version 2>/dev/null)" "$size"
}

lumeno_prefix_setup() {
  local size stamp stampfile reg fonts f rep
  size=${LUMENO_DESKTOP_SIZE:-}
  if [ -z "$size" ] && lumeno_display_ok; then
    size=$(lumeno_screen_size)
  fi
  size=${size:-${LUMENO_SCREEN%x*}}
  stampfile=$WINEPREFIX/.lumeno-prefix
  stamp=$(lumeno_prefix_stamp "$size")
  if [ -f "$WINEPREFIX/system.reg" ] && [ "$(cat "$stampfile" 2>/dev/null)" = "$stamp" ]; then
    return 0
  fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 "$LUMENO_WINE" wineboot -i >/dev/null 2>&1 || {
      echo "lumeno_prefix_setup: wineboot -i failed or timed out" >&2
      return 1
    }
  else
    timeout 300 "$LUMENO_WINE" wineboot -u >/dev/null 2>&1 || {
      echo "lumeno_prefix_setup: wineboot -u failed or timed out" >&2
      return 1
    }
  fi

  fonts=$WINEPREFIX/drive_c/windows/Fonts
  mkdir -p "$fonts"
  for f in "$LUMENO_WINE_FONT_DIR"/*.ttf "$LUMENO_WINE_FONT_DIR"/*.fon; do
    [ -f "$f" ] && cp -f "$f" "$fonts/"
  done

  reg=$(mktemp -t lumeno-prefix.XXXXXX.reg)
  {
    printf 'REGEDIT4\n\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n\n'
    # One virtual desktop the size of the X screen: window positions inside
    # Wine are then X screen positions, and no host window manager interferes.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"Desktop"="Default"\n\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"Default"="%s"\n\n' "$size"
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
    while IFS='|' read -r want family files; do
      [ -n "$want" ] || continue
      for rep in $files; do
        f=$(find /usr/share/fonts/truetype/liberation2 /usr/share/fonts -name "$rep" -print -quit 2>/dev/null || true)
        if [ -n "$f" ]; then
          cp -f "$f" "$fonts/"
        else
          echo "lumeno_prefix_setup: missing $rep under /usr/share/fonts" >&2
        fi
      done
      printf '"%s"="%s"\n' "$want" "$family"
    done < <(lumeno_font_replacements)
    printf '\n'
  } >"$reg"
  local rc=0
  timeout 120 "$LUMENO_WINE" regedit /S "$(winepath_of "$reg")" >/dev/null 2>&1 || rc=$?
  rm -f "$reg"
  if [ $rc -ne 0 ]; then
    echo "lumeno_prefix_setup: registry import failed ($rc)" >&2
    return 1
  fi
  # The desktop settings are read when the desktop starts, and the registry
  # reaches disk when the server ends: end this server before stamping.
  lumeno_wine_cleanup
  printf '%s\n' "$stamp" >"$stampfile"
}

winepath_of() {
  # Z: maps the host root in every prefix.
  printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"
}

lumeno_wineserver_warm() {
  # A persistent server for LUMENO_WINESERVER_LINGER seconds after its last
  # client, so consecutive Wine runs skip the start-up.
  timeout 10 "$LUMENO_WINESERVER" -p"${LUMENO_WINESERVER_LINGER:-60}" >/dev/null 2>&1 || true
}

lumeno_set_dpi() {
  local dpi=${1:-${LUMENO_DPI:-96}}
  timeout 60 "$LUMENO_WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
    >/dev/null 2>&1 || { echo "lumeno_set_dpi: could not set $dpi DPI" >&2; return 1; }
}

lumeno_wine_cleanup() {
  timeout 15 "$LUMENO_WINESERVER" -k >/dev/null 2>&1 || true
  timeout 15 "$LUMENO_WINESERVER" -w >/dev/null 2>&1 || true
}
