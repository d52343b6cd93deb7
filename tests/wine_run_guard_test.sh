#!/usr/bin/env bash
# tools/wine-run, run inside the emulation of tools/emulate-x86-32 where 32-bit x86 programs
# still do not run (here a qemu-i386 that runs nothing), stops and says why, instead of
# starting one emulation inside the next until the kernel's limit.
# Usage: tests/wine_run_guard_test.sh (exit status 77: this machine cannot try it)
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
if ! unshare --user --map-root-user --mount \
     sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc' 2>/dev/null; then
  echo "skipped: this machine makes no user namespace with a binfmt_misc of its own"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/qemu-user-10/usr/bin"
printf '#!/bin/sh\n[ "${1:-}" = --version ] && echo "qemu-i386 version 10.0.0" && exit 0\nexit 1\n' \
  > "$work/qemu-user-10/usr/bin/qemu-i386"
chmod +x "$work/qemu-user-10/usr/bin/qemu-i386"
status=0
said=$(SFX_QEMU_CACHE=$work timeout 60 "$root/tools/emulate-x86-32" "$root/tools/wine-run" win32 \
       "$work/prefix" none.exe 2>&1) ||
  status=$?
echo "$said"
case "$status:$said" in
  2:*"32-bit x86 programs do not run even under"*) echo "wine-run stopped inside the emulation" ;;
  *) echo "FAIL: wine-run ended with status $status" >&2; exit 1 ;;
esac
