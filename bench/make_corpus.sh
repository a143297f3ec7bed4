#!/usr/bin/env bash
# Builds SIZE_MiB (default 64) of mixed real data from files that exist on
# any Debian machine, into the file named by $1:
#   up to 20% images   PNG, JPEG, SVG, GIF and XPM files from /usr/share
#   35% text           headers from /usr/include, documents from /usr/share
#    5% incompressible bytes from a fixed-seed generator
#   the rest           machine code: shared libraries and programs
# Each kind is taken from a sorted file list, so the same machine gives the
# same corpus.
set -euo pipefail
out=$1
size_mib=${2:-64}
total=$((size_mib * 1048576))
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

take() { # take BYTES FILE-LIST...: concatenates the files until BYTES are had
    local want=$1
    shift
    { find "$@" -type f -size +1k 2>/dev/null | LC_ALL=C sort | xargs -r cat 2>/dev/null || true; } | head -c "$want"
}

take $((total * 20 / 100)) /usr/share -regex '.*\.\(png\|jpg\|jpeg\|svg\|gif\|xpm\)' >"$tmp/images"
take $((total * 35 / 100)) /usr/include /usr/share/doc /usr/share/perl /usr/share/cmake-3.25 -regex '.*\.\(h\|hpp\|txt\|pm\|cmake\|html\|md\)' >"$tmp/text"
noise=$((total * 5 / 100))
LC_ALL=C awk -v n=$noise 'BEGIN { srand(12345); for (i = 0; i < n; i++) printf "%c", int(rand() * 256) }' >"$tmp/noise"
used=$(( $(stat -c %s "$tmp/images") + $(stat -c %s "$tmp/text") + noise ))
take $((total - used)) /usr/lib/x86_64-linux-gnu /usr/bin >"$tmp/code"
cat "$tmp/code" "$tmp/text" "$tmp/images" "$tmp/noise" | head -c "$total" >"$out"
echo "corpus $out: code $(stat -c %s "$tmp/code"), text $(stat -c %s "$tmp/text"), images $(stat -c %s "$tmp/images"), noise $noise bytes"
