#!/usr/bin/env python3
"""Finds the entry size from which copying inside the kernel beats the copy through the
archive stream: for entries of one size (about 256 MiB in all, back to back), runs the tool
both ways, interleaved, and prints per size the medians and minimums of the wall time, the
median ratio, and the median CPU time (user + kernel), which swings far less here.
Usage: bench/threshold.py [--runs N] [--build DIR] [SIZE ...] (after the release build)"""
import argparse
import shutil
import statistics
import subprocess
import tempfile
from pathlib import Path

import run

SIZES = [4096, 16384, 65536, 131072, 262144, 1048576, 4194304]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--build", default=str(run.HERE.parent / "build" / "release"))
    parser.add_argument("sizes", nargs="*", type=int, default=SIZES)
    args = parser.parse_args()
    build = Path(args.build).resolve()
    driver = str(build / "bench" / "extract_with")
    work = Path(tempfile.mkdtemp(prefix="sfx-threshold-"))
    print(f"{'entry bytes':>11} {'stream s':>9} {'min':>7} {'kernel s':>9} {'min':>7} "
          f"{'kernel/stream':>14} {'stream cpu':>11} {'kernel cpu':>11}")
    try:
        for size in args.sizes:
            name = f"sized-{size}"
            inputs = work / name
            inputs.mkdir()
            subprocess.run([str(build / "bench" / "generate_workload"), name, str(inputs), "1"],
                           check=True, capture_output=True)
            stream = run.Command("stream", [driver, "stream"])
            kernel = run.Command("kernel", [driver, "kernel"])
            run.run_workload(name, [stream, kernel], inputs, args.runs, 1, work)
            ratio = run.median_ratio(kernel, stream)
            print(f"{size:>11} {statistics.median(stream.seconds):>9.3f} {min(stream.seconds):>7.3f} "
                  f"{statistics.median(kernel.seconds):>9.3f} {min(kernel.seconds):>7.3f} {ratio:>14.2f} "
                  f"{statistics.median(stream.cpu_seconds):>11.3f} {statistics.median(kernel.cpu_seconds):>11.3f}",
                  flush=True)
            shutil.rmtree(inputs)
            shutil.rmtree(work / f"{name}-runs")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
