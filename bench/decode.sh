#!/usr/bin/env bash
# mio0-decode against lz4 -d and zstd -d on 64 MiB of mixed real data
# (bench/make_corpus.sh) encoded by mio0-encode, in normal storage and
# pair-swapped by byte-swap; the peers decompress the same data compressed
# by lz4 -1 and zstd (default level). Whole process, output to a file, same
# run, page cache warm, medians. Then the peak resident memory of decodes
# whose claims are large: the corpus block, a 512 MiB layout that produces
# 16 bytes, 36 MiB of streams with D = 1, and a bare header with
# D = 4294967295 (written to /dev/null).
#   bench/decode.sh            (after: cmake --workflow --preset release)
. "$(dirname "$0")/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
decode=$BUILD/mio0-decode/mio0-decode
encode=$BUILD/mio0-encode/mio0-encode
swap=$BUILD/byte-swap/byte-swap

"$(dirname "$0")/make_corpus.sh" "$work/in" 64 >/dev/null
"$encode" "$work/in" "$work/in.mio0"
"$swap" "$work/in.mio0" -v "$work/in.mio0.swapped"
lz4 -1 -q -f "$work/in" "$work/in.lz4"
zstd -q -f "$work/in" -o "$work/in.zst"
for storage in mio0 mio0.swapped; do
    "$decode" "$work/in.$storage" 0 "$work/out"
    cmp "$work/in" "$work/out"
done
cat "$work/in.mio0" "$work/in.mio0.swapped" "$work/in.lz4" "$work/in.zst" >/dev/null

normal=$(median_seconds "$decode" "$work/in.mio0" 0 "$work/out")
swapped=$(median_seconds "$decode" "$work/in.mio0.swapped" 0 "$work/out")
lz4_time=$(median_seconds lz4 -d -q -f "$work/in.lz4" "$work/out")
zstd_time=$(median_seconds zstd -d -q -f "$work/in.zst" -o "$work/out")
echo "decode 64 MiB: mio0-decode ${normal} s (MIO0), ${swapped} s (IM0O); lz4 -d ${lz4_time} s; zstd -d ${zstd_time} s"
echo "  sizes: mio0 $(stat -c %s "$work/in.mio0"), lz4 -1 $(stat -c %s "$work/in.lz4"), zstd $(stat -c %s "$work/in.zst") bytes"
verdict "MIO0 / lz4 -d" "$(ratio "$normal" "$lz4_time")" 1.00
verdict "IM0O / lz4 -d" "$(ratio "$swapped" "$lz4_time")" 1.00
echo "  MIO0 / zstd -d: $(ratio "$normal" "$zstd_time"), IM0O / zstd -d: $(ratio "$swapped" "$zstd_time") (aim: 1.00)"

# header D P L: the 16 header bytes in normal storage.
header() {
    printf 'MIO0'
    local v
    for v in "$@"; do
        printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v >> 24 & 255)) $((v >> 16 & 255)) $((v >> 8 & 255)) $((v & 255)))"
    done
}
# 512 MiB layout: 16 literal flags, then zero flags up to P; no pairs.
layout=$(( (1 << 29) - 1 ))
{ header 16 $((16 + layout)) $((16 + layout)); printf '\377\377'; } >"$work/layout"
truncate -s $((16 + layout)) "$work/layout"
printf '0123456789abcdef' >>"$work/layout"
# 36 MiB of streams, D = 1: one literal flag, then pairs; the literals.
streams=$((36 << 20))
{ header 1 $((16 + streams / 2)) $((16 + streams)); printf '\200'; } >"$work/streams"
truncate -s $((16 + streams)) "$work/streams"
printf 'x' >>"$work/streams"
header 4294967295 16 16 >"$work/bare"

echo "peak resident memory of decodes from a regular file (KiB):"
for case in "in.mio0 $work/out" "in.mio0.swapped $work/out" "layout $work/out" "streams $work/out" "bare /dev/null"; do
    set -- $case
    rss=$(peak_kib "$decode" "$work/$1" 0 "$2")
    verdict "peak RSS, $1" "$rss" 8192
done
layout_time=$(median_seconds "$decode" "$work/layout" 0 "$work/out")
echo "  512 MiB layout producing 16 bytes: ${layout_time} s"
