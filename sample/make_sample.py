#!/usr/bin/env python3
"""Writes the sample archive and listing: a few tiny sounds among other entries."""
import math
import struct
from pathlib import Path


def tone(frequency, milliseconds, rate=8000):
    """A short 8-bit mono WAV tone with a fade-out."""
    count = rate * milliseconds // 1000
    samples = bytes(
        int(128 + 100 * (1 - i / count) * math.sin(2 * math.pi * frequency * i / rate))
        for i in range(count))
    header = b"RIFF" + struct.pack("<I", 36 + count) + b"WAVEfmt " + struct.pack(
        "<IHHIIHH", 16, 1, 1, rate, rate, 1, 8) + b"data" + struct.pack("<I", count)
    return header + samples


entries = [
    ("data\\tex\\wall.tex", bytes(range(256)) * 4),
    ("data\\snd\\boom.sfx", tone(110, 120)),
    ("data\\snd\\music.wav", tone(440, 50)),
    ("data\\snd\\click.sfx", tone(1760, 15)),
    ("data\\readme.txt", b"Sample archive made by sfx-extract.\r\n"),
    ("data\\snd\\beep.sfx", tone(880, 60)),
    ("data\\snd\\BEEP.SFX", tone(660, 10)),
]

archive = bytearray()
lines = ["Path                 Type Flags Size  Packed Ratio Crc      Date       Time  Attr Ver Os  Method Level Disk Offset"]
for index, (path, data) in enumerate(entries):
    location = len(archive)
    archive += data
    lines.append(f"{path:<20} file 0 {len(data):<5} {len(data):<6} 100% {index * 7919:<8} 2026-12-08 12:00 A 1 w32 store 0 0 {location:08X}")

here = Path(__file__).parent
(here / "Filelist.000").write_bytes(bytes(archive))
(here / "Filelist.txt").write_bytes(("\r\n".join(lines) + "\r\n").encode())
