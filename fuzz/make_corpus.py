#!/usr/bin/env python3
"""Writes the fuzz seed corpus: small listings (reader) and listing + archive pairs (run)."""
import struct
from pathlib import Path

here = Path(__file__).parent
HEADER = b"Path Type Flags Size Packed Ratio Crc Date Time Attr Ver Os Method Level Disk Offset"


def line(path, length, location, col7=b"7"):
    return b" ".join([path, b"f", b"0", length, b"5", b"6", col7] +
                     [str(i).encode() for i in range(8, 16)] + [location])


listings = {
    "lf": HEADER + b"\n" + line(b"data\\snd\\boom.sfx", b"16", b"0") + b"\n" +
          line(b"data\\tex\\wall.tex", b"8", b"10") + b"\n",
    "crlf": HEADER + b"\r\n" + line(b"a\\b.sfx", b"0x10", b"0x4") + b"\r\n" +
            line(b"c.sfx", b"010", b"1F") + b"\r\n",
    "lone_cr": HEADER + b"\n" + line(b"a.sfx", b"4", b"2") + b"\r" + line(b"b.sfx", b"4", b"2") + b"\n",
    "ctrl_z": HEADER + b"\n" + line(b"a.sfx", b"4", b"0") + b"\n\x1a" + line(b"b.sfx", b"4", b"0"),
    "signs": HEADER + b"\n" + line(b"n.sfx", b"-5", b"-10") + b"\n" + line(b"p.sfx", b"+3", b"+0x2") + b"\n" +
             line(b"w.sfx", b"4294967295", b"ffffffff1") + b"\n",
    "bad_numbers": HEADER + b"\n" + line(b"x.sfx", b"0x", b"1") + b"\n" + line(b"y.sfx", b"4", b"g") + b"\n" +
                   line(b"z.sfx", b"0089", b"1", b"0x10") + b"\n" + line(b"k.sfx", b"100KB", b"1Fh") + b"\n",
    "split_record": HEADER + b"\n" + b"s.sfx f 0 4 5 6 7 8\n9 10 11 12 13 14 15 3 extra\n",
    "short_last": HEADER + b"\n" + line(b"a.sfx", b"2", b"1") + b"\nb.sfx 1 2 3",
    "hostile_names": HEADER + b"\n" + line(b"x\\../../evil.sfx", b"4", b"0") + b"\n" +
                     line(b"/abs/path.sfx", b"4", b"0") + b"\n" + line(b"n\\a\x00b.sfx", b"4", b"0") + b"\n" +
                     line(b"CON.sfx", b"4", b"0") + b"\n" + line(b"c:x.sfx", b"4", b"0") + b"\n",
    # The run target plants links under these names; each comes up twice.
    "links": HEADER + b"\n" + b"".join(
        line(path, b"4", b"0") + b"\n"
        for path in (b"a\\link.sfx", b"dangling.sfx", b"b\\hard.sfx", b"ok.sfx",
                     b"link.sfx", b"c\\dangling.sfx", b"hard.sfx")),
    "same_name": HEADER + b"\n" + line(b"a\\x.sfx", b"3", b"0") + b"\n" + line(b"b\\x.sfx", b"5", b"2") + b"\n",
    "long_path": HEADER + b"\n" + line(b"p\\" + b"q" * 1100 + b".sfx", b"4", b"0") + b"\n",
    "long_header": b"h" * 1100 + b"\n" + line(b"a.sfx", b"4", b"0") + b"\n",
    "big_len": HEADER + b"\n" + line(b"big.sfx", b"0x7fffffff", b"0") + b"\n" +
               line(b"far.sfx", b"4", b"80000000") + b"\n",
    # Real-looking lines, padded into aligned columns, whose ends fall on every position of
    # a 64-character chunk.
    "aligned": HEADER + b"\n" + b"".join(
        b"  ".join([b"d\\" + b"p" * n + b".sfx", b"file ", b" 0", b"%8d" % (n * 37), b"%8d" % n,
                    b"100%", b"%10d" % (n * 7919), b"2026-12-08", b"12:00", b"A", b"1", b"w32",
                    b"store", b"0", b"0", b"%08X" % (n * 4096)]) + (b"\r\n" if n % 3 else b"\n")
        for n in range(1, 70)),
    # Columns of every width from 1 to 17, separated by each kind of white space.
    "every_space": HEADER + b"\n" + b"".join(
        sep.join([b"p" * w] + [b"%d" % w if c == 4 else b"7" if c == 7 else b"1f" if c == 16
                               else b"c" * (w + c % 8) for c in range(2, 17)]) + b"\n"
        for sep in (b" ", b"\t", b"\v", b"\f", b"\r", b"\n") for w in range(1, 18)),
    "empty": b"",
    "header_only": HEADER,
}

archive = bytes(range(256)) + b"\r\n\x1a\r" * 8
for name, listing in listings.items():
    (here / "corpus" / "reader" / name).write_bytes(listing)
    size = struct.pack("<H", len(listing))
    (here / "corpus" / "run" / name).write_bytes(size + listing + archive)
