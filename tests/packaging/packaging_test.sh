#!/usr/bin/env bash
# The player as a desktop and Debian see it once installed.
#   packaging_test.sh <step> <build dir> <source dir>
# Steps (CTest runs "install" first; the others use what it installed):
#   sources        the desktop entry and the AppStream metainfo pass their validators
#   install        cmake --install with DESTDIR and a prefix; every file in its place
#   run            the installed player, headless and in English: screenshots, the demo song is
#                  heard, and the desktop entries it writes for itself pass the validator
#   orvanectl      orvanectl --help from the installed prefix (skipped while it is not built)
#   deb            the .deb: contents, dependencies worked out from the binaries, lintian
# Exit 77 means skipped.
set -euo pipefail
step=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
destdir=$build/install-test
prefix=/opt/orvane
installed=$destdir$prefix

work=""  # a step's scratch folder, removed when the script ends

fail() { echo "FAIL: $*" >&2; exit 1; }

# Validators print their findings; appstreamcli's exit status is non-zero on any error or warning.
validate_entry() { desktop-file-validate "$1" || fail "desktop-file-validate $1"; }
validate_metainfo() { appstreamcli validate --no-net "$1" || fail "appstreamcli validate $1"; }

# Paths every install must have, relative to the prefix.
expected_files=(
  bin/orvane
  lib/orvane/liborvane_player.so
  lib/orvane/liborvane_decode.so
  lib/orvane/liblrcdown.so
  lib/orvane/plugins/
  share/orvane/effect.dat
  share/orvane/demo/Orvane演示曲.mp3
  share/orvane/demo/Orvane演示曲.lrc
  share/applications/orvane.desktop
  share/icons/hicolor/scalable/apps/orvane.svg
  share/icons/hicolor/16x16/apps/orvane.png
  share/icons/hicolor/48x48/apps/orvane.png
  share/icons/hicolor/256x256/apps/orvane.png
  share/mime/packages/orvane.xml
  share/man/man1/orvane.1.gz
  share/doc/orvane/copyright
  share/doc/orvane/changelog.gz
)

step_sources() {
  validate_entry "$source/packaging/orvane.desktop"
  validate_metainfo "$(ls "$build"/packaging/*.metainfo.xml)"
}

step_install() {
  rm -rf "$destdir"
  DESTDIR=$destdir cmake --install "$build" --prefix "$prefix" > /dev/null
  for file in "${expected_files[@]}"; do
    [[ -e "$installed/$file" ]] || fail "not installed: $file"
  done
  [[ -n "$(ls "$installed"/share/metainfo/*.metainfo.xml)" ]] || fail "no metainfo installed"
  file "$installed/bin/orvane" | grep -q ELF || fail "bin/orvane is not a program"
  # No installed text file may point back into the build tree.
  local leaks
  leaks=$(grep -rlI -F "$build/" "$installed" || true)
  [[ -z "$leaks" ]] || fail "installed files name the build tree: $leaks"
  validate_entry "$installed/share/applications/orvane.desktop"
  validate_metainfo "$(ls "$installed"/share/metainfo/*.metainfo.xml)"
}

# A private home and runtime folder for one run of an installed program.
private_home() {
  local home=$1
  mkdir -p "$home"/{home,config,data,cache,runtime}
  chmod 700 "$home/runtime"
  export HOME=$home/home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache
  export XDG_RUNTIME_DIR=$home/runtime
  # The installed program must find its modules by itself.
  unset ORVANE_MODULE_DIR
}

step_run() {
  command -v xvfb-run > /dev/null || { echo "no xvfb-run"; exit 77; }
  [[ -x "$installed/bin/orvane" ]] || fail "run the install step first"
  work=$(mktemp -d /tmp/orvane-installed-XXXXXX)
  trap 'rm -rf "$work"' EXIT
  private_home "$work"
  # What the player would have played, as samples: proof that the decoder module was found.
  export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$work/heard.raw
  export ASAN_OPTIONS=detect_leaks=0 LANGUAGE=en
  unset QT_QPA_PLATFORM
  timeout 90 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$installed/bin/orvane" \
    --screenshots "$work/shots" --screenshot-delay 3000 "$installed/share/orvane/demo/Orvane演示曲.mp3" \
    > "$work/out.txt" 2> "$work/err.txt" || { cat "$work/err.txt" >&2; fail "the installed player failed"; }
  # Named for the English interface: the installed program carries its translation.
  for shot in orvane-main-en.png orvane-lyrics-en.png; do
    [[ -s "$work/shots/$shot" ]] || fail "no screenshot $shot"
  done
  [[ -s "$work/heard.raw" ]] || fail "nothing was played"
  # Some sample of the demo's first seconds is far from silence.
  python3 - "$work/heard.raw" <<'PY' || fail "the demo song was not heard"
import array, sys
samples = array.array("f", open(sys.argv[1], "rb").read())
sys.exit(0 if samples and max(abs(s) for s in samples) > 0.05 else 1)
PY
  for entry in "$XDG_DATA_HOME"/applications/orvane.desktop "$XDG_DATA_HOME"/applications/orvane-playlist.desktop; do
    validate_entry "$entry"
    # The program stands unquoted where its path allows it (launchers split Exec at blanks).
    grep -qxE "Exec=$installed/bin/orvane( .*)?" "$entry" || fail "$entry does not start the installed player"
  done
}

step_orvanectl() {
  [[ -x "$installed/bin/orvanectl" ]] || { echo "orvanectl is not part of this build yet"; exit 77; }
  work=$(mktemp -d /tmp/orvane-ctl-XXXXXX)
  trap 'rm -rf "$work"' EXIT
  private_home "$work"
  export ASAN_OPTIONS=detect_leaks=0
  "$installed/bin/orvanectl" --help > "$work/help.txt" || fail "orvanectl --help failed"
  for command in play-pause next previous count index play add play-online add-online; do
    grep -qw -- "$command" "$work/help.txt" || fail "orvanectl --help does not mention $command"
  done
  [[ -e "$installed/share/man/man1/orvanectl.1.gz" ]] || fail "no manual page for orvanectl"
}

step_deb() {
  local out=$build/deb-test
  rm -rf "$out"
  cpack --config "$build/CPackConfig.cmake" -B "$out" > "$out.log" 2>&1 || { cat "$out.log" >&2; fail "cpack"; }
  local deb
  deb=$(ls "$out"/orvane_*.deb)
  local contents
  contents=$(dpkg-deb --contents "$deb")
  for file in "${expected_files[@]}"; do
    grep -qF " ./usr/$file" <<< "$contents" || fail "not in the package: /usr/$file"
  done
  # Owned by root, whoever built it.
  if grep -v ' root/root ' <<< "$contents" | grep -q .; then fail "files not owned by root"; fi
  local depends
  depends=$(dpkg-deb --field "$deb" Depends)
  # From the binaries (dpkg-shlibdeps) and the list of what is loaded by name.
  for package in libqt6core6 libavformat59 libsdl2-2.0-0 libcurl4 qml6-module-qtquick fonts-noto-cjk; do
    grep -q "\b$package\b" <<< "$depends" || fail "Depends lacks $package: $depends"
  done
  local report status=0
  report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
  grep -v 'root privileges' <<< "$report" || true
  [[ $status -eq 0 ]] || fail "lintian found errors"
}

"step_$step"
