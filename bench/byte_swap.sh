#!/usr/bin/env bash
# byte-swap against its peers on a 64 MiB file in the page cache, whole
# process, same run: dd conv=swab bs=1M and cp. Peak resident memory too.
#   bench/byte_swap.sh            (after: cmake --workflow --preset release)
. "$(dirname "$0")/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
swap=$BUILD/byte-swap/byte-swap

head -c $((64 << 20)) /dev/urandom >"$work/in"
cat "$work/in" >/dev/null
"$swap" "$work/in" -v "$work/ours"
dd if="$work/in" of="$work/dd" conv=swab bs=1M status=none
cmp "$work/ours" "$work/dd"

ours=$(median_seconds "$swap" "$work/in" -v "$work/out")
dd_time=$(median_seconds dd if="$work/in" of="$work/out" conv=swab bs=1M)
cp_time=$(median_seconds cp "$work/in" "$work/out")
rss=$(peak_kib "$swap" "$work/in" -v "$work/out")
file_kib=$((64 << 10))

echo "byte-swap 64 MiB -v: ${ours} s; dd conv=swab bs=1M: ${dd_time} s; cp: ${cp_time} s; peak RSS ${rss} KiB"
verdict "byte-swap / dd" "$(ratio "$ours" "$dd_time")" 1.00
verdict "byte-swap / cp" "$(ratio "$ours" "$cp_time")" 1.50
verdict "peak RSS - file size (KiB)" "$((rss - file_kib))" 8192
