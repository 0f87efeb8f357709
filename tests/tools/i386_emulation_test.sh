#!/usr/bin/env bash
# Tests of tools/wine-arch and tools/i386-emulation on this machine: an
# emulator registered for i386 programs is never taken for a kernel that runs
# them; an entry registered for a command is gone afterwards, and
# binfmt_misc is left as it was found; an entry someone else registered is
# used and left in place; a command's exit status comes through.
#
#   tests/tools/i386_emulation_test.sh
#
# Needs root (binfmt_misc); says so and exits 0 where it cannot run.
set -euo pipefail
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
binfmt=/proc/sys/fs/binfmt_misc

failures=0
check() { # check WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1: expected \"$2\", got \"$3\""
    failures=$((failures + 1))
  fi
}

# binfmt_misc as it stands: mounted or not, and its entries.
state() {
  if [ -e "$binfmt/register" ]; then
    echo "mounted: $(cd "$binfmt" && ls | grep -vx -e register -e status | tr '\n' ' ')"
  else
    echo "not mounted"
  fi
}

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: these tests register binfmt_misc entries, which takes root"
  exit 0
fi

arch=$("$tools/wine-arch")
how=$("$tools/wine-arch" --i386)
before=$(state)
echo "here: tools/wine-arch says $arch, i386 programs run: $how; binfmt_misc $before"
case "$arch/$how" in
  win32/native | win64/emulated | win64/none) echo "ok: wine-arch agrees with itself" ;;
  *) echo "FAILED: wine-arch says $arch but i386 programs run: $how"; failures=$((failures + 1)) ;;
esac

status=0
inside=$("$tools/i386-emulation" sh -c 'echo "$("$0"/wine-arch) $("$0"/wine-arch --i386)"' "$tools") || status=$?
if [ $status -eq 77 ]; then
  echo "SKIPPED: the rest needs i386 emulation, which cannot be set up here"
  exit $((failures > 0))
fi
check "under emulation, i386 programs run and the architecture is what it was" \
  "$arch $([ "$how" = native ] && echo native || echo emulated)" "$inside"
check "binfmt_misc afterwards as before" "$before" "$(state)"

status=0
"$tools/i386-emulation" sh -c 'exit 3' || status=$?
check "the command's exit status comes through" 3 $status
check "binfmt_misc as before after a failing command" "$before" "$(state)"

if [ "$how" = none ]; then
  # Someone else's entry, under a name of their own: used, and left.
  mounted_here=0
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt"
    mounted_here=1
  fi
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":someone-else-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" >"$binfmt/register"
  theirs=$(state)
  check "an entry made by someone else is taken for emulation" "win64 emulated" \
    "$("$tools/wine-arch") $("$tools/wine-arch" --i386)"
  during=$("$tools/i386-emulation" sh -c "ls $binfmt | grep -vx -e register -e status | tr '\n' ' '")
  check "it is used as it is, no other is registered" "mounted: $during" "$theirs"
  check "and it is left in place" "$theirs" "$(state)"
  echo -1 >"$binfmt/someone-else-i386"

  # An entry left by a run that was killed: its process is gone.
  stale=updater-i386-$(($(cat /proc/sys/kernel/pid_max) - 1))
  if [ ! -d "/proc/${stale##*-}" ]; then
    echo ":$stale:M::$magic:$mask:/usr/bin/qemu-i386-static:F" >"$binfmt/register"
    "$tools/i386-emulation" true
    check "an entry left by a killed run is removed" "" "$(ls "$binfmt" | grep -x "$stale" || true)"
  fi
  [ $mounted_here -eq 0 ] || umount "$binfmt"
  check "binfmt_misc as before once they are gone" "$before" "$(state)"
fi

[ $failures -eq 0 ] && echo "all passed" || echo "$failures failed"
exit $((failures > 0))
