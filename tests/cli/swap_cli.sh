# byte-swap: usage, the flag, files and standard output, in place, pipes,
# the messages, the write failures, and dd conv=swab as a peer.
. "$(dirname "$0")/lib.sh"

usage() {
    printf '\nSyntax:\n%s InFile <-v | -z> [OutFile]\n\n' "$1"
    printf '    InFile     The name of the input file\n'
    printf '    -v -z      Flag to induce byte-swapping or not.\n'
    printf '    OutFile    Optional. The name of the output file.\n\n'
    printf 'If OutFile is not supplied, stdout will be used.\n'
}

printf '\1\2\3\4\5' >five
printf '\2\1\4\3\5' >five.swapped

begin "usage text for one, two, five and more words"
usage "$SWAP" >usage.expected
for args in "" "five" "five -v a b" "five -v a b c"; do
    # shellcheck disable=SC2086
    run "$SWAP" $args
    expect_status 2
    cmp -s "$WORK/stdout" usage.expected || fail "usage for '$args': $(cat "$WORK/stdout")"
done
expect_absent a

begin "-v exchanges pairs and leaves an odd last byte"
run "$SWAP" five -v out
expect_status 0
expect_silent
expect_same out five.swapped

begin "every other flag copies unchanged"
for flag in -z -V v --v "" -vv; do
    run "$SWAP" five "$flag" out
    expect_status 0
    expect_same out five
done

begin "standard output gets the bytes exactly, line feeds included"
printf 'a\nb\n\n\r\n\0x' >lines
dd if=lines of=lines.swapped conv=swab status=none
run "$SWAP" lines -v
expect_status 0
expect_same "$WORK/stdout" lines.swapped
run "$SWAP" lines -z
expect_same "$WORK/stdout" lines

begin "an empty input gives an empty output"
: >empty
run "$SWAP" empty -v out.empty
expect_status 0
[ -f out.empty ] && [ ! -s out.empty ] || fail "out.empty is not an empty file"

begin "twice gives back the input; an existing output is replaced"
head -c 100001 /dev/urandom >random
head -c 300000 /dev/zero >twice
run "$SWAP" random -v once
run "$SWAP" once -v twice
expect_same twice random

begin "OutFile naming InFile converts in place"
cp five inplace
run "$SWAP" inplace -v inplace
expect_status 0
expect_same inplace five.swapped

begin "inputs that cannot seek are read to their end"
posix_only "a pipe is named /dev/stdin only on POSIX systems"
run bash -c 'cat random | "$0" /dev/stdin -v piped' "$SWAP"
expect_status 0
run "$SWAP" once -v back
dd if=random of=random.swapped conv=swab status=none
expect_same piped random.swapped

begin "missing or directory input: could not open, no output file"
mkdir adir
for input in no-such-file adir; do
    run "$SWAP" "$input" -v out.none
    expect_status 1
    expect_stdout $'\nCould not open input file\n'
    expect_absent out.none
done

begin "a read error: could not read, nothing written"
posix_only "the read error comes from Linux's /proc/self/mem"
# Reading a process's own memory file at position 0 fails with EIO.
run "$SWAP" /proc/self/mem -v out.unread
expect_status 1
expect_stdout $'\nCould not read input file\n'
expect_absent out.unread
run "$SWAP" /proc/self/mem -v
expect_status 1
expect_stdout $'\nCould not read input file\n'

begin "an output that cannot be opened"
run "$SWAP" five -v no/such/dir/out
expect_status 1
expect_stdout $'\nCould not open output file\n'

begin "a failing write to OutFile: reported, devices left in place"
posix_only "/dev/full is a Linux device"
run "$SWAP" five -v /dev/full
expect_status 1
expect_stdout $'\nCould not write output file\n'
[ -c /dev/full ] || fail "/dev/full is gone"

begin "a failing write to standard output: exit 1, message on standard error"
posix_only "/dev/full is a Linux device"
run bash -c '"$0" five -v >/dev/full' "$SWAP"
expect_status 1
expect_stderr $'\nCould not write output file\n'

begin "a file size limit: reported, no new output, an old one kept"
posix_only "file size limits (ulimit -f) are POSIX"
run bash -c 'ulimit -f 50; exec "$0" "$@"' "$SWAP" random -v limited
expect_status 1
expect_stdout $'\nCould not write output file\n'
expect_absent limited
cp five limited.existing
run bash -c 'ulimit -f 50; exec "$0" "$@"' "$SWAP" random -v limited.existing
expect_status 1
expect_same limited.existing five

begin "agrees with dd conv=swab at every length from 0 to 64, and on a large odd file"
head -c 64 /dev/urandom >pool
for length in $(seq 0 64); do
    head -c "$length" pool >piece
    dd if=piece of=piece.dd conv=swab status=none
    run "$SWAP" piece -v piece.ours
    expect_status 0
    cmp -s piece.ours piece.dd || fail "length $length differs from dd"
done
head -c 3000001 /dev/urandom >large
dd if=large of=large.dd conv=swab bs=1M status=none
run "$SWAP" large -v large.ours
expect_same large.ours large.dd

summary
