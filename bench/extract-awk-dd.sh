#!/bin/sh
# What a user would write in the shell: awk picks the entries, dd copies each one.
# Usage: extract-awk-dd.sh [MAX_ENTRIES] (in the folder of Filelist.000 and Filelist.txt).
awk -v limit="${1:-0}" '{ sub(/\r$/, "") } NR > 1 && $1 ~ /\.sfx$/ {
    n = split($1, parts, "\\"); print parts[n], $4, $16
    if (limit > 0 && ++done >= limit) exit
  }' Filelist.txt |
while read -r name len loc; do
  dd if=Filelist.000 of="$name" bs=64K iflag=skip_bytes,count_bytes skip=$((0x$loc)) count="$len" status=none
done
