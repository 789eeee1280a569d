#!/bin/sh
# The player's desktop entries as the desktop's own launchers run them. The entries are installed
# the way the player installs them at every start (register_file_types, into a throw-away
# XDG_DATA_HOME, with the player as default application in XDG_CONFIG_HOME), for a program that
# records its arguments and lies in a folder with a blank in its name, as a user's build may. Then
# two songs are opened with xdg-open (which takes one file), gio open and gtk-launch, and what
# reached the program is compared with the files: both, in order, in one start. Every wait is
# bounded. ctest runs this under xvfb-run: gtk-launch needs a display.
#   desktop_open_e2e.sh <register_file_types>     (exit 77: skipped, a tool is missing)
set -u
register=$1
for tool in xdg-open xdg-mime gio gtk-launch desktop-file-validate update-desktop-database update-mime-database ffmpeg timeout; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -n "${DISPLAY:-}" ] || { echo "SKIP: no display"; exit 77; }

work=$(mktemp -d /tmp/orvane-open-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/config" "$work/data" "$work/cache" "$work/runtime" "$work/my apps" "$work/songs"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime"
export XDG_DATA_DIRS="$work/data:/usr/local/share:/usr/share" XDG_CONFIG_DIRS=/etc/xdg
# No desktop session: xdg-open takes its generic path, the one that reads Exec itself, and GIO
# talks to no session bus.
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID DBUS_SESSION_BUS_ADDRESS BROWSER
export GIO_USE_VFS=local

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The stand-in for the player: one line per start, its arguments joined by "|".
record="$work/starts.log"
program="$work/my apps/orvane"
cat > "$program" <<EOF
#!/bin/sh
line=""
for arg in "\$@"; do line="\$line|\$arg"; done
printf '%s\n' "\${line#|}" >> '$record'
EOF
chmod +x "$program"

for name in one two; do
  timeout 60 ffmpeg -nostdin -loglevel error -f lavfi -i "sine=frequency=440:duration=0.3" \
    -c:a libmp3lame "$work/songs/$name.mp3" || { echo "FAIL: ffmpeg could not make $name.mp3"; exit 1; }
done
one="$work/songs/one.mp3"
two="$work/songs/two.mp3"

timeout 60 "$register" "$program" || { echo "FAIL: registering the file types failed"; exit 1; }
for entry in "$work/data/applications/orvane.desktop" "$work/data/applications/orvane-playlist.desktop"; do
  [ -f "$entry" ] || { echo "FAIL: $entry was not written"; exit 1; }
  out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate $(basename "$entry"): $out"
done
default=$(timeout 20 xdg-mime query default audio/mpeg)
[ "$default" = "orvane.desktop" ] || fail "the default application of audio/mpeg is '$default'"

# Runs a launcher and waits (bounded) for the starts it causes, one line each; then compares what
# the program got, the lines in the order given, or sorted when the launcher starts them at once.
expect_starts() {
  what=$1
  order=$2
  expected=$3
  shift 3
  : > "$record"
  timeout 30 "$@" > "$work/launcher.log" 2>&1 || { fail "$what: exit status $? ($(tail -3 "$work/launcher.log"))"; return; }
  lines=$(printf '%s\n' "$expected" | wc -l)
  i=0
  while [ "$(wc -l < "$record")" -lt "$lines" ] && [ $i -lt 100 ]; do
    sleep 0.1
    i=$((i + 1))
  done
  # A launcher that started the program more often than expected would add a line shortly after.
  sleep 0.5
  if [ "$order" = sorted ]; then got=$(sort "$record"); else got=$(cat "$record"); fi
  [ "$got" = "$expected" ] || fail "$what: the program got '$got', not '$expected' ($(tail -3 "$work/launcher.log"))"
}

# xdg-open takes one file; "gio open" opens each file on its own, so the program starts once per
# song (a later start hands its song to the first); a file manager's "Open with" (what "gio launch"
# does) and gtk-launch start it once with both songs, in order.
expect_starts "xdg-open" ordered "$one" xdg-open "$one"
expect_starts "gio open" sorted "$(printf '%s\n%s' "$one" "$two")" gio open "$one" "$two"
expect_starts "gio launch" ordered "$one|$two" gio launch "$work/data/applications/orvane.desktop" "$one" "$two"
expect_starts "gtk-launch" ordered "$one|$two" gtk-launch orvane "$one" "$two"
# The add-to-list entry a file manager offers beside it.
expect_starts "gio launch (add to list)" ordered "/l|$two|$one" \
  gio launch "$work/data/applications/orvane-playlist.desktop" "$two" "$one"

if [ "$failures" -ne 0 ]; then
  echo "--- entry"
  cat "$work/data/applications/orvane.desktop"
  exit 1
fi
echo "PASS: xdg-open, gio open, gio launch and gtk-launch start the player with the songs"
