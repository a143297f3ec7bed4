#!/usr/bin/env bash
# Runs every example of the given manual pages, as a reader would paste
# them: the .EX blocks of a page, in order, each as one bash script with
# -e (stopping at the first command that fails, as a reader would), all in
# one empty scratch directory per page. A block
# must exit with status 0, or with N when the line before it reads
#   .\" example exits N
# (and the text of the page then says that it fails). The programs are
# taken from PATH.
#   man/run_examples.sh man/*.1.in
#
# Programs built for Windows are found on PATH as NAME.exe. With
# MIO0_RUNNER set (for those, the Wine loader), each program is a small
# script that starts it through that command, so that the examples name
# the programs as a reader would.
set -uo pipefail
[ $# -gt 0 ] || { echo "usage: $0 PAGE..."; exit 2; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0

programs=(mio0-decode byte-swap mio0-encode)
windows=0
command -v mio0-decode.exe >/dev/null && windows=1
if [ -n "${MIO0_RUNNER:-}" ]; then
    mkdir "$scratch/bin"
    for name in "${programs[@]}"; do
        [ "$windows" -eq 1 ] && file=$name.exe || file=$name
        real=$(command -v "$file") || { echo "FAIL: $file is not on PATH"; exit 1; }
        printf '#!/usr/bin/env bash\nexec %s %q "$@"\n' "$MIO0_RUNNER" "$real" >"$scratch/bin/$name"
        chmod +x "$scratch/bin/$name"
    done
    PATH=$scratch/bin:$PATH
fi

# posix_only BLOCK: on Windows, true (with the reason printed) for a block
# that rests on what only POSIX systems have.
posix_only() {
    [ "$windows" -eq 1 ] || return 1
    if grep -q '/dev/stdin' "$1"; then
        echo "SKIP $name example $(basename "$1" .sh): a pipe is named /dev/stdin only on POSIX systems"
        return 0
    fi
    return 1
}

for page in "$@"; do
    name=$(basename "$page" .1.in)
    blocks="$scratch/$name.blocks"
    work="$scratch/$name.work"
    mkdir -p "$blocks" "$work"
    # One file per block, NNN.sh, and its expected status in NNN.status.
    awk -v dir="$blocks" '
        /^\.\\" example exits [0-9]+$/ { expected = $4; next }
        /^\.EX$/ { n++; file = sprintf("%s/%03d.sh", dir, n); inside = 1
                   printf "%d\n", expected + 0 > sprintf("%s/%03d.status", dir, n)
                   expected = 0; next }
        /^\.EE$/ { inside = 0; close(file); next }
        inside {
            line = $0
            gsub(/\\-/, "-", line); gsub(/\\\(aq/, "\047", line); gsub(/\\&/, "", line)
            gsub(/\\e/, "\\", line)
            print line > file
        }' "$page"
    count=$(find "$blocks" -name '*.sh' | wc -l)
    if [ "$count" -eq 0 ]; then
        echo "FAIL $name: no examples found"
        failed=1
        continue
    fi
    skipped=0
    for block in "$blocks"/*.sh; do
        if posix_only "$block"; then
            skipped=$((skipped + 1))
            continue
        fi
        expected=$(cat "${block%.sh}.status")
        (cd "$work" && bash -e "$block") >"$block.out" 2>&1 </dev/null
        status=$?
        if [ "$status" -ne "$expected" ]; then
            echo "FAIL $name example $(basename "$block" .sh): exit status $status, expected $expected"
            sed 's/^/    | /' "$block"
            sed 's/^/    > /' "$block.out" | head -n 20
            failed=1
        fi
    done
    echo "$name: $((count - skipped)) examples run, $skipped skipped"
done
exit "$failed"
