#!/usr/bin/env bash
# mio0-decode FILE list against grep over the same file: 64 MiB of mixed
# real data (bench/make_corpus.sh) with 300 blocks, in both storages, placed
# at known offsets. Whole process, same run, page cache warm.
#   bench/list.sh            (after: cmake --workflow --preset release)
. "$(dirname "$0")/lib.sh"
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] && cp "$work/file" "$KEEP"; rm -rf "$work"' EXIT
decode=$BUILD/mio0-decode/mio0-decode
encode=$BUILD/mio0-encode/mio0-encode
swap=$BUILD/byte-swap/byte-swap

"$(dirname "$0")/make_corpus.sh" "$work/file" 64 >/dev/null
: >"$work/placed"
for k in $(seq 0 299); do
    offset=$((k * 223001 + 17 + k % 7))
    # Each block holds 3000 bytes of the corpus itself, from elsewhere.
    dd if="$work/file" of="$work/piece" bs=64K skip=$(((299 - k) * 211111)) count=3000 iflag=skip_bytes,count_bytes status=none
    "$encode" "$work/piece" "$work/block"
    if [ $((k % 2)) -eq 1 ]; then
        "$swap" "$work/block" -v "$work/block.s" && mv "$work/block.s" "$work/block"
    fi
    dd if="$work/block" of="$work/file" bs=1M seek="$offset" conv=notrunc status=none oflag=seek_bytes
    echo "$offset" >>"$work/placed"
done
cat "$work/file" >/dev/null

"$decode" "$work/file" list "$work/listing"
tail -n +2 "$work/listing" | cut -f1 >"$work/listed"
missing=$(comm -23 <(sort "$work/placed") <(sort "$work/listed") | wc -l)
echo "placed 300 blocks; listed $(wc -l <"$work/listed"); placed but not listed: $missing"
[ "$missing" -eq 0 ]

ours=$(median_seconds "$decode" "$work/file" list "$work/out")
# GNU grep stops at the first match when its output is /dev/null, which is
# where median_seconds sends it; its count goes to a file, so that it reads
# the whole file as the listing does.
to_file() { "$@" >"$work/grep.out"; }
grep_time=$(median_seconds to_file grep -c -a -F -e MIO0 -e IM0O "$work/file")
rss=$(peak_kib "$decode" "$work/file" list "$work/out")
file_kib=$(( $(stat -c %s "$work/file") / 1024 ))
echo "list: ${ours} s; grep -c -a -F -e MIO0 -e IM0O: ${grep_time} s; peak RSS ${rss} KiB for a ${file_kib} KiB file"
verdict "list / grep" "$(ratio "$ours" "$grep_time")" 2.00
verdict "peak RSS - file size (KiB)" "$((rss - file_kib))" 16384

# Hostile files: time and peak memory, and that the listing never aborts.
header() { # header D P L: 16 header bytes in normal storage
    printf 'MIO0'
    local v
    for v in "$@"; do
        printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v >> 24 & 255)) $((v >> 16 & 255)) $((v >> 8 & 255)) $((v & 255)))"
    done
}
echo "hostile listings (time, peak RSS; target: linear time, <= 16384 KiB, never an abort):"
# K candidate headers whose layouts all cover one 8 MiB region of 0xFF.
for k in 2000 4000; do
    { for _ in $(seq "$k"); do header 100 $((16 + (8 << 20))) $((16 + (8 << 20))); done
      head -c $((8 << 20)) /dev/zero | tr '\0' '\377'; } >"$work/overlap"
    truncate -s $((80 << 20)) "$work/overlap"
    t=$(median_seconds "$decode" "$work/overlap" list "$work/out")
    rss=$(peak_kib "$decode" "$work/overlap" list "$work/out")
    echo "  $k overlapping 8 MiB layouts in 80 MiB: ${t} s, ${rss} KiB, $(($(wc -l <"$work/out") - 1)) rows"
    verdict "peak RSS, $k overlapping layouts (KiB)" "$rss" 16384
done
# One bogus candidate claiming the largest layout at the start of a 4 GiB
# sparse file, and a real block at offset 100, listed under a 3 GB limit.
printf 'x' >"$work/one"
"$encode" "$work/one" "$work/one.mio0"
{ header 5 $((16 + (1 << 29) - 1)) 4000000000; } >"$work/sparse"
dd if="$work/one.mio0" of="$work/sparse" bs=1 seek=100 conv=notrunc status=none
truncate -s 4G "$work/sparse"
t=$(median_seconds "$decode" "$work/sparse" list "$work/out")
rss=$(peak_kib "$decode" "$work/sparse" list "$work/out")
(ulimit -v 3000000; "$decode" "$work/sparse" list "$work/out.limited") && rows=$(tail -n +2 "$work/out.limited" | cut -f1 | tr '\n' ' ')
echo "  bogus candidate in a 4 GiB sparse file: ${t} s, ${rss} KiB; under ulimit -v 3000000 lists: ${rows:-nothing}"
verdict "peak RSS, 4 GiB sparse (KiB)" "$rss" 16384
# 64 MiB of back-to-back bare headers: 4 Mi rows.
header 0 16 16 >"$work/bare"
for _ in $(seq 22); do cat "$work/bare" "$work/bare" >"$work/bare2" && mv "$work/bare2" "$work/bare"; done
t=$(median_seconds "$decode" "$work/bare" list "$work/out")
rss=$(peak_kib "$decode" "$work/bare" list "$work/out")
(ulimit -v 40000; "$decode" "$work/bare" list "$work/out.limited"); status=$?
echo "  64 MiB of bare headers: ${t} s, ${rss} KiB, $(($(wc -l <"$work/out") - 1)) rows; under ulimit -v 40000: exit $status"
verdict "peak RSS, 4 Mi rows (KiB)" "$rss" 16384
