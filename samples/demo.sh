#!/usr/bin/env bash
# The main job on the bundled samples: decode the block at byte 100 of a
# file, in normal and in pair-swapped storage, list the blocks of a file,
# make a block with the encoder, and put a changed block back into a file.
# Run after building the release preset.
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

echo "== mio0-encode: change the block at byte 100 of a copy of sample-swapped.bin and put it back"
cp "$here/sample-swapped.bin" "$out/image.bin"
head -n 3 "$out/swapped.txt" >"$out/changed.txt"
"$bin/mio0-encode/mio0-encode" "$out/changed.txt" "$out/image.bin" 0x64
"$bin/mio0-decode/mio0-decode" "$out/image.bin" 100 "$out/changed.back"
cmp "$out/changed.txt" "$out/changed.back"
cmp -s "$here/sample-swapped.bin" "$out/image.bin" || echo "the block was replaced in its pair-swapped storage:"
cat "$out/changed.back"
