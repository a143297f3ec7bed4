# mio0-decode: usage, offsets, both storages, every message, exit statuses
# and the files left behind.
. "$(dirname "$0")/lib.sh"

usage() {
    printf '\nSyntax:\n%s filename [offset | list] destination\n\n' "$1"
    printf '    filename      The name of the file to decode MIO0 data from\n'
    printf '    offset        The offset within the file to decode MIO0 data\n'
    printf '    destination   The destination file for decoding\n'
}

# Flags 1 1 0, literals "AB", one pair (length 3, distance 2), D = 5: "ABABA".
# P = 18 (layout padded to 2 bytes), L = 20.
printf 'MIO0\0\0\0\5\0\0\0\22\0\0\0\24\300\0\0\1AB' >block
printf 'ABABA' >block.expected
# Flags 1 0, literal "x", pair (18, 1), D = 19: nineteen "x".
printf 'MIO0\0\0\0\23\0\0\0\22\0\0\0\24\200\0\360\0x\0' >block19
printf 'xxxxxxxxxxxxxxxxxxx' >block19.expected
# block at 0, junk up to 32, block19 at 32
{ cat block; printf '0123456789'; cat block19; } >two
dd if=block of=block.swapped conv=swab status=none

begin "usage text for a wrong count of arguments"
for args in "" "a" "a b" "a b c d"; do
    # shellcheck disable=SC2086
    run "$DECODE" $args
    expect_status 2
    usage "$DECODE" >"$WORK/expected.usage"
    cmp -s "$WORK/stdout" "$WORK/expected.usage" || fail "usage text for '$args': $(cat "$WORK/stdout")"
done
expect_absent d

begin "decodes the block at an offset, printing nothing"
for offset in 32 0032 0x20 0X20 0x00000020; do
    run "$DECODE" two "$offset" out
    expect_status 0
    expect_silent
    expect_same out block19.expected
    rm -f out
done

begin "an accepted offset is read where it says"
# text, then what decoding at it gives: a block of "two", or no block there
while read -r text outcome; do
    rm -f out
    run "$DECODE" two "$text" out
    case $outcome in
        block) expect_status 0; expect_same out block.expected ;;
        block19) expect_status 0; expect_same out block19.expected ;;
        none) expect_status 1; expect_stdout $'\nData is not MIO0\n'; expect_absent out ;;
    esac
done <<'CASES'
0 block
000 block
0x0 block
0x00000000 block
32 block19
0x20 block19
007 none
0X1f none
0x10 none
4294967295 none
0xFFFFFFFF none
CASES

begin "a refused offset: Invalid offset, exit 2, before any file is opened"
printf 'keep me' >kept.offset
cp kept.offset kept.offset.before
for text in 4294967296 0x100000000 0x 0x1g "" " 32" "32 " "+32" "-0" "-1" "32k" "1e3" "abc" \
        LIST " list" "list " $'32\n' "1f"; do
    for input in two no-such-file; do
        run "$DECODE" "$input" "$text" kept.offset
        expect_status 2
        expect_stdout $'\nInvalid offset\n'
        [ ! -s "$WORK/stderr" ] || fail "printed to standard error for '$text'"
        expect_same kept.offset kept.offset.before
        run "$DECODE" "$input" "$text" out.offset
        expect_absent out.offset
    done
done

begin "pair-swapped storage"
run "$DECODE" block.swapped 0 out
expect_status 0
expect_silent
expect_same out block.expected
{ printf 'xy'; cat block.swapped; } >at2.swapped
run "$DECODE" at2.swapped 2 out
expect_same out block.expected

begin "whole images swapped by byte-swap give back every block at an even offset"
# a: one literal (odd N); ab: two (even N); oddl: L - P odd, so L is odd.
printf a >a.txt
printf ab >ab.txt
"$ENCODE" a.txt a.mio0
"$ENCODE" ab.txt ab.mio0
printf 'MIO0\0\0\0\5\0\0\0\22\0\0\0\25\300\0\0\1\356AB' >oddl.mio0
printf ABABA >oddl.txt
# pad FILE: appends one byte when FILE's length is odd, so the next block
# starts at an even offset.
pad() { [ $(( $(stat -c %s "$1") % 2 )) -eq 0 ] || printf 'P' >>"$1"; }
: >image
offsets=()
for b in a oddl ab a oddl; do
    pad image
    offsets+=("$(stat -c %s image) $b")
    cat "$b.mio0" >>image
