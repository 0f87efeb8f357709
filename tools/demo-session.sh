#!/usr/bin/env bash
# The demo's part inside its Wine session (run by ./demo through
# tools/wine-session, so in the session folder with bin/ holding the update
# package's archive, demo_driver.exe and maybe a stand-in Updater.exe, and
# $WINE, $WINEPREFIX, $WINESESSION set):
#
#   1. a sample installation of the game at version 1.00 in C:\Games\harunel\
#      of the session's prefix, registered in HKCU\Software\KORVEN\harunel;
#   2. the update package unpacked as a player would, into a folder with a
#      Japanese name, C:\ソフト\ハルネル アップデート\;
#   3. its Updater.exe (or the stand-in put in its place) run from that folder
#      by demo_driver, which answers the boxes (answer) or leaves them to the
#      person at the screen (watch);
#   4. the installation's files before and after.
#
#   tools/demo-session.sh answer|watch ARCHIVE [STAND_IN_EXE]
#
# The pictures of the boxes end up in out/ of the session folder.
set -euo pipefail
mode=$1
archive=$2
stand_in=${3:-}

install_windows='C:\Games\harunel\'
install=$WINEPREFIX/drive_c/Games/harunel
package_windows='C:\ソフト\ハルネル アップデート'
package="$WINEPREFIX/drive_c/ソフト/ハルネル アップデート"

echo "session folder: $WINESESSION"

# Writes FILE with the given lines.
write() {
  local file=$1
  shift
  mkdir -p "$(dirname "$file")"
  printf '%s\n' "$@" >"$file"
}

# The game's files of a version into a folder.
game_files() {
  local dir=$1 version=$2
  write "$dir/inst.ini" "[harunel]" "version=$version"
  write "$dir/pac/zmbin.zmk" "zmbin.zmk: game data, version $version"
  write "$dir/pac/update1.zmk" "update1.zmk: update data, version $version"
}

# Every file under a folder by its Windows name, with its contents (a text).
list() {
  local dir=$1 windows=$2 file
  (cd "$dir" && find . -type f | LC_ALL=C sort) | while read -r file; do
    file=${file#./}
    printf '  %s%s\n' "$windows" "${file//\//\\}"
    if grep -Iq . "$dir/$file"; then
      sed 's/^/    | /' "$dir/$file"
    else
      echo "    ($(stat -c %s "$dir/$file") bytes of a program)"
    fi
  done
}

echo
echo "== The installation: version 1.00 in $install_windows"
write "$install/harunel.exe" "harunel.exe: a dummy standing in for the game, version 1.00"
game_files "$install" 1.00
"$WINE" reg add 'HKCU\Software\KORVEN\harunel' /v Dir /t REG_SZ /d "$install_windows" /f >/dev/null
echo "  HKCU\\Software\\KORVEN\\harunel  Dir = $install_windows"
list "$install" "$install_windows"
cp -a "$install" before

echo
echo "== The update package, unpacked into $package_windows\\"
mkdir -p "$package"
unzip -q "$archive" -d "$package"
list "$package" "$package_windows\\"
if [ -n "$stand_in" ]; then
  cp "$stand_in" "$package/Updater.exe"
  echo "  (its Updater.exe replaced by the 64-bit build of the same sources: see ./demo --real32)"
fi

if [ "$mode" = answer ]; then
  # Xvfb has no window manager: Wine draws the boxes' title bars itself.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null
  driver=()
else
  driver=(--watch)
fi

echo
echo "== Updater.exe, started in the package folder"
[ "$mode" = watch ] && echo "  (answer its boxes on your screen)"
status=0
"$WINE" bin/demo_driver.exe "${driver[@]}" "$package_windows\\Updater.exe" "$package_windows" out | cat ||
  status=$?

echo
echo "== The installation afterwards"
list "$install" "$install_windows"

echo
echo "== What changed"
(cd "$install" && find . -type f; cd "$WINESESSION/before" && find . -type f) | LC_ALL=C sort -u |
  while read -r file; do
    file=${file#./}
    if [ ! -e "before/$file" ]; then change=new
    elif [ ! -e "$install/$file" ]; then change=removed
    elif cmp -s "before/$file" "$install/$file"; then change=unchanged
    else change=updated
    fi
    printf '  %-40s %s\n' "$install_windows${file//\//\\}" "$change"
  done
exit $status
