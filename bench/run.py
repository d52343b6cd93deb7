#!/usr/bin/env python3
"""Runs sfx-extract and its baselines interleaved (A B A B ...) on generated workloads and
prints medians, ratios and peak resident memory.

Each run gets a fresh empty folder that links to the inputs. Outputs are emptied by
truncation after the run (outside the timing) rather than deleted, since files created soon
after many deletions are slow to create on this file system, and the file system is synced
before the next run, so that no command pays for the one before it; everything is deleted at
the end.
Usage: bench/run.py [--runs N] [--build DIR] [--work DIR] [WORKLOAD ...]"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent


def spawn_timed(argv, cwd, stdout):
    """Runs argv under GNU time; returns (seconds, peak resident KiB, exit status, CPU
    seconds in user and kernel mode)."""
    peak_file = Path(cwd) / ".peak"
    start = time.perf_counter()
    status = subprocess.call(["/usr/bin/time", "-f", "%M %U %S", "-o", str(peak_file)] + argv,
                             cwd=cwd, stdout=stdout, stderr=subprocess.DEVNULL)
    seconds = time.perf_counter() - start
    peak, user, system = peak_file.read_text().split()[-3:]
    peak_file.unlink()
    return seconds, int(peak), status, float(user) + float(system)


def empty_outputs(folder):
    for entry in os.scandir(folder):
        if entry.is_file(follow_symlinks=False):
            os.truncate(entry.path, 0)


class Command:
    def __init__(self, label, argv, scale=1.0, shell=False):
        self.label, self.argv, self.scale, self.shell = label, argv, scale, shell
        self.seconds, self.peak_kib, self.cpu_seconds = [], [], []


def run_workload(name, commands, inputs, runs, warmup, work, prepare=None):
    """prepare, when given, is run (untimed, then synced) in each fresh folder first."""
    runs_folder = work / f"{name}-runs"
    runs_folder.mkdir()
    os.sync()
    for round_index in range(warmup + runs):
        for command in commands:
            folder = runs_folder / f"{command.label.replace(' ', '_')}-{round_index}"
            folder.mkdir()
            for input_name in ("Filelist.000", "Filelist.txt"):
                (folder / input_name).symlink_to(inputs / input_name)
            if prepare:
                subprocess.run(prepare, cwd=folder, check=True)
                os.sync()
            with open(folder / "report.out", "wb") as report:
                seconds, peak, status, cpu = spawn_timed(command.argv, folder, report)
            if status not in (0, 2):
                sys.exit(f"{command.label} failed on {name} with status {status}")
            if round_index == warmup and command.label == "sfx-extract":
                check_outputs(name, folder)
            empty_outputs(folder)
            # The truncations' journal and writeback work is done here, outside the timing,
            # rather than in whichever command runs next.
            os.sync()
            if round_index >= warmup:
                command.seconds.append(seconds * command.scale)
                command.peak_kib.append(peak)
                command.cpu_seconds.append(cpu * command.scale)
    return commands


def check_outputs(name, folder):
    outputs = [e for e in os.scandir(folder) if e.name.endswith(".sfx")]
    total = sum(e.stat().st_size for e in outputs)
    print(f"  {name}: sfx-extract wrote {len(outputs)} files, {total} bytes", flush=True)


def median_ratio(a, b):
    return statistics.median(x / y for x, y in zip(a.seconds, b.seconds))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--warmup", type=int, default=1)
    parser.add_argument("--build", default=str(HERE.parent / "build" / "release"))
    parser.add_argument("--work", default=None)
    parser.add_argument("workloads", nargs="*",
                        default=["large", "many", "replace", "listing", "hostile-line",
                                 "hostile-path"])
    args = parser.parse_args()
    build = Path(args.build).resolve()
    tool = str(build / "sfx-extract")
    generator = str(build / "bench" / "generate_workload")
    work = Path(tempfile.mkdtemp(prefix="sfx-bench-", dir=args.work))
    python = sys.executable
    rows = []
    try:
        for name in args.workloads:
            inputs = work / name
            inputs.mkdir()
            # replace: the many workload again, over a complete extraction of it.
            kind = "many" if name == "replace" else name
            summary = subprocess.run([generator, kind, str(inputs), "1"], check=True,
                                     capture_output=True, text=True).stdout.strip()
            print(f"{name}: {summary}", flush=True)
            listing_mb = (inputs / "Filelist.txt").stat().st_size / 1e6
            sfx = Command("sfx-extract", [tool])
            create_files = str(build / "bench" / "create_files")
            copy_files = str(build / "bench" / "copy_files")
            prepare = None
            if name == "large":
                commands = [sfx, Command("copy files", [copy_files]),
                            Command("copy, plain", [copy_files, "plain"]),
                            Command("sfx, stream only", [str(build / "bench" / "extract_with"), "stream"]),
                            Command("create files", [create_files, "2000", "479500", "unnamed"]),
                            Command("cp archive", ["cp", "Filelist.000", "copy.000"]),
                            Command("cat archive", ["cat", "Filelist.000"]),
                            Command("python", [python, str(HERE / "extract.py")]),
                            Command("awk+dd", ["sh", str(HERE / "extract-awk-dd.sh")])]
            elif name == "many":
                subset = 2000
                commands = [sfx, Command("create files", [create_files, "100000", "1024", "unnamed"]),
                            Command("create, plain", [create_files, "100000", "1024", "plain"]),
                            Command("copy files", [copy_files]),
                            Command("python", [python, str(HERE / "extract.py")]),
                            Command("awk+dd (scaled)", ["sh", str(HERE / "extract-awk-dd.sh"), str(subset)],
                                    scale=100000 / subset)]
            elif name == "replace":
                prepare = [create_files, "100000", "1024", "plain"]
                commands = [sfx, Command("replace files", [create_files, "100000", "1024", "replace"]),
                            Command("empty+write, plain", [create_files, "100000", "1024", "plain"])]
            elif name == "listing":
                commands = [sfx, Command("awk", ["awk", "NR > 1 && $1 ~ /\\.sfx$/", "Filelist.txt"])]
            else:
                commands = [sfx]
            runs = args.runs if name != "hostile-line" else max(3, args.runs // 2)
            run_workload(name, commands, inputs, runs, args.warmup, work, prepare)
            for command in commands:
                median = statistics.median(command.seconds)
                row = {"workload": name, "command": command.label, "median": median,
                       "min": min(command.seconds),
                       "peak": max(command.peak_kib) / 1024,
                       "ratio": median_ratio(sfx, command) if command is not sfx else 1.0,
                       "mbps": listing_mb / median}
                rows.append(row)
            (inputs / "Filelist.000").unlink()
            (inputs / "Filelist.txt").unlink()
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print()
    print(f"{'workload':<13} {'command':<19} {'median s':>9} {'min s':>7} {'sfx/this':>9} {'listing MB/s':>13} {'peak MiB':>9}")
    for row in rows:
        print(f"{row['workload']:<13} {row['command']:<19} {row['median']:>9.3f} {row['min']:>7.3f} {row['ratio']:>9.2f} "
              f"{row['mbps']:>13.0f} {row['peak']:>9.1f}")


if __name__ == "__main__":
    main()
