#!/usr/bin/env bash
# The player's tray icon on a real tray host: trayer, a stand-alone XEmbed tray, on the virtual
# display this script runs on (ctest starts it under xvfb-run). Checks that the icon reaches the
# host, that the close button hides the window from the task bar and a left click on the icon
# brings it back, that a right click opens the main menu, that the icon comes back when the host
# restarts, and that with no host the close button leaves the window where the user can find it.
# There is no window manager on the virtual display, so a window is unmapped only when the player
# hides it.
#   tray_host_e2e.sh <player>        (exit 77: skipped, a tool is missing)
set -uo pipefail
player=$1
for tool in trayer xdotool xwininfo; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[[ -n "${DISPLAY:-}" ]] || { echo "SKIP: no display"; exit 77; }

work=$(mktemp -d /tmp/orvane-tray-XXXXXX)
tray_pid=""
player_pid=""
cleanup() {
  [[ -n "$player_pid" ]] && kill -KILL "$player_pid" 2>/dev/null
  [[ -n "$tray_pid" ]] && kill -KILL "$tray_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work"/{home,config,data,cache,runtime}
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime"
export SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0
# The XEmbed tray under test, not a StatusNotifier host on some session bus.
unset DBUS_SESSION_BUS_ADDRESS
unset QT_QPA_PLATFORM

# What the tray host and the player said helps when a step fails on a busy machine.
fail() {
  echo "FAIL: $*"
  for log in "$work"/tray.log "$work"/player.log; do
    [[ -s "$log" ]] && { echo "--- $(basename "$log")"; tail -20 "$log"; }
  done
  exit 1
}
# Runs "$@" until it succeeds, for up to 30 s (the sanitizer suite runs beside other tests).
wait_for() {
  for _ in $(seq 300); do "$@" && return 0; sleep 0.1; done
  return 1
}

start_tray() {
  trayer --edge top --align right --widthtype pixel --width 200 --height 30 >>"$work/tray.log" 2>&1 &
  tray_pid=$!
}
stop_tray() {
  kill "$tray_pid"
  wait "$tray_pid" 2>/dev/null
  tray_pid=""
}

# The main window: the 290 x 418 window titled "Orvane4".
main_window() {
  local id
  for id in $(xdotool search --name '^Orvane4$' 2>/dev/null); do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Width: 290' && { echo "$id"; return 0; }
  done
  return 1
}
map_state() { xwininfo -id "$1" | awk '/Map State:/ {print $3}'; }
main_state() {
  local id
  id=$(main_window) || return 1
  map_state "$id"
}
main_viewable() { [[ "$(main_state)" == IsViewable ]]; }
main_unmapped() { [[ "$(main_state)" == IsUnMapped ]]; }
# The icon's window inside the tray's panel, as "x y" of its centre on the screen.
icon_centre() {
  local panel
  panel=$(xdotool search --classname '^panel$' 2>/dev/null | head -1) || return 1
  [[ -n "$panel" ]] || return 1
  xwininfo -tree -id "$panel" | awk '/"Orvane4"/ {
      split($(NF-1), size, "[x+]"); split($NF, at, "+");
      print at[2] + int(size[1] / 2), at[3] + int(size[2] / 2); found = 1 }
    END { exit !found }'
}
icon_embedded() { icon_centre >/dev/null; }
click_at() { xdotool mousemove --sync "$1" "$2" click "$3"; }
# The close button, at its place in the window: face (2, 2) + control bar (15, 15) + (231, 2), centre.
click_close() {
  local x=0 y=0
  eval "$(xwininfo -id "$(main_window)" | awk '/Absolute upper-left X/ {print "x=" $4} /Absolute upper-left Y/ {print "y=" $4}')"
  click_at $((x + 258)) $((y + 29)) 1
}
visible_windows() { xdotool search --onlyvisible --name '.*' 2>/dev/null | wc -l; }
more_windows_than() { [[ "$(visible_windows)" -gt "$1" ]]; }

start_tray
wait_for xdotool search --classname '^panel$' >/dev/null || fail "trayer did not start"
"$player" >"$work/player.log" 2>&1 &
player_pid=$!
wait_for main_viewable || fail "the main window did not show"
wait_for icon_embedded || fail "the icon did not reach the tray"
echo "ok: the icon is in the tray at $(icon_centre)"

click_close
wait_for main_unmapped || fail "the close button left the window on the task bar although a tray is there"
echo "ok: minimised to the tray"
read -r ix iy < <(icon_centre)
[[ -n "$ix" ]] || fail "the icon went away"
click_at "$ix" "$iy" 1
wait_for main_viewable || fail "a left click on the icon did not bring the window back"
echo "ok: a left click restores the window"

before=$(visible_windows)
click_at "$ix" "$iy" 3
wait_for more_windows_than "$before" || fail "a right click on the icon opened no menu"
xdotool key Escape
echo "ok: a right click opens the menu"

stop_tray
start_tray
wait_for icon_embedded || fail "the icon did not come back when the tray restarted"
echo "ok: the icon is back after the tray restarted"

stop_tray
sleep 2
click_close
sleep 1
main_viewable || fail "with no tray the close button hid the window where nobody can find it"
echo "ok: with no tray the window stays on the task bar"

kill -TERM "$player_pid"
wait "$player_pid" || fail "the player did not end cleanly: $(cat "$work/player.log")"
player_pid=""
echo "PASS"
