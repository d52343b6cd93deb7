#!/bin/sh
# Runs sfx-extract on the sample archive in a fresh scratch folder (never in the source
# tree) and lists what it wrote. Usage: sample/run.sh [path/to/sfx-extract]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tool=$(cd "$(dirname "${1:-$here/../build/release/sfx-extract}")" && pwd)/$(basename "${1:-sfx-extract}")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/sfx-extract-sample.XXXXXX")
cp "$here/Filelist.000" "$here/Filelist.txt" "$scratch/"
cd "$scratch"
status=0
"$tool" || status=$?
echo "exit status: $status"
echo "written in $scratch:"
ls -l -- *.sfx 2>/dev/null || echo "(no files)"
exit "$status"