done
printf 'ZZZ' >>image
for tail in oddl ab; do # the image ends with a block: odd, then even file length
    cp image "image.$tail"
    pad "image.$tail"
    end=$(stat -c %s "image.$tail")
    cat "$tail.mio0" >>"image.$tail"
    "$SWAP" "image.$tail" -v "image.$tail.sw"
    for entry in "${offsets[@]}" "$end $tail"; do
        set -- $entry
        run "$DECODE" "image.$tail.sw" "$1" out.sw
        expect_status 0
        expect_silent
        expect_same out.sw "$2.txt"
    done
done
[ $(( $(stat -c %s image.oddl) % 2 )) -eq 1 ] || fail "image.oddl should have an odd length"
[ $(( $(stat -c %s image.ab) % 2 )) -eq 0 ] || fail "image.ab should have an even length"

begin "the same swapped images read from a pipe, which cannot seek"
posix_only "a pipe is named /dev/stdin only on POSIX systems"
for tail in oddl ab; do
    end=$(( $(stat -c %s "image.$tail") - $(stat -c %s "$tail.mio0") ))
    for entry in "${offsets[@]}" "$end $tail"; do
        set -- $entry
        run bash -c 'cat "$1" | "$0" /dev/stdin "$2" out.pipe' "$DECODE" "image.$tail.sw" "$1"
        expect_status 0
        expect_same out.pipe "$2.txt"
    done
done

begin "a block swapped as a file of its own, its odd last byte in place"
"$SWAP" oddl.mio0 -v oddl.sw
run "$DECODE" oddl.sw 0 out.own
expect_status 0
expect_same out.own oddl.txt

begin "an odd offset"
{ printf 'abc'; cat block; } >odd
run "$DECODE" odd 3 out
expect_status 0
expect_same out block.expected

begin "missing input: could not open, no destination"
run "$DECODE" no-such-file 0 out.missing
expect_status 1
expect_stdout $'\nCould not open file\n'
expect_absent out.missing

begin "a directory as input"
mkdir adir
run "$DECODE" adir 0 out.dir
expect_status 1
expect_stdout $'\nCould not open file\n'
expect_absent out.dir

begin "not MIO0 leaves an existing destination unchanged"
printf 'keep me' >kept
cp kept kept.before
for file_offset in "two 5" "two 100" "two 4294967295" "block 10"; do
    set -- $file_offset
    run "$DECODE" "$1" "$2" kept
    expect_status 1
    expect_stdout $'\nData is not MIO0\n'
    expect_same kept kept.before
done
printf 'mio0\0\0\0\5\0\0\0\22\0\0\0\24\300\0\0\1AB' >lower
run "$DECODE" lower 0 out.lower
expect_stdout $'\nData is not MIO0\n'
expect_absent out.lower

begin "a header cut short"
printf 'MIO0\0\0\0\5' >short
run "$DECODE" short 0 out.short
expect_status 1
expect_stdout $'\nData is not MIO0\n'
expect_absent out.short
: >empty
run "$DECODE" empty 0 out.short
expect_stdout $'\nData is not MIO0\n'

begin "every truncation of a block is not MIO0 and writes nothing"
size=$(stat -c %s block)
for length in $(seq 16 $((size - 1))); do
    head -c "$length" block >cut
    run "$DECODE" cut 0 out.cut
    expect_status 1
    expect_stdout $'\nData is not MIO0\n'
    expect_absent out.cut
done

begin "a huge claimed extent in a 20-byte file fails at once, without allocating it"
printf 'MIO0\0\0\0\5\0\0\0\20\377\377\377\360abcd' >claim
if sanitized; then run "$DECODE" claim 0 out.claim; else run bash -c 'ulimit -v 100000; exec "$0" "$@"' "$DECODE" claim 0 out.claim; fi
expect_status 1
expect_stdout $'\nData is not MIO0\n'
expect_absent out.claim

begin "headers whose sizes wrap: could not allocate memory"
printf 'MIO0\0\0\0\5\0\0\0\17\0\0\0\24\300\0\0\1AB' >p15      # P below 16
printf 'MIO0\0\0\0\5\0\0\0\24\0\0\0\22\300\0\0\1AB' >lbelowp  # L below P
printf 'MIO0\0\0\0\5\40\0\0\20\40\0\0\20\300\0\0\1AB' >pwrap  # P - 16 = 2^29
for f in p15 lbelowp pwrap; do
    run "$DECODE" "$f" 0 out.wrap
    expect_status 1
    expect_stdout $'\nCould not allocate memory\n'
    expect_absent out.wrap
done

