#!/usr/bin/env python3
"""Runs the 64-bit Windows sfx-extract and the Windows limit program (windows_limit) under
wine64, interleaved round by round (A B A B ...) in fresh folders, and prints medians, minima
and the median of the per-round ratios.

Workloads: new-COUNT, COUNT new entries of 1 KiB (generate_workload many-COUNT), against the
limit's new form; replace-COUNT, the same run over a complete extraction of it, against the
limit's look form (it looks at each name, as replacing needs). Wine finds a name that is not
there by reading the folder, so the cost of each lookup grows with the folder: the ratio is
what to compare at each size.
Usage: bench/windows.py [--runs N] [--warmup N] [WORKLOAD ...] (default: new-2000 new-20000
replace-2000 replace-20000); needs the release build (for generate_workload and
create_files) and the windows-x64 build (bench/windows.sh builds both)."""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from run import Command, median_ratio, run_workload  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
WINE64 = "/usr/lib/wine/wine64"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--warmup", type=int, default=1)
    parser.add_argument("--work", default=None)
    parser.add_argument("workloads", nargs="*",
                        default=["new-2000", "new-20000", "replace-2000", "replace-20000"])
    args = parser.parse_args()
    release = ROOT / "build" / "release"
    windows = ROOT / "build" / "windows-x64"
    work = Path(tempfile.mkdtemp(prefix="sfx-bench-windows-", dir=args.work))
    prefix = work / "wineprefix"
    os.environ.update(WINEPREFIX=str(prefix), WINEARCH="win64", WINEDEBUG="-all",
                      WINEDLLOVERRIDES="mscoree,mshtml=")
    os.environ.pop("DISPLAY", None)
    rows = []
    try:
        # A server kept for the whole run, and the prefix made, outside every timing.
        prefix.mkdir()
        subprocess.run(["/usr/lib/wine/wineserver", "-p"], check=True)
        subprocess.run([WINE64, "cmd", "/c", "exit"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for name in args.workloads:
            kind, count = name.split("-")
            inputs = work / name
            inputs.mkdir()
            summary = subprocess.run([str(release / "bench" / "generate_workload"),
                                      f"many-{count}", str(inputs), "1"],
                                     check=True, capture_output=True, text=True).stdout.strip()
            print(f"{name}: {summary}", flush=True)
            limit_form = "new" if kind == "new" else "look"
            sfx = Command("sfx-extract", [WINE64, str(windows / "sfx-extract.exe")])
            limit = Command(f"limit ({limit_form})", [WINE64, str(windows / "bench" / "windows_limit.exe"),
                                                      count, "1024", limit_form])
            prepare = None
            if kind == "replace":
                prepare = [str(release / "bench" / "create_files"), count, "1024", "plain"]
            run_workload(name, [sfx, limit], inputs, args.runs, args.warmup, work, prepare)
            for command in (sfx, limit):
                rows.append((name, command.label, statistics.median(command.seconds),
                             min(command.seconds),
                             median_ratio(sfx, command) if command is not sfx else 1.0))
    finally:
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)

    print()
    print(f"{'workload':<15} {'command':<15} {'median s':>9} {'min s':>8} {'sfx/this':>9}")
    for name, label, median, minimum, ratio in rows:
        print(f"{name:<15} {label:<15} {median:>9.2f} {minimum:>8.2f} {ratio:>9.2f}")


if __name__ == "__main__":
    main()
