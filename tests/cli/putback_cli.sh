# mio0-encode InFile ImageFile offset: a block put back in its own storage,
# what it may and may not change in the image, and its refusals.
. "$(dirname "$0")/lib.sh"

# text FILE SEED LINES: deterministic text that compresses moderately.
text() {
    awk -v seed="$2" -v lines="$3" 'BEGIN {
        srand(seed)
        for (i = 0; i < lines; i++) {
            line = ""
            for (w = 0; w < 6; w++) line = line sprintf("w%d ", int(rand() * 40))
            print line i
        }
    }' >"$1"
}

# noise FILE SEED COUNT: COUNT bytes that do not compress.
noise() {
    LC_ALL=C awk -v seed="$2" -v n="$3" 'BEGIN { srand(seed); for (i = 0; i < n; i++) printf "%c", 1 + int(rand() * 255) }' \
        >"$1"
}

size_of() { stat -c %s "$1"; }

# data_with_parity FILE PARITY SEED: text whose block has PARITY (0 even,
# 1 odd) bytes; FILE.mio0 is that block.
data_with_parity() {
    local seed=$3
    for lines in $(seq 20 60); do
        text "$1" "$seed" "$lines"
        "$ENCODE" "$1" "$1.mio0" >/dev/null
        [ $(( $(size_of "$1.mio0") % 2 )) -eq "$2" ] && return 0
    done
    return 1
}

# variant_of_size FILE SOURCE SIZE: SOURCE with one word changed, so that
# its block is exactly SIZE bytes; false when no such variant is found.
variant_of_size() {
    local k
    for k in $(seq 1 200); do
        sed "${k}s/w[0-9]*/zz/" "$2" >"$1"
        cmp -s "$1" "$2" && continue
        "$ENCODE" "$1" "$1.mio0" >/dev/null
        [ "$(size_of "$1.mio0")" -eq "$3" ] && return 0
    done
    return 1
}

# logical IMAGE OFFSET STORAGE: the image from OFFSET on, as the block's
# storage reads it (pairs counted from OFFSET).
logical() {
    if [ "$3" = IM0O ]; then
        tail -c +$(($2 + 1)) "$1" >"$WORK/tail.bin"
        "$SWAP" "$WORK/tail.bin" -v
    else
        tail -c +$(($2 + 1)) "$1"
    fi
}

# check_put_back BEFORE AFTER OFFSET STORAGE OLD NEWDATA: AFTER is BEFORE
# with the block at OFFSET (extent OLD) replaced by the block of NEWDATA.
check_put_back() {
    local before=$1 after=$2 offset=$3 storage=$4 old=$5 data=$6 new keep=0
    new=$(size_of "$data.mio0")
    [ "$(size_of "$after")" -eq "$(size_of "$before")" ] || fail "the image changed size"
    cmp -s <(head -c "$offset" "$before") <(head -c "$offset" "$after") || fail "bytes before the extent changed"
    cmp -s <(tail -c +$((offset + old + 1)) "$before") <(tail -c +$((offset + old + 1)) "$after") ||
        fail "bytes after the extent changed"
    "$DECODE" "$after" "$offset" "$WORK/decoded" >/dev/null || fail "the new block does not decode"
    cmp -s "$WORK/decoded" "$data" || fail "the new block decodes to other bytes"
    logical "$after" "$offset" "$storage" >"$WORK/view.after"
    logical "$before" "$offset" "$storage" >"$WORK/view.before"
    cmp -s <(head -c "$new" "$WORK/view.after") "$data.mio0" || fail "the new block is not stored as written"
    # In pair-swapped storage with an odd extent and a byte after it, the
    # extent's last byte is stored after the extent and stays as it was.
    if [ "$storage" = IM0O ] && [ $((old % 2)) -eq 1 ] && [ $((offset + old)) -lt "$(size_of "$before")" ]; then
        keep=1
    fi
    if [ "$new" -lt $((old - keep)) ]; then
        cmp -s <(head -c $((old - keep)) "$WORK/view.after" | tail -c +$((new + 1))) \
            <(head -c $((old - keep - new)) /dev/zero) || fail "the rest of the extent is not zero"
    fi
    cmp -s <(tail -c +$((old + 1)) "$WORK/view.before") <(tail -c +$((old + 1)) "$WORK/view.after") ||
        fail "what follows the block, as its storage reads it, changed"
}

