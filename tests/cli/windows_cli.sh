# What only Windows can get wrong: text mode on standard output and on
# files, file names outside ASCII, destinations that cannot be written,
# links, the console's Ctrl-C, and files past 4 GiB.
. "$(dirname "$0")/lib.sh"

# Flags 1 1 0, literals "AB", one pair (length 3, distance 2), D = 5: "ABABA".
printf 'MIO0\0\0\0\5\0\0\0\22\0\0\0\24\300\0\0\1AB' >block
printf 'ABABA' >block.expected
# Flags 1 0, literal "x", pair (18, 1), D = 19: nineteen "x".
printf 'MIO0\0\0\0\23\0\0\0\22\0\0\0\24\200\0\360\0x\0' >block19
printf 'xxxxxxxxxxxxxxxxxxx' >block19.expected
# Line ends of both kinds, lone CRs, and 0x1A, which ends a text-mode read.
printf '\n\r\r\n\n\n\r\r\32\0\nA\r\n' >lines
dd if=lines of=lines.swapped conv=swab status=none

# expect_entries NAME...: the working directory holds exactly these
# entries, so no temporary file was left and no name was mangled.
expect_entries() {
    local got expected
    got=$(ls -A | LC_ALL=C sort)
    expected=$(printf '%s\n' "$@" | LC_ALL=C sort)
    [ "$got" = "$expected" ] || fail "entries are: $(echo $got), expected: $(echo $expected)"
}

begin "byte-swap writes its bytes to a pipe unchanged, in binary mode"
run bash -c '"$0" lines -v | cat >piped' "$SWAP"
expect_status 0
expect_same piped lines.swapped
run bash -c '"$0" lines -z | cat >piped' "$SWAP"
expect_status 0
expect_same piped lines

begin "every program reads and writes files in binary mode"
run "$ENCODE" lines lines.mio0
expect_status 0
run "$DECODE" lines.mio0 0 lines.back
expect_status 0
expect_same lines.back lines
run "$SWAP" lines -v lines.out
expect_same lines.out lines.swapped

begin "file names outside ASCII, as input, destination and folder"
mkdir scratch && cd scratch || exit 1
name='données-ü-日本'
{ cat ../lines; printf 'repeat repeat repeat repeat'; } >"$name.bin"
mkdir 'dossier-ñ'
run "$ENCODE" "$name.bin" "$name.mio0"
expect_status 0
expect_silent
run "$DECODE" "$name.mio0" 0 'résultat-ß.bin'
expect_status 0
expect_same 'résultat-ß.bin' "$name.bin"
run "$SWAP" "$name.mio0" -v "dossier-ñ/$name.swapped"
expect_status 0
run "$DECODE" "dossier-ñ/$name.swapped" 0 'dossier-ñ/ø'
expect_status 0
expect_same 'dossier-ñ/ø' "$name.bin"
run "$DECODE" "$name.mio0" list 'liste-é'
expect_status 0
grep -q '^0	0x00000000	MIO0	' 'liste-é' || fail "listing: $(cat 'liste-é')"
expect_entries "$name.bin" "$name.mio0" 'dossier-ñ' 'résultat-ß.bin' 'liste-é'
[ "$(ls -A 'dossier-ñ' | LC_ALL=C sort | tr '\n' ' ')" = "$name.swapped ø " ] ||
    fail "dossier-ñ holds: $(ls -A 'dossier-ñ')"
cd .. || exit 1

begin "a destination in a missing folder: the write-failure message, no folder made"
mkdir scratch2 && cd scratch2 || exit 1
for command in "$DECODE ../block 0" "$DECODE ../block list" "$ENCODE ../lines"; do
    # shellcheck disable=SC2086
    run $command missing/out
    expect_status 1
    expect_stdout $'\nCould not write the file\n'
done
run "$SWAP" ../lines -v missing/out
expect_status 1
expect_stdout $'\nCould not open output file\n'
expect_entries
cd .. || exit 1

begin "a read-only destination is refused and kept as it was"
mkdir scratch3 && cd scratch3 || exit 1
printf 'precious' >kept
cp kept kept.before
chmod a-w kept # Wine gives the file the read-only attribute
for command in "$DECODE ../block 0" "$DECODE ../block list" "$ENCODE ../lines"; do
    # shellcheck disable=SC2086
    run $command kept
    expect_status 1
    expect_stdout $'\nCould not write the file\n'
    expect_same kept kept.before
done
run "$SWAP" ../lines -v kept
expect_status 1
expect_stdout $'\nCould not open output file\n'
expect_same kept kept.before
expect_entries kept kept.before
chmod u+w kept
cd .. || exit 1

begin "a symbolic link stays a link: its target is replaced"
mkdir scratch5 && cd scratch5 || exit 1
mkdir there
printf 'old' >there/target
ln -s there/target link
run "$DECODE" ../block 0 link
expect_status 0
[ -L link ] || fail "link is no longer a symbolic link"
expect_same there/target ../block.expected
expect_entries link there
[ "$(ls -A there)" = target ] || fail "there holds: $(ls -A there)"
cd .. || exit 1

begin "Ctrl-C in the middle of a write: the temporary file goes, the destination stays"
# Wine turns SIGINT into the console's Ctrl-C event. A program stopped by
# Ctrl-C ends with STATUS_CONTROL_C_EXIT (0xC000013A), of which a POSIX
# parent sees the low byte, 58.
mkdir scratch4 && cd scratch4 || exit 1
printf 'MIO0\377\377\377\377\0\0\0\20\0\0\0\20' >../hugeD
truncate -s 3G ../zeros
printf 'old' >dest
for command in "$DECODE ../hugeD 0" "$SWAP ../zeros -v"; do
    # shellcheck disable=SC2086
    $command dest >../stdout 2>&1 &
    pid=$!
    # Once the temporary file is there, the handler is in place.
    for _ in $(seq 200); do
        [ "$(ls -A | wc -l)" -gt 1 ] && break
        sleep 0.05
    done
    [ "$(ls -A | wc -l)" -gt 1 ] || fail "no temporary file appeared for: $command"
    sleep 0.2
    kill -INT "$pid"
    wait "$pid"
    status=$?
    expect_status 58
    printf 'old' | cmp -s - dest || fail "dest changed after: $command"
    expect_entries dest
done
rm -f ../zeros
cd .. || exit 1

begin "a file past 4 GiB: the block at the last offset there is, read across 2^32"
# Offset 4294967295 read through a 32-bit signed position would go wrong,
# and the block's bytes lie on both sides of 2^32.
truncate -s 4294967295 far
cat block19 >>far
run "$DECODE" far 4294967295 far.out
expect_status 0
expect_same far.out block19.expected
run "$DECODE" far 4294967294 far.none
expect_stdout $'\nData is not MIO0\n'
rm -f far

summary
