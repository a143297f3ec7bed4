#!/usr/bin/env bash
# The main job on the bundled samples: decode the block at byte 100 of a
# file, in normal and in pair-swapped storage, list the blocks of a file,
# and make a block with the encoder. Run after building the release preset.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/release}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

echo "== mio0-decode sample.bin 100 (normal storage)"
"$bin/mio0-decode/mio0-decode" "$here/sample.bin" 100 "$out/normal.txt"
cat "$out/normal.txt"

echo "== mio0-decode sample-swapped.bin 100 (pair-swapped storage, made by byte-swap -v)"
"$bin/mio0-decode/mio0-decode" "$here/sample-swapped.bin" 100 "$out/swapped.txt"
cat "$out/swapped.txt"
cmp "$out/normal.txt" "$out/swapped.txt" && echo "(both storages give the same bytes)"

echo "== mio0-decode sample.bin list"
"$bin/mio0-decode/mio0-decode" "$here/sample.bin" list "$out/listing.txt"
cat "$out/listing.txt"

echo "== mio0-encode message.txt, then decode it back"
"$bin/mio0-encode/mio0-encode" "$here/message.txt" "$out/message.mio0"
"$bin/mio0-decode/mio0-decode" "$out/message.mio0" 0 "$out/message.back"
cmp "$here/message.txt" "$out/message.back"
echo "$(stat -c %s "$here/message.txt") bytes -> $(stat -c %s "$out/message.mio0")-byte block -> round trip identical"
