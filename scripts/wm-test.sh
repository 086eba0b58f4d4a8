#!/usr/bin/env bash
# Runs VexadinView under a real window manager (openbox on Xvfb, 1600 x 1000),
# drives it with xdotool and checks where its windows and popups end up:
# title-bar menus, the viewer settings menu, a combo list, a tool tip and a
# toast placed from the window's position; dragging the title bar, resizing
# from an edge, maximising and restoring; a recording given on the command line.
# Screenshots (English and Chinese) go to BUILD_DIR/wm-shots for people to look at.
#
#   scripts/wm-test.sh [BUILD_DIR]        (default: build)
#
# Environment: VX_WM_DISPLAY=:N uses that display instead of the first free one
# from :90 on; VX_WM_LAUNCHES=N starts the program N times for the start-up
# placement check (default 3: window-manager races do not show on every start).
# Installs nothing: scripts/install-deps.sh brings Xvfb, openbox, xdotool,
# x11-utils and imagemagick.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=$(realpath "${1:-build}")
APP=$BUILD_DIR/VexadinView
VXRAW=$BUILD_DIR/tools/vxraw/vxraw
SHOTS=$BUILD_DIR/wm-shots
LAUNCHES=${VX_WM_LAUNCHES:-3}
SCREEN_W=1600
SCREEN_H=1000
TOL=4 # pixels

failures=0
fail() { echo "FAIL: $* [${SECONDS}s]"; failures=$((failures + 1)); }
pass() { echo "ok:   $* [${SECONDS}s]"; }
die() { echo "FAIL: $*"; exit 1; }

for tool in Xvfb openbox xdotool xwininfo xprop import; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh installs it)"
done
[ -x "$APP" ] || die "$APP not built"
[ -x "$VXRAW" ] || die "$VXRAW not built"

