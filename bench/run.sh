#!/bin/sh
# Builds the release preset and runs the benchmark comparison (a few minutes).
# Usage: bench/run.sh [bench/run.py options]
set -eu
cd "$(dirname "$0")/.."
tools/install-deps bench
cmake --preset release
cmake --build --preset release
exec python3 bench/run.py "$@"
