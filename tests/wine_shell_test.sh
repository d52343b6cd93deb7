#!/usr/bin/env bash
# The Windows program started under Wine as a POSIX shell and a terminal start it, which the
# harness inside Wine cannot do: standard output that the shell redirected into an output
# name (Wine gives that handle no identity through GetFileInformationByHandle), and report
# lines on a console (a pseudo-terminal) in the ANSI code pages 1252 and 932, where a name is
# shown escaped, and its characters reach the terminal as themselves.
# Usage: tests/wine_shell_test.sh WINE-RUN ARCH PREFIX PROGRAM.exe
set -u
wine_run=$1 arch=$2 prefix=$3 program=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# A folder of its own holding the archive and a listing of the records "PATH LEN LOC" given.
inputs() {
  folder="$work/$1"
  shift
  mkdir "$folder"
  printf '0123456789abcdef' > "$folder/Filelist.000"
  {
    printf 'Path Type Flags Size A B Date C D E F G H I J Offset\r\n'
    for record in "$@"; do
      set -- $record
      printf '%s 1 2 %s 5 6 7 8 9 10 11 12 13 14 15 %s\r\n' "$1" "$2" "$3"
    done
  } > "$folder/Filelist.txt"
}

# Standard output appended by the shell to an output's name: refused, and the name keeps
# what it held with the report lines after it.
inputs redirect 'snd\a.sfx 4 0' 'b.sfx 4 4'
printf 'old\r\n' > "$folder/a.sfx"
status=0
(cd "$folder" && "$wine_run" "$arch" "$prefix" "$program" >> a.sfx 2> err) || status=$?
[ "$status" = 2 ] || fail "redirect: status $status, not 2"
[ "$(cat "$folder/a.sfx")" = $'old\r\na.sfx len: 4 loc: 0\r\nb.sfx len: 4 loc: 4\r' ] ||
  fail "redirect: a.sfx holds $(od -c "$folder/a.sfx")"
[ "$(cat "$folder/err")" = $'sfx-extract: a.sfx: cannot create: it receives standard output\r' ] ||
  fail "redirect: said $(cat "$folder/err")"
[ "$(cat "$folder/b.sfx")" = 4567 ] || fail "redirect: b.sfx not extracted"

# On a console. LOCALE sets Wine's ANSI code page; each NAME is listed, and each SHOWN must
# reach the terminal (UTF-8 there), with no escape sequence of a name's own.
console_case() {
  local case=$1 locale=$2 status=0
  shift 2
  local -a names=() shown=()
  while [ $# -gt 0 ]; do
    names+=("$1 4 0")
    shown+=("$2")
    shift 2
  done
  inputs "$case" "${names[@]}"
  (cd "$folder" && LC_ALL=$locale script -qefc \
     "stty cols 200 rows 50; exec '$wine_run' '$arch' '$prefix' '$program'" typescript \
     > /dev/null) || status=$?
  [ "$status" = 2 ] || fail "$case: status $status, not 2"
  for text in "${shown[@]}"; do
    grep -qF -- "$text len: 4 loc: 0" "$folder/typescript" || fail "$case: $text not shown"
  done
  if grep -qF -e $'\e]0;' -e $'\e[31m' "$folder/typescript"; then
    fail "$case: an escape sequence reached the terminal"
  fi
}
# 1252: controls refused and escaped; other characters shown as themselves, 0x9B among
# them (a right angle quote in 1252).
console_case console-1252 C.UTF-8 \
  $'\e]0;pwned\a\e[31mred.sfx' '\x1b]0;pwned\x07\x1b[31mred.sfx' \
  $'a\x9b1m.sfx' 'a›1m.sfx' \
  $'snd\\caf\xe9.sfx' 'café.sfx'
# 932: a lead byte does not swallow the escape after it; 0x5C as a trail byte. Wine takes
# code page 932 from a Japanese locale, and names files in its character set: a locale of
# the test's own (LOCPATH), made from glibc's sources (Debian: locales).
skipped=""
if mkdir "$work/locales" && localedef -i ja_JP -f UTF-8 "$work/locales/ja_JP.UTF-8" 2>/dev/null; then
  export LOCPATH="$work/locales"
  console_case console-932 ja_JP.UTF-8 \
    $'a\x83\e[31m.sfx' 'a\x83\x1b[31m.sfx' \
    $'snd\\\x95\x5c.sfx' '表.sfx'
  [ -f "$work/console-932/表.sfx" ] || fail "console-932: 表.sfx not written"
  unset LOCPATH
else
  skipped="code page 932: localedef cannot make ja_JP.UTF-8 (Debian: locales)"
fi

if [ "$failures" != 0 ]; then
  exit 1
elif [ -n "$skipped" ]; then
  echo "skipped $skipped"
  exit 77
fi
echo "wine shell tests passed"