WORK=$(mktemp -d)
XVFB_PID="" WM_PID="" APP_PID=""
stop_app() {
  if [ -n "$APP_PID" ]; then
    kill "$APP_PID" 2>/dev/null
    wait "$APP_PID" 2>/dev/null
    APP_PID=""
  fi
}
cleanup() {
  stop_app
  [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null && wait "$WM_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

# --- X server and window manager -------------------------------------------
start_xvfb() {
  Xvfb "$1" -screen 0 ${SCREEN_W}x${SCREEN_H}x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 50); do
    if DISPLAY=$1 xdpyinfo >/dev/null 2>&1; then return 0; fi
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill "$XVFB_PID" 2>/dev/null
  wait "$XVFB_PID" 2>/dev/null
  XVFB_PID=""
  return 1
}
if [ -n "${VX_WM_DISPLAY:-}" ]; then
  start_xvfb "$VX_WM_DISPLAY" || die "cannot start Xvfb on $VX_WM_DISPLAY"
  export DISPLAY=$VX_WM_DISPLAY
else
  for n in $(seq 90 129); do
    [ -e "/tmp/.X$n-lock" ] && continue
    if start_xvfb ":$n"; then export DISPLAY=":$n"; break; fi
  done
  [ -n "$XVFB_PID" ] || die "no free X display between :90 and :129"
fi
mkdir -p "$WORK/home"
export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/.config XDG_DATA_HOME=$WORK/home/.local/share \
  XDG_CACHE_HOME=$WORK/home/.cache XDG_RUNTIME_DIR=$WORK/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
openbox >"$WORK/openbox.log" 2>&1 &
WM_PID=$!
for _ in $(seq 50); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" || die "openbox did not start"
echo "Xvfb $DISPLAY with openbox; screenshots in $SHOTS"
rm -rf "$SHOTS" && mkdir -p "$SHOTS"

# --- helpers -----------------------------------------------------------------
# "x y w h" of a window on the screen.
geom() {
  xwininfo -id "$1" 2>/dev/null | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
    /^ *Width:/{w=$2} /^ *Height:/{h=$2} END{print x, y, w, h}'
}
# Every visible window of the program (managed windows and popups alike).
app_windows() { xdotool search --onlyvisible --class '^VexadinView$' 2>/dev/null | sort -u; }
# The main window: the program's largest visible window.
main_window() {
  local best="" area=0 id x y w h
  for id in $(app_windows); do
    read -r x y w h < <(geom "$id")
    [ -n "${w:-}" ] || continue
    if [ $((w * h)) -gt "$area" ]; then area=$((w * h)); best=$id; fi
  done
  echo "$best"
}
# Waits until a window of the program appears that was not in the list $1;
# prints its id. Menus and lists are popups of their own.
new_window() {
  local before=$1 id
  for _ in $(seq 40); do
    for id in $(app_windows); do
      grep -qx "$id" <<<"$before" || { echo "$id"; return 0; }
    done
    sleep 0.1
  done
  return 1
}
# Waits until no popup of the program (toast, menu, tool tip) is left on screen,
# so that the next click reaches the main window and not a toast over it.
wait_popups_gone() {
  for _ in $(seq 80); do [ "$(app_windows | wc -l)" -le 1 ] && return 0; sleep 0.1; done
}
wait_gone() { for _ in $(seq 30); do xwininfo -id "$1" 2>/dev/null | grep -q IsViewable || return 0; sleep 0.1; done; }
near() { local d=$(($1 - $2)); [ "${d#-}" -le "${3:-$TOL}" ]; }
shot() { import -window root "$SHOTS/$1.png"; }
# Press at (x, y), move by (dx, dy) in 50 small steps, release.
drag() {
  local x=$1 y=$2 dx=$3 dy=$4 i steps=()
  for i in $(seq 50); do
    steps+=(mousemove $((x + dx * i / 50)) $((y + dy * i / 50)) sleep 0.02)
  done
  xdotool mousemove "$x" "$y" sleep 0.2 mousedown 1 sleep 0.2 "${steps[@]}" sleep 0.2 mouseup 1
  sleep 0.6
}

CONFIG_DIR=$XDG_DATA_HOME/Vexadin/VexadinView
launch() { # launch LANGUAGE [ARGS...]
  local lang=$1; shift
  mkdir -p "$CONFIG_DIR"
  printf '[Setting]\nlanguage=%s\n' "$lang" >"$CONFIG_DIR/config.ini"
  QT_QPA_PLATFORM=xcb "$APP" "$@" >"$WORK/app.log" 2>&1 &
  APP_PID=$!
  MAIN=""
  for _ in $(seq 100); do # the splash shows for 2 s first
    MAIN=$(main_window)
    if [ -n "$MAIN" ]; then
      read -r X Y W H < <(geom "$MAIN")
      [ "$W" -ge 1000 ] && break
    fi
    MAIN=""
    sleep 0.1
  done
  [ -n "$MAIN" ] || die "the main window did not appear (log: $(tail -3 "$WORK/app.log"))"
  sleep 0.5
  read -r X Y W H < <(geom "$MAIN")
}
refresh() { read -r X Y W H < <(geom "$MAIN"); }

# Opens the menu of the title-bar button at window offset (dx, 20) and checks
# that it drops down from under the button.
check_title_menu() { # NAME DX
  local name=$1 cx=$((X + $2)) cy=$((Y + 20)) before menu mx my mw mh
  before=$(app_windows)
  xdotool mousemove "$cx" "$cy" click 1
  if ! menu=$(new_window "$before"); then fail "$name menu did not open"; return; fi
  sleep 0.3
  read -r mx my mw mh < <(geom "$menu")
  shot "$SHOT_PREFIX-menu-$name"
  if [ "$mx" -le "$cx" ] && [ "$cx" -le $((mx + mw)) ] && [ "$my" -ge $((Y + 28)) ] && [ "$my" -le $((Y + 42)) ]; then
    pass "$name menu under its button (menu at $mx,$my; window at $X,$Y)"
  else
    fail "$name menu at $mx,$my (${mw}x$mh), expected under its button at $cx,$((Y + 35)) (window at $X,$Y)"
  fi
  xdotool key Escape; wait_gone "$menu"
}

# --- start-up placement over several launches -----------------------------------
SHOT_PREFIX=en
for i in $(seq "$LAUNCHES"); do
  launch en
  if near "$X" $(((SCREEN_W - W) / 2)) 2 && near "$Y" $(((SCREEN_H - H) / 2)) 2; then
    pass "launch $i: window centred at $X,$Y (${W}x$H)"
  else
    fail "launch $i: window at $X,$Y (${W}x$H), expected centred"
  fi
  [ "$i" = 1 ] && shot en-main
  check_title_menu File 75
  stop_app
done

# --- English: everything else ------------------------------------------------------
launch en
check_title_menu Setting 216

# Viewer settings menu: above its play-bar button, right edges together.
before=$(app_windows)
cx=$((X + 657)) cy=$((Y + H - 62))
xdotool mousemove "$cx" "$cy" click 1
if menu=$(new_window "$before"); then
  sleep 0.3
  read -r mx my mw mh < <(geom "$menu")
  shot en-viewer-settings-menu
  if [ $((my + mh)) -le "$cy" ] && [ $((my + mh)) -ge $((cy - 30)) ] && near $((mx + mw)) "$cx" 30; then
    pass "viewer settings menu above its button ($mx,$my ${mw}x$mh)"
  else
    fail "viewer settings menu at $mx,$my (${mw}x$mh), expected just above the button at $cx,$cy"
  fi
  xdotool key Escape; wait_gone "$menu"
else
  fail "viewer settings menu did not open"
fi

# Tool tip of the play button: 2 s after the pointer enters, just above it.
before=$(app_windows)
cx=$((X + 513)) cy=$((Y + H - 62))
xdotool mousemove "$cx" $((cy - 40)); sleep 0.2; xdotool mousemove "$cx" "$cy"
sleep 2.3
if tip=$(new_window "$before"); then
  read -r tx ty tw th < <(geom "$tip")
  shot en-tooltip
  if [ "$tx" -le "$cx" ] && [ "$cx" -le $((tx + tw)) ] && [ $((ty + th)) -le "$cy" ] && [ $((ty + th)) -ge $((cy - 25)) ]; then
    pass "play button tool tip above the button ($tx,$ty ${tw}x$th)"
  else
    fail "play button tool tip at $tx,$ty (${tw}x$th), expected just above the button at $cx,$cy"
  fi
else
  fail "play button tool tip did not show"
fi
xdotool mousemove $((X + W / 2)) $((Y + H / 2)); sleep 0.5

# General settings dialog and a combo list opened from its read-only text.
wait_popups_gone
before=$(app_windows)
xdotool mousemove $((X + 30)) $((Y + H - 61)) click 1
if dialog=$(new_window "$before"); then
  sleep 0.5
  read -r dx dy dw dh < <(geom "$dialog")
  shot en-general-settings
  before=$(app_windows)
  cx=$((dx + 467)) cy=$((dy + 241))
  xdotool mousemove "$cx" "$cy" click 1
  if list=$(new_window "$before"); then
    sleep 0.4
    read -r lx ly lw lh < <(geom "$list")
    shot en-combo-list
    if xwininfo -id "$list" | grep -q IsViewable && [ "$lx" -le "$cx" ] && [ "$cx" -le $((lx + lw)) ] \
      && [ "$ly" -ge $((cy + 8)) ] && [ "$ly" -le $((cy + 24)) ]; then
      pass "combo list under its combo ($lx,$ly ${lw}x$lh)"
    else
      fail "combo list at $lx,$ly (${lw}x$lh), expected open under the combo at $cx,$cy"
    fi
    xdotool key Escape; wait_gone "$list"
  else
    fail "combo list did not open (or closed at once) on a click on its text"
  fi
  xdotool key Escape; wait_gone "$dialog"
else
  fail "general settings dialog did not open"
fi

# A toast at the window's bottom-left corner: "Save as..." with nothing open.
before=$(app_windows)
xdotool mousemove $((X + 75)) $((Y + 20)) click 1
sleep 0.5
xdotool key Down Down Return
if toast=$(new_window "$before"); then
  sleep 0.5
  read -r tx ty tw th < <(geom "$toast")
  shot en-toast
  if near "$tx" "$X" 2 && near $((ty + th)) $((Y + H)) 2; then
    pass "toast at the window's bottom-left corner ($tx,$ty ${tw}x$th)"
  else
    fail "toast at $tx,$ty (${tw}x$th), expected its bottom-left on the window's at $X,$((Y + H))"
  fi
  focus=$(xdotool getwindowfocus 2>/dev/null)
  if [ "$focus" = "$MAIN" ]; then
    pass "the keyboard stays with the main window while the toast shows"
  else
    fail "the toast took the keyboard focus (focus on $(xdotool getwindowname "$focus" 2>/dev/null))"
  fi
else
  fail "no toast after Save as... with nothing open"
fi

# Dragging the title bar moves the window by the pointer's travel.
refresh
x0=$X y0=$Y
drag $((X + W / 2)) $((Y + 20)) -100 -50
refresh
if near "$X" $((x0 - 100)) && near "$Y" $((y0 - 50)); then
  pass "title-bar drag by (-100,-50) moved the window from $x0,$y0 to $X,$Y"
else
  fail "title-bar drag by (-100,-50) moved the window from $x0,$y0 to $X,$Y, expected $((x0 - 100)),$((y0 - 50))"
fi
check_title_menu File-after-drag 75

# Resizing from the bottom-right corner.
w0=$W h0=$H x0=$X y0=$Y
drag $((X + W - 2)) $((Y + H - 2)) 150 100
refresh
if near "$W" $((w0 + 150)) && near "$H" $((h0 + 100)) && near "$X" "$x0" 1 && near "$Y" "$y0" 1; then
  pass "corner resize to ${W}x$H"
else
  fail "corner resize by (150,100) gave $X,$Y ${W}x$H from $x0,$y0 ${w0}x$h0"
fi
shot en-resized

# Maximise and restore, by the button and by double-clicking the title bar.
read -r wa_x wa_y wa_w wa_h < <(xprop -root _NET_WORKAREA | sed 's/.*= //; s/,//g' | awk '{print $1, $2, $3, $4}')
normal="$X $Y $W $H"
check_maximised() { # HOW
  refresh
  if [ "$X $Y $W $H" = "$wa_x $wa_y $wa_w $wa_h" ]; then
    pass "$1 maximised to the work area $wa_w x $wa_h"
  else
    fail "$1: window at $X,$Y ${W}x$H, expected the work area $wa_x,$wa_y ${wa_w}x$wa_h"
  fi
}
check_restored() { # HOW
  refresh
  if [ "$X $Y $W $H" = "$normal" ]; then
    pass "$1 restored $X,$Y ${W}x$H"
  else
    fail "$1: window at $X,$Y ${W}x$H, expected the earlier $normal"
  fi
}
xdotool mousemove $((X + W - 56)) $((Y + 20)) click 1; sleep 1
check_maximised "maximise button"
shot en-maximised
check_title_menu File-maximised 75
xdotool mousemove $((X + W - 56)) $((Y + 20)) click 1; sleep 1
check_restored "restore button"
xdotool mousemove $((X + W / 2)) $((Y + 20)) click --repeat 2 --delay 80 1; sleep 1
check_maximised "double-click"
xdotool mousemove $((X + W / 2)) $((Y + 20)) click --repeat 2 --delay 80 1; sleep 1
check_restored "double-click"
stop_app

# --- Chinese, with a recording given on the command line ---------------------------
SHOT_PREFIX=zh
awk 'BEGIN { for (i = 0; i < 20000; i++) printf "%d %d %d %d\n", i * 50, (i * 37) % 320, (i * 11) % 240, i % 2 }' \
  >"$WORK/events.txt"
"$VXRAW" convert "$WORK/events.txt" "$WORK/recording.raw" --width 320 --height 240 >/dev/null \
  || die "vxraw convert failed"
launch zh "$WORK/recording.raw" "$WORK/second.raw"
sleep 1
shot zh-recording-opened
if grep -q "Load raw file success." "$WORK/app.log"; then
  pass "the recording given on the command line was opened"
else
  fail "the recording given on the command line was not opened (log: $(tail -3 "$WORK/app.log"))"
fi
if grep -q "second.raw" "$WORK/app.log"; then
  pass "the second file argument was reported"
else
  fail "nothing said about the ignored second file argument"
fi
check_title_menu File 75
check_title_menu Setting 170
wait_popups_gone # the "opened" toast covers the settings button for 5 s
before=$(app_windows)
xdotool mousemove $((X + 30)) $((Y + H - 61)) click 1
if dialog=$(new_window "$before"); then
  sleep 0.5
  shot zh-general-settings
  read -r dx dy dw dh < <(geom "$dialog")
  xdotool mousemove $((dx + 467)) $((dy + 241)) click 1; sleep 0.6
  shot zh-combo-list
  xdotool key Escape; sleep 0.3; xdotool key Escape; wait_gone "$dialog"
else
  fail "general settings dialog did not open (Chinese)"
fi
stop_app

echo "screenshots: $SHOTS"
if [ "$failures" -gt 0 ]; then
  echo "window-manager test: $failures check(s) failed"
  exit 1
fi
echo "window-manager test: all checks passed"
