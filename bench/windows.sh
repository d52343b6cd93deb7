#!/bin/sh
# Builds the release and windows-x64 presets and runs the Windows comparison under wine64
# (bench/windows.py; 20,000 entries take minutes a run).
# Usage: bench/windows.sh [bench/windows.py options]
set -eu
cd "$(dirname "$0")/.."
tools/install-deps bench windows
cmake --preset release
cmake --build --preset release
cmake --preset windows-x64
cmake --build --preset windows-x64
exec python3 bench/windows.py "$@"
