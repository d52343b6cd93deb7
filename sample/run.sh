#!/bin/sh
# Runs sfx-extract on the sample archive in a fresh scratch folder (never in the source
# tree) and lists what it wrote. A Windows program (.exe) runs under Wine, through
# tools/wine-run, in the Wine prefix of its build folder: 32- or 64-bit as its header says.
# Usage: sample/run.sh [path/to/sfx-extract or path/to/sfx-extract.exe]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tool=$(cd "$(dirname "${1:-$here/../build/release/sfx-extract}")" && pwd)/$(basename "${1:-sfx-extract}")
set -- "$tool"
case "$tool" in
  *.exe)
    # The PE header's machine field: 014c for x86, 8664 for x64.
    header=$(od -An -tu4 -j60 -N4 "$tool" | tr -d ' ')
    machine=$(od -An -tx2 -j$((header + 4)) -N2 "$tool" | tr -d ' ')
    case "$machine" in
      014c) arch=win32 ;;
      8664) arch=win64 ;;
      *) echo "sample/run.sh: $tool is no x86 or x64 Windows program" >&2; exit 2 ;;
    esac
    set -- "$here/../tools/wine-run" "$arch" "$(dirname "$tool")/wineprefix" "$tool" ;;
esac
scratch=$(mktemp -d "${TMPDIR:-/tmp}/sfx-extract-sample.XXXXXX")
cp "$here/Filelist.000" "$here/Filelist.txt" "$scratch/"
cd "$scratch"
status=0
"$@" || status=$?
echo "exit status: $status"
echo "written in $scratch:"
ls -l -- *.sfx 2>/dev/null || echo "(no files)"
exit "$status"
