#!/bin/sh
# Runs the asset generator twice into fresh folders and compares every file.
set -eu
generator=$1 work=$2
rm -rf "$work"
mkdir -p "$work/first" "$work/second"
"$generator" "$work/first"
"$generator" "$work/second"
count=0
for f in "$work"/first/*; do
  cmp "$f" "$work/second/$(basename "$f")"
  count=$((count + 1))
done
[ "$count" -ge 8 ] || { echo "only $count files written"; exit 1; }
echo "$count files identical"
