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
grep_time=$(median_seconds grep -c -a -F -e MIO0 -e IM0O "$work/file")
rss=$(peak_kib "$decode" "$work/file" list "$work/out")
file_kib=$(( $(stat -c %s "$work/file") / 1024 ))
echo "list: ${ours} s; grep -c -a -F -e MIO0 -e IM0O: ${grep_time} s; peak RSS ${rss} KiB for a ${file_kib} KiB file"
verdict "list / grep" "$(ratio "$ours" "$grep_time")" 2.00
verdict "peak RSS - file size (KiB)" "$((rss - file_kib))" 16384
