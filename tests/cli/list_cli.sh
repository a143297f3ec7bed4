# mio0-decode FILE list DESTINATION: the listing, its agreement with
# decoding, and its failures.
. "$(dirname "$0")/lib.sh"

printf 'MIO0\0\0\0\5\0\0\0\22\0\0\0\24\300\0\0\1AB' >block
dd if=block of=block.swapped conv=swab status=none
{ cat block; printf 'xyz'; cat block.swapped; cat block; printf 'MIO0'; head -c 100 /dev/zero; cat block.swapped; } >file

begin "lists every block, tab-separated under a header line"
run "$DECODE" file list listing
expect_status 0
expect_silent
printf 'offset\thex_offset\tstorage\tdecompressed_size\tstored_length\n0\t0x00000000\tMIO0\t5\t22\n25\t0x00000019\tIM0O\t5\t22\n47\t0x0000002F\tMIO0\t5\t22\n173\t0x000000AD\tIM0O\t5\t22\n' >listing.expected
expect_same listing listing.expected

begin "every listed offset decodes"
tail -n +2 listing | while IFS=$'\t' read -r offset _; do
    "$DECODE" file "$offset" "out.$offset" >/dev/null || echo "$offset" >>undecodable
    cmp -s "out.$offset" <(printf 'ABABA') || echo "$offset" >>undecodable
done
[ ! -e undecodable ] || fail "listed offsets that do not decode: $(cat undecodable)"

begin "a whole image swapped by byte-swap lists its blocks as pair-swapped"
printf a >a.txt
"$ENCODE" a.txt a.mio0
{ cat a.mio0; printf 'Z'; cat a.mio0; printf 'ZZZZ'; } >image
"$SWAP" image -v image.sw
run "$DECODE" image.sw list image.listing
expect_status 0
printf 'offset\thex_offset\tstorage\tdecompressed_size\tstored_length\n0\t0x00000000\tIM0O\t1\t21\n22\t0x00000016\tIM0O\t1\t21\n' >image.expected
expect_same image.listing image.expected

begin "the word must be exactly list: any other word is an invalid offset"
run "$DECODE" file LIST out.upper
expect_status 2
expect_stdout $'\nInvalid offset\n'
expect_absent out.upper

begin "a pipe as input"
posix_only "a pipe is named /dev/stdin only on POSIX systems"
run bash -c 'cat file | "$0" /dev/stdin list piped' "$DECODE"
expect_status 0
expect_same piped listing.expected

begin "a file with no block: not MIO0, no destination"
head -c 10000 /dev/zero >zeros
printf 'MIO0' >>zeros
run "$DECODE" zeros list none
expect_status 1
expect_stdout $'\nData is not MIO0\n'
expect_absent none
: >empty
run "$DECODE" empty list none
expect_stdout $'\nData is not MIO0\n'
expect_absent none

begin "failures of a decoding run"
posix_only "/dev/full is a Linux device"
run "$DECODE" no-such-file list none
expect_status 1
expect_stdout $'\nCould not open file\n'
expect_absent none
run "$DECODE" file list no/such/dir/out
expect_status 1
expect_stdout $'\nCould not write the file\n'
run "$DECODE" file list /dev/full
expect_status 1
expect_stdout $'\nCould not write the file\n'

begin "a long pipe is listed in small memory, through a temporary file that is gone afterwards"
posix_only "pipes through /dev/stdin and address-space limits are POSIX"
printf a >one.txt
"$ENCODE" one.txt one.mio0
{ head -c 67108864 /dev/zero; cat one.mio0; } >long
spool_dir=$WORK/spool
mkdir "$spool_dir"
if sanitized; then
    run bash -c 'cat long | TMPDIR="$1" "$0" /dev/stdin list long.listing' "$DECODE" "$spool_dir"
else
    run bash -c 'ulimit -v 60000; cat long | TMPDIR="$1" "$0" /dev/stdin list long.listing' "$DECODE" "$spool_dir"
fi
expect_status 0
printf 'offset\thex_offset\tstorage\tdecompressed_size\tstored_length\n67108864\t0x04000000\tMIO0\t1\t21\n' >long.expected
expect_same long.listing long.expected
[ -z "$(ls -A "$spool_dir")" ] || fail "left in TMPDIR: $(ls -A "$spool_dir")"
rm -f long

summary
