# mio0-encode: usage, round trips through mio0-decode in both storages,
# the messages and the files left behind.
. "$(dirname "$0")/lib.sh"

begin "usage text for a wrong count of arguments"
for args in "" "a" "a b c d"; do
    # shellcheck disable=SC2086
    run "$ENCODE" $args
    expect_status 2
    printf '\nSyntax:\n%s InFile OutFile\n%s InFile ImageFile offset\n\n    InFile     The name of the file to compress\n    OutFile    The file that receives the MIO0 block\n    ImageFile  The file whose block at offset is replaced\n    offset     The offset of that block, decimal or 0x and hexadecimal\n' "$ENCODE" "$ENCODE" >usage.expected
    cmp -s "$WORK/stdout" usage.expected || fail "usage for '$args': $(cat "$WORK/stdout")"
done

: >empty
printf 'x' >one
printf 'abcabcabcabcabcab' >odd
head -c 70001 /dev/zero >run
head -c 50001 /dev/urandom >noise
cat "$DECODE" "$SWAP" >code
{ cat "$HERE"/*.sh; cat noise; head -c 9999 /dev/zero; } >mixed

begin "round trip in both storages for every kind of input"
for input in empty one odd run noise code mixed; do
    run "$ENCODE" "$input" "$input.mio0"
    expect_status 0
    expect_silent
    run "$DECODE" "$input.mio0" 0 "$input.back"
    expect_status 0
    expect_same "$input.back" "$input"
    run "$SWAP" "$input.mio0" -v "$input.swapped"
    run "$DECODE" "$input.swapped" 0 "$input.back2"
    expect_status 0
    expect_same "$input.back2" "$input"
done

begin "compresses what repeats"
size=$(stat -c %s run.mio0)
[ "$size" -lt 9000 ] || fail "70001 zero bytes took $size bytes"

begin "the same input always gives the same block"
run "$ENCODE" mixed again.mio0
expect_same again.mio0 mixed.mio0

begin "a pipe as input"
posix_only "a pipe is named /dev/stdin only on POSIX systems"
run bash -c 'cat mixed | "$0" /dev/stdin piped.mio0' "$ENCODE"
expect_status 0
expect_same piped.mio0 mixed.mio0

begin "missing or directory input"
mkdir adir
for input in no-such-file adir; do
    run "$ENCODE" "$input" out.none
    expect_status 1
    expect_stdout $'\nCould not open input file\n'
    expect_absent out.none
done

begin "a read error: could not read, nothing written"
posix_only "the read error comes from Linux's /proc/self/mem"
run "$ENCODE" /proc/self/mem out.unread
expect_status 1
expect_stdout $'\nCould not read input file\n'
expect_absent out.unread

begin "an input of 4 GiB is too large"
truncate -s 4294967296 huge
run "$ENCODE" huge huge.mio0
expect_status 1
expect_stdout $'\nInput is too large for MIO0\n'
expect_absent huge.mio0
rm -f huge

begin "a large input, parsed by several threads: round trip, and memory running out"
for _ in $(seq 40); do cat code mixed noise; done | head -c 3000000 >large
[ "$(stat -c %s large)" -eq 3000000 ] || fail "large is $(stat -c %s large) bytes"
run "$ENCODE" large large.mio0
expect_status 0
run "$DECODE" large.mio0 0 large.back
expect_same large.back large
if ! sanitized; then
    run timeout 60 bash -c 'ulimit -v 25000; exec "$0" "$@"' "$ENCODE" large large.short
    expect_status 1
    expect_stdout $'\nCould not allocate memory\n'
    expect_absent large.short
fi

begin "write failures: reported, devices kept, half-written files removed"
posix_only "/dev/full is a Linux device, and file size limits (ulimit -f) are POSIX"
run "$ENCODE" mixed no/such/dir/out
expect_status 1
expect_stdout $'\nCould not write the file\n'
run "$ENCODE" mixed /dev/full
expect_status 1
expect_stdout $'\nCould not write the file\n'
[ -c /dev/full ] || fail "/dev/full is gone"
run bash -c 'ulimit -f 10; exec "$0" "$@"' "$ENCODE" noise limited
expect_status 1
expect_stdout $'\nCould not write the file\n'
expect_absent limited

summary
