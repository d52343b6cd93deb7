#!/usr/bin/env python3
"""What a user would write instead: extract the .sfx entries with seek/read/write in blocks.
Usage: extract.py [MAX_ENTRIES] (in the folder of Filelist.000 and Filelist.txt)."""
import sys

limit = int(sys.argv[1]) if len(sys.argv) > 1 else None
done = 0
with open("Filelist.000", "rb") as archive, open("Filelist.txt", "rb") as listing:
    next(listing, None)
    for line in listing:
        columns = line.split()
        if len(columns) < 16 or not columns[0].endswith(b".sfx"):
            continue
        name = columns[0].rsplit(b"\\", 1)[-1]
        length, location = int(columns[3], 0), int(columns[15], 16)
        print(f"{name.decode('latin-1')} len: {length} loc: {location:x}")
        archive.seek(location)
        with open(name, "wb") as out:
            while length > 0:
                block = archive.read(min(length, 65536))
                if not block:
                    break
                out.write(block)
                length -= len(block)
        done += 1
        if limit is not None and done >= limit:
            break
