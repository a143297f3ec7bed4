#!/usr/bin/env bash
# mio0-encode against gzip -6 on 64 MiB of mixed real data
# (bench/make_corpus.sh: machine code, text, images and 5% incompressible
# bytes from files on the machine). Whole process, same run, page cache
# warm; peak resident memory; compressed sizes. The round trip is checked.
#   bench/encode.sh            (after: cmake --workflow --preset release)
. "$(dirname "$0")/lib.sh"
RUNS=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
encode=$BUILD/mio0-encode/mio0-encode
decode=$BUILD/mio0-decode/mio0-decode

"$(dirname "$0")/make_corpus.sh" "$work/in" 64
cat "$work/in" >/dev/null
"$encode" "$work/in" "$work/in.mio0"
"$decode" "$work/in.mio0" 0 "$work/back"
cmp "$work/in" "$work/back"
gzip -6 -c "$work/in" >"$work/in.gz"

ours=$(median_seconds "$encode" "$work/in" "$work/out.mio0")
gzip_time=$(median_seconds gzip -6 -c -k "$work/in")
rss=$(peak_kib "$encode" "$work/in" "$work/out.mio0")
size=$(stat -c %s "$work/in")
echo "mio0-encode: ${ours} s, $(stat -c %s "$work/in.mio0") bytes; gzip -6: ${gzip_time} s, $(stat -c %s "$work/in.gz") bytes; input $size bytes; peak RSS ${rss} KiB"
verdict "mio0-encode / gzip -6 time" "$(ratio "$ours" "$gzip_time")" 0.50
verdict "peak RSS / input size (after 16 MiB)" "$(awk -v r="$rss" -v s="$size" 'BEGIN { printf "%.2f", (r - 16384) * 1024 / s }')" 6.00