usage() {
    printf '\nSyntax:\n%s InFile OutFile\n%s InFile ImageFile offset\n\n' "$1" "$1"
    printf '    InFile     The name of the file to compress\n'
    printf '    OutFile    The file that receives the MIO0 block\n'
    printf '    ImageFile  The file whose block at offset is replaced\n'
    printf '    offset     The offset of that block, decimal or 0x and hexadecimal\n'
}

noise prefix 1 200
noise suffix 2 333

begin "usage text names both forms"
run "$ENCODE" a b c d
expect_status 2
usage "$ENCODE" >usage.expected
cmp -s "$WORK/stdout" usage.expected || fail "usage: $(cat "$WORK/stdout")"

# Every combination of storage, parity of the old extent, and a new block
# shorter than, as long as and longer than the old one; with bytes after
# the block and with the block at the very end of the image.
for storage in MIO0 IM0O; do
    for parity in 0 1; do
        for tail in suffix end; do
            begin "$storage, old extent of parity $parity, block followed by: $tail"
            data_with_parity old "$parity" $((parity * 10 + 3)) || { fail "no data of parity $parity"; continue; }
            old=$(size_of old.mio0)
            if [ "$tail" = suffix ]; then
                cat prefix old.mio0 suffix >image.normal
            else
                cat prefix old.mio0 >image.normal
            fi
            if [ "$storage" = IM0O ]; then
                "$SWAP" image.normal -v image
            else
                cp image.normal image
            fi
            offset=$(size_of prefix)

            head -n 10 old >shorter
            "$ENCODE" shorter shorter.mio0
            cp image before
            run "$ENCODE" shorter image "$offset"
            expect_status 0
            expect_silent
            check_put_back before image "$offset" "$storage" "$old" shorter

            # The last byte of an odd pair-swapped extent lies in the byte
            # after it, which is never changed: a block that needs another
            # byte there does not fit, so such an extent has a byte less room.
            straddles=0
            if [ "$storage" = IM0O ] && [ "$parity" = 1 ] && [ "$tail" = suffix ]; then
                straddles=1
            fi
            cp before image
            cat old old >longer
            "$ENCODE" longer longer.mio0
            run "$ENCODE" longer image "$offset"
            expect_status 1
            expect_stdout $'\nBlock does not fit: '"$(size_of longer.mio0)"' bytes, room for '$((old - straddles))$'\n'
            expect_same image before

            if variant_of_size equal old "$old"; then
                run "$ENCODE" equal image "$offset"
                # Unless the block's last byte is that byte already.
                if [ "$straddles" = 1 ] && ! cmp -s <(tail -c 1 equal.mio0) \
                        <(tail -c +$((offset + old + 1)) before | head -c 1); then
                    expect_status 1
                    expect_stdout $'\nBlock does not fit: '"$old"' bytes, room for '$((old - 1))$'\n'
                    expect_same image before
                else
                    expect_status 0
                    check_put_back before image "$offset" "$storage" "$old" equal
                fi
            else
                fail "no variant with a block of $old bytes"
            fi
        done
    done
done

begin "the same data put back leaves the image as it was, in both storages"
text same 5 30
"$ENCODE" same same.mio0
cat prefix same.mio0 suffix >image
"$SWAP" image -v image.swapped
for f in image image.swapped; do
    cp "$f" "$f.before"
    run "$ENCODE" same "$f" 200
    expect_status 0
    expect_same "$f" "$f.before"
done

begin "an offset where no block decodes: not MIO0, image unchanged"
cp image before
for offset in 0 199 201 0x10000; do
    run "$ENCODE" same image "$offset"
    expect_status 1
    expect_stdout $'\nData is not MIO0\n'
    expect_same image before
done

begin "an offset that is not a number: invalid offset, image unchanged"
for offset in "" abc -1 0x 4294967296 " 200"; do
    run "$ENCODE" same image "$offset"
    expect_status 2
    expect_stdout $'\nInvalid offset\n'
    expect_same image before
done

begin "the offset in hexadecimal, as the listing prints it"
run "$ENCODE" shorter image 0x000000C8
expect_status 0
"$DECODE" image 200 back >/dev/null
expect_same back shorter

begin "files that cannot be read"
cp before image
run "$ENCODE" no-such-input image 200
expect_status 1
expect_stdout $'\nCould not open input file\n'
expect_same image before
run "$ENCODE" same no-such-image 200
expect_status 1
expect_stdout $'\nCould not open file\n'
expect_absent no-such-image
mkdir adir
run "$ENCODE" same adir 200
expect_status 1
expect_stdout $'\nCould not open file\n'

# be32 N: N as four big-endian bytes.
be32() { printf "\\$(printf %03o $(($1 >> 24 & 255)))\\$(printf %03o $(($1 >> 16 & 255)))\\$(printf %03o $(($1 >> 8 & 255)))\\$(printf %03o $(($1 & 255)))"; }

