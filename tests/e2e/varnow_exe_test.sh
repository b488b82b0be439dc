#!/usr/bin/env bash
# varnow.exe under wine64 against the Linux varnow and the Linux core.
#   varnow_exe_test.sh CASE VARNOW VARNOW_EXE LOADER PREFIX STATUS
# CASE:
#   identical  the same tree (Cyrillic names under code page 1251) packed by
#              both tools with the same SOURCE_DATE_EPOCH gives the same bytes
#              at levels 1, 6 and 9 with 1 and 2 threads; a name that 1252
#              cannot hold is refused by both with the same words
#   roundtrip  varnow.exe pack -> Linux core, and varnow pack -> varnow.exe
#              extract: the same trees, names and last-write times
#   times      the three times come from the file, SOURCE_DATE_EPOCH clamps
#              them, and extract sets them back
#   longpath   a source path of more than 260 characters packs and extracts
#   links      extract refuses a link in the destination, and what it points
#              to stays as it was
#   password   on a console (Wine's, on a pseudo-terminal made by script):
#              --password asks twice with the typing hidden, and two
#              different answers are refused
set -euo pipefail
case=$1 varnow=$2 exe=$3 loader=$4 prefix=$5 status=$6
key=windows64
. "$(dirname "$0")/wine_case.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
win() { "$loader" "$exe" "$@"; }
# Last-write times to the archive's 100-nanosecond step, with the file names.
times() { (cd "$1" && find . -type f -printf '%P %T@\n' | sed 's/[0-9][0-9][0-9]$//' | sort); }

cyrillic_tree() {
  mkdir -p src/tree/Папка/вложенная src/tree/empty
  printf 'привет\n' > src/tree/Папка/файл.txt
  seq 1 20000 > src/tree/Папка/вложенная/числа.txt
  head -c 50000 /dev/urandom > src/tree/random.bin
  cp src/tree/Папка/вложенная/числа.txt src/tree/copy.txt
  : > src/tree/empty.txt
}

case $case in
identical)
  cyrillic_tree
  # All times after the epoch, so all of them are clamped to it: Wine cannot
  # give a file's birth time, Linux can.
  export SOURCE_DATE_EPOCH=1600000000
  for level in 1 6 9; do
    for threads in 1 2; do
      args=(pack -q --codepage 1251 --level $level --threads $threads)
      (cd src && "$varnow" "${args[@]}" ../linux.exe tree && win "${args[@]}" ../windows.exe tree)
      cmp linux.exe windows.exe
      echo "level $level, $threads threads: identical, $(stat -c %s linux.exe) bytes," \
           "sha256 $(sha256sum < linux.exe | cut -c1-16)"
      rm linux.exe windows.exe
    done
  done
  set +e
  (cd src && "$varnow" pack --codepage 1252 ../l.exe tree > ../linux.txt 2>&1); l=$?
  (cd src && win pack --codepage 1252 ../w.exe tree > ../windows.txt 2>&1); w=$?
  set -e
  [ $l = 1 ] && [ $w = 1 ] && [ ! -e l.exe ] && [ ! -e w.exe ]
  diff linux.txt windows.txt
  echo "code page 1252: both refuse, exit 1: $(cat linux.txt)"
  ;;
roundtrip)
  cyrillic_tree
  touch -d '2021-03-04 05:06:07.123456700' src/tree/Папка/файл.txt src/tree/random.bin
  (cd src && win pack -q --target linux ../dist tree)
  chmod +x dist  # files made on Windows have no execute bit
  mkdir run && (cd run && ../dist < /dev/null > ../run.log 2>&1) || { cat run.log; exit 1; }
  diff -r src/tree run/tree
  diff <(times src/tree) <(times run/tree)
  echo "varnow.exe pack -> Linux core: tree, names and last-write times identical"
  (cd src && "$varnow" pack -q --codepage 1251 ../d.exe tree)
  win extract -q --codepage 1251 -C out d.exe
  diff -r src/tree out/tree
  diff <(times src/tree) <(times out/tree)
  win test -q --codepage 1251 d.exe
  echo "varnow pack -> varnow.exe extract: tree, names and last-write times identical"
  ;;