begin "a back-reference before the first byte: not MIO0, no destination"
# flags 1 0, literal "a", pair (3, distance 2) at output position 1
printf 'MIO0\0\0\0\4\0\0\0\22\0\0\0\24\200\0\0\1a\0' >badref
run "$DECODE" badref 0 out.badref
expect_status 1
expect_stdout $'\nData is not MIO0\n'
expect_absent out.badref

begin "a destination that cannot be opened"
run "$DECODE" block 0 no/such/dir/out
expect_status 1
expect_stdout $'\nCould not write the file\n'

begin "a failing write: /dev/full is reported and left in place"
posix_only "/dev/full is a Linux device"
run "$DECODE" block 0 /dev/full
expect_status 1
expect_stdout $'\nCould not write the file\n'
[ -c /dev/full ] || fail "/dev/full is gone"

begin "a file size limit: reported, no new file, an old one kept"
posix_only "file size limits (ulimit -f) are POSIX"
# D = 1000000 from one literal: the zero tail goes past a 100 KiB limit.
printf 'MIO0\0\17\102\100\0\0\0\24\0\0\0\24\200\0\0\0z\0' >bigtail
run bash -c 'ulimit -f 100; exec "$0" "$@"' "$DECODE" bigtail 0 limited
expect_status 1
expect_stdout $'\nCould not write the file\n'
expect_absent limited
printf 'old' >limited.existing
run bash -c 'ulimit -f 100; exec "$0" "$@"' "$DECODE" bigtail 0 limited.existing
expect_status 1
[ "$(cat limited.existing)" = old ] || fail "limited.existing changed"

begin "bytes beyond the decoded ones are zeros, exactly D of them"
run "$DECODE" bigtail 0 tail.out
expect_status 0
{ printf 'z'; head -c 999999 /dev/zero; } >tail.expected
expect_same tail.out tail.expected

begin "D = 4294967295 from a bare header: written in pieces, in little memory"
printf 'MIO0\377\377\377\377\0\0\0\20\0\0\0\20' >hugeD
if sanitized; then run "$DECODE" hugeD 0 /dev/null; else run bash -c 'ulimit -v 200000; exec "$0" "$@"' "$DECODE" hugeD 0 /dev/null; fi
expect_status 0
expect_silent
[ -c /dev/null ] || fail "/dev/null is gone"

begin "an existing destination is replaced, not appended to"
head -c 5000 /dev/zero >replaced
run "$DECODE" block 0 replaced
expect_same replaced block.expected

begin "the destination may name the input"
cp two inplace
run "$DECODE" inplace 32 inplace
expect_status 0
expect_same inplace block19.expected

begin "a destination that names the input through /dev/fd/N: the input is never lost, decoded or listed"
# /dev/fd/N leading to a regular file is written in place, truncated at the
# open; when that file is the input, the blocks are still to be read.
if posix_only "/dev/fd is POSIX"; then
    # The listing reads past its first 64 KiB piece only on a longer input.
    { cat two; head -c 70000 /dev/zero; cat block19; } >twofar
    for offset in 0 32 list; do
        cp twofar viafd
        run bash -c 'exec "$0" viafd "$1" /dev/fd/3 3<>viafd' "$DECODE" "$offset"
        if [ "$status" -eq 0 ]; then
            [ "$offset" = 0 ] && expect_same viafd block.expected
            [ "$offset" = 32 ] && expect_same viafd block19.expected
            [ "$offset" = list ] && { grep -q '^70054	0x000111A6	MIO0	19	' viafd || fail "list: $(head -c 300 viafd)"; }
        else
            cmp -s viafd twofar || fail "$offset: exit $status, and the input now holds $(stat -c %s viafd) bytes"
        fi
    done
fi

begin "an input that cannot seek is read up to the offset"
posix_only "a pipe is named /dev/stdin only on POSIX systems"
run bash -c 'cat two | "$0" /dev/stdin 32 piped.out' "$DECODE"
expect_status 0
expect_silent
expect_same piped.out block19.expected
run bash -c 'cat two | "$0" /dev/stdin 31 piped.bad' "$DECODE"
expect_stdout $'\nData is not MIO0\n'
expect_absent piped.bad
run bash -c 'head -c 5 two | "$0" /dev/stdin 100 piped.bad' "$DECODE"
expect_stdout $'\nData is not MIO0\n'

begin "offsets of 2 GiB and more are real positions"
truncate -s 2147483648 far
cat block19 >>far
run "$DECODE" far 2147483648 far.out
expect_status 0
expect_same far.out block19.expected
run "$DECODE" far 0 far.none
expect_stdout $'\nData is not MIO0\n'
rm -f far

summary