begin "a block inside another block's literals"
noise inner.data 7 300
"$ENCODE" inner.data inner.mio0
{ head -c 100 suffix; cat inner.mio0; head -c 100 prefix; } >outer.data
head -c $(( (8 - $(size_of outer.data) % 8) % 8 )) prefix >>outer.data
# An outer block of literals alone, so that the inner block's bytes stand
# in it as they are.
count=$(size_of outer.data)
{ printf 'MIO0'; be32 "$count"; be32 $((16 + count / 8)); be32 $((16 + count / 8))
  head -c $((count / 8)) /dev/zero | tr '\0' '\377'; cat outer.data; } >outer.mio0
cat prefix outer.mio0 suffix >nested
"$DECODE" nested list nested.list >/dev/null
inner=$(awk -F'\t' '$4 == 300 { print $1 }' nested.list)
if [ -z "$inner" ] || ! grep -q "^200	.*	$count	" nested.list; then
    fail "the listing lacks the nested blocks: $(cat nested.list)"
else
    inner_old=$(awk -F'\t' '$1 == '"$inner"' { print $5 }' nested.list)
    head -c 250 inner.data >inner.new
    "$ENCODE" inner.new inner.new.mio0
    cp nested before
    run "$ENCODE" inner.new nested "$inner"
    expect_status 0
    check_put_back before nested "$inner" MIO0 "$inner_old" inner.new
fi

begin "an image that is a symbolic link: the link stays, its target changes"
cat prefix same.mio0 suffix >target.bin
cp target.bin before
ln -s target.bin link.bin
run "$ENCODE" shorter link.bin 200
expect_status 0
[ -L link.bin ] || fail "link.bin is no longer a symbolic link"
check_put_back before target.bin 200 MIO0 "$(size_of same.mio0)" shorter

begin "every listed block replaced by changed data and decoded back"
: >many.normal
for k in 1 2 3 4 5; do
    text "piece$k" $((k + 20)) $((k * 7 + 10))
    "$ENCODE" "piece$k" "piece$k.mio0"
    # Blocks at even offsets, which a file swapped whole keeps readable.
    head -c $((k * 2 + $(size_of many.normal) % 2)) prefix >>many.normal
    cat "piece$k.mio0" >>many.normal
done
cat suffix >>many.normal
"$SWAP" many.normal -v many.swapped
for image in many.normal many.swapped; do
    "$DECODE" "$image" list "$image.list" >/dev/null
    rows=0
    while IFS=$'\t' read -r offset _ storage size stored; do
        [ "$offset" = offset ] && continue
        rows=$((rows + 1))
        "$DECODE" "$image" "$offset" original >/dev/null
        sed 's/w1/W1/g; 3,6d' original >changed
        run "$ENCODE" changed "$image" "$offset"
        if [ "$status" -ne 0 ]; then
            fail "block at $offset of $image ($storage, $size, $stored): $(cat "$WORK/stdout")"
            continue
        fi
        "$DECODE" "$image" "$offset" back >/dev/null
        cmp -s back changed || fail "block at $offset of $image does not decode to the changed data"
    done <"$image.list"
    [ "$rows" -ge 5 ] || fail "only $rows blocks listed in $image"
done

begin "an image named through a descriptor of itself: put back, or left whole"
# /dev/fd/N and /dev/stdout leading to a regular file are written in place,
# truncated at the open, while the put-back still copies the image from it.
if posix_only "/dev/fd is POSIX"; then
    cat prefix same.mio0 suffix >fd.image
    cp fd.image fd.before
    run bash -c 'exec "$0" "$1" /dev/fd/3 200 3<>fd.image' "$ENCODE" shorter
    if [ "$status" -eq 0 ]; then
        check_put_back fd.before fd.image 200 MIO0 "$(size_of same.mio0)" shorter
    else
        expect_same fd.image fd.before
    fi
fi

begin "an image that is a FIFO: could not open file, without waiting for a writer"
if posix_only "FIFOs are POSIX"; then
    mkfifo image.fifo
    run timeout 10 "$ENCODE" same image.fifo 0
    expect_status 1
    expect_stdout $'\nCould not open file\n'
    rm -f image.fifo
fi

begin "no temporary files are left behind"
leftovers=$(find . -maxdepth 1 -name '*.tmp*' -o -maxdepth 1 -name '.*' ! -name . | head -5)
[ -z "$leftovers" ] || fail "left behind: $leftovers"

summary