times)
  mkdir -p src/tree
  echo one > src/tree/a.txt
  echo two > src/tree/b.txt
  touch -a -d '2020-01-02 03:04:05' src/tree/a.txt
  touch -m -d '2019-06-07 08:09:10' src/tree/a.txt
  touch -d '2030-01-01 00:00:00' src/tree/b.txt
  (cd src && SOURCE_DATE_EPOCH=1700000000 win pack -q --target linux ../d tree)
  win list --json d > list.json
  grep -q '"name": "tree/a.txt".*"last_access": "2020-01-02T03:04:05Z", "last_write": "2019-06-07T08:09:10Z"' list.json
  # Later than SOURCE_DATE_EPOCH (2023-11-14 22:13:20): clamped, all three.
  grep -q '"name": "tree/b.txt".*"created": "2023-11-14T22:13:20Z", "last_access": "2023-11-14T22:13:20Z", "last_write": "2023-11-14T22:13:20Z"' list.json
  win extract -q -C out d
  [ "$(stat -c '%X %Y' out/tree/a.txt)" = "$(date -d '2020-01-02 03:04:05Z' +%s) $(date -d '2019-06-07 08:09:10Z' +%s)" ]
  echo "times: last access and last write from the file, clamped by SOURCE_DATE_EPOCH, set back by extract"
  ;;
longpath)
  deep=tree
  for i in $(seq 1 12); do deep+=/folder-with-a-long-name-number-$i; done
  mkdir -p "src/$deep"
  echo deep > "src/$deep/file.txt"
  full=$(cd src && pwd)/$deep/file.txt
  [ ${#full} -gt 260 ]
  (cd src && win pack -q --target linux ../d tree 2> ../warnings.txt)
  win extract -q -C out d
  diff -r src/tree out/tree
  echo "a source path of ${#full} characters packed and extracted"
  ;;
links)
  mkdir -p src/tree/sub elsewhere
  echo new > src/tree/sub/a.txt
  "$varnow" pack -q --target linux d src/tree
  echo keep > victim.txt
  mkdir -p x/tree/sub && ln -s ../../../victim.txt x/tree/sub/a.txt
  set +e
  win extract -q --overwrite -C x d 2> file-link.txt; f=$?
  mkdir -p y && ln -s ../elsewhere y/tree
  win extract -q -C y d 2> folder-link.txt; g=$?
  set -e
  [ $f = 1 ] && [ $g = 1 ]
  grep -q 'is a link' file-link.txt && grep -q 'is a symbolic link' folder-link.txt
  [ "$(cat victim.txt)" = keep ] && [ -L x/tree/sub/a.txt ] && [ -z "$(ls elsewhere)" ]
  echo "links in the destination refused, nothing written or removed through them"
  ;;
password)
  mkdir -p t && echo secret-data > t/a.txt
  # Each answer typed once the prompt has had time to appear.
  typing() { sleep 3; printf '%s\r' "$1"; sleep 1; printf '%s\r' "$2"; sleep 3; }
  typing hunter2 hunter2 | timeout 120 script -qec "'$loader' '$exe' pack --password --target linux d t" \
    /dev/null > same.log 2>&1
  grep -q 'Password again:' same.log
  if grep -q hunter2 same.log; then echo "the typed password was shown"; exit 1; fi
  echo hunter2 > password.txt
  "$varnow" test -q --password-file password.txt d
  typing hunter2 hunter3 | timeout 120 script -qec "'$loader' '$exe' pack --password --target linux e t" \
    /dev/null > differ.log 2>&1 || true
  grep -q 'the two passwords differ' differ.log && [ ! -e e ]
  echo "password asked twice on the console, typing hidden; different answers refused"
  ;;
*)
  echo "unknown case $case" >&2
  exit 1
  ;;
esac
