# How every program writes its destination: replaced whole through a
# temporary file beside it, or written directly when it is no regular file.
# Each case checks the message, the exit status, the bytes of the old
# destination, and that no temporary file is left in the directory.
. "$(dirname "$0")/lib.sh"

# D = 1000000 from one literal "z": a decode that writes past small limits.
printf 'MIO0\0\17\102\100\0\0\0\24\0\0\0\24\200\0\0\0z\0' >bigtail
head -c 300000 /dev/urandom >noise
printf 'old bytes' >old

# Each program, with an input whose result is larger than 100 KiB:
#   produce PROGRAM INPUT DEST  runs it; source PROGRAM names the input;
#   write_failure PROGRAM is its message for a failed write.
programs="decode swap encode"
source_of() { case $1 in decode) echo bigtail ;; *) echo noise ;; esac; }
produce() {
    case $1 in
    decode) echo "$DECODE" "$2" 0 "$3" ;;
    swap) echo "$SWAP" "$2" -v "$3" ;;
    encode) echo "$ENCODE" "$2" "$3" ;;
    esac
}
write_failure() {
    case $1 in
    swap) printf '\nCould not write output file\n' ;;
    *) printf '\nCould not write the file\n' ;;
    esac
}
# limited PROGRAM INPUT DEST: the run under a 100 KiB file size limit.
limited() {
    # shellcheck disable=SC2046
    run bash -c 'ulimit -f 100; exec "$@"' limited $(produce "$1" "$2" "$3")
}

# expect_no_temporaries [DIR]: nothing hidden is left beside the files.
expect_no_temporaries() {
    local left
    left=$(find "${1:-.}" -maxdepth 1 -name '.*' ! -name . -printf '%f ')
    [ -z "$left" ] || fail "left in ${1:-.}: $left"
}

inode() { stat -c %i "$1"; }

begin "a failed write leaves a new destination absent and an old one whole, however it is named"
if posix_only "file size limits (ulimit -f) are POSIX"; then
    for p in $programs; do
        src=$(source_of $p)
        write_failure $p >failure.expected

        limited $p $src new.$p
        expect_status 1
        expect_same "$WORK/stdout" failure.expected
        expect_absent new.$p

        cp old existing.$p
        limited $p $src existing.$p
        expect_status 1
        expect_same "$WORK/stdout" failure.expected
        expect_same existing.$p old

        cp old target.$p
        ln -s target.$p link.$p
        limited $p $src link.$p
        expect_status 1
        [ -L link.$p ] && [ "$(readlink link.$p)" = target.$p ] || fail "$p: link.$p is no longer the link"
        expect_same target.$p old

        cp $src inplace.$p
        limited $p inplace.$p inplace.$p
        expect_status 1
        expect_same "$WORK/stdout" failure.expected
        expect_same inplace.$p $src

        cp $src hard.$p
        ln hard.$p hard2.$p
        limited $p hard.$p hard2.$p
        expect_status 1
        expect_same hard2.$p $src
        [ "$(inode hard.$p)" = "$(inode hard2.$p)" ] || fail "$p: the hard link was broken"
    done
    expect_no_temporaries
fi

begin "a destination whose directory cannot be written: the write-failure message, the file kept"
if posix_only "directory permissions and chattr are POSIX"; then
    mkdir locked
    cp old locked/out
    cp old locked/out2
    chmod 555 locked
    # root writes any directory; an immutable one refuses even root.
    if [ "$(id -u)" -eq 0 ] && ! chattr +i locked 2>/dev/null; then
        echo "skipped: root, and no immutable directories here"
    else
        run "$SWAP" noise -v locked/out
        expect_status 1
        expect_stdout $'\nCould not write output file\n'
        expect_same locked/out old
        run "$DECODE" bigtail 0 locked/out2
        expect_status 1
        expect_stdout $'\nCould not write the file\n'
        expect_same locked/out2 old
        # A new file there cannot be opened at all.
        run "$SWAP" noise -v locked/new
        expect_status 1
        expect_stdout $'\nCould not open output file\n'
        expect_absent locked/new
        expect_no_temporaries locked
        [ "$(id -u)" -eq 0 ] && chattr -i locked
    fi
    chmod 755 locked
fi

begin "a successful run: links stay links, modes are kept, a hard link's other name keeps the old bytes"
if posix_only "modes, symbolic and hard links as tested here are POSIX"; then
    printf '\1\2\3\4\5' >five
    printf '\2\1\4\3\5' >five.swapped
    cp old target
    ln -s target link
    ln -s link link.link
    run "$SWAP" five -v link.link
    expect_status 0
    expect_silent
    [ -L link ] && [ -L link.link ] || fail "a link was replaced"
    expect_same target five.swapped
    # A link to a file that does not exist yet creates that file.
    ln -s made dangling
    run "$SWAP" five -v dangling
    expect_status 0
    [ -L dangling ] || fail "dangling is no longer a link"
    expect_same made five.swapped

    cp old moded
    chmod 604 moded
    run "$SWAP" five -v moded
    [ "$(stat -c %a moded)" = 604 ] || fail "mode $(stat -c %a moded), expected 604"
    run bash -c 'umask 027; exec "$0" "$@"' "$SWAP" five -v fresh
    [ "$(stat -c %a fresh)" = 640 ] || fail "new file mode $(stat -c %a fresh), expected 640 (0666 less umask 027)"

    cp five one
    ln one other
    run "$SWAP" one -v one
    expect_status 0
    expect_same one five.swapped
    expect_same other five
    expect_no_temporaries
fi

begin "in place, every program keeps its result"
cp noise inplace
run "$ENCODE" inplace inplace
expect_status 0
run "$DECODE" inplace 0 inplace
expect_status 0
expect_same inplace noise
cp noise inplace
ln -s inplace inplace.link
run "$SWAP" inplace.link -v inplace
run "$SWAP" inplace -v inplace.link
expect_status 0
expect_same inplace noise
[ -L inplace.link ] || fail "inplace.link is no longer a link"
expect_no_temporaries

begin "devices and FIFOs are written directly and never removed"
if posix_only "/dev/full and FIFOs are POSIX"; then
    for p in $programs; do
        # shellcheck disable=SC2046
        run $(produce $p $(source_of $p) /dev/full)
        expect_status 1
        write_failure $p >failure.expected
        expect_same "$WORK/stdout" failure.expected
        [ -c /dev/full ] || fail "/dev/full is gone"
    done
    mkfifo fifo
    cat fifo >from.fifo &
    reader=$!
    run "$SWAP" five -v fifo
    expect_status 0
    expect_silent
    wait $reader
    expect_same from.fifo five.swapped
    # A reader that stops early: the writer ends as SIGPIPE would end it.
    head -c 10 fifo >/dev/null &
    reader=$!
    run "$DECODE" bigtail 0 fifo
    expect_status 141
    wait $reader
    [ -p fifo ] || fail "fifo is no longer a FIFO"
    expect_no_temporaries
fi

begin "/dev/stdout and /dev/fd/N: a pipe gets the bytes; a regular file is written, never unlinked"
if posix_only "/dev/stdout and /dev/fd are POSIX"; then
    run bash -c '"$0" five -v /dev/stdout | cat' "$SWAP"
    expect_status 0
    expect_same "$WORK/stdout" five.swapped
    run bash -c 'set -o pipefail; "$0" bigtail 0 /dev/stdout | head -c 3' "$DECODE"
    expect_status 141
    printf 'z\0\0' >three.expected
    expect_same "$WORK/stdout" three.expected
    cp old fd.out
    before=$(inode fd.out)
    run bash -c '"$0" five -v /dev/fd/3 3>fd.out' "$SWAP"
    expect_status 0
    expect_silent
    expect_same fd.out five.swapped
    [ "$(inode fd.out)" = "$before" ] || fail "fd.out was replaced, not written"
    run bash -c 'ulimit -f 100; exec "$0" bigtail 0 /dev/fd/3 3>fd.out' "$DECODE"
    expect_status 1
    expect_stdout $'\nCould not write the file\n'
    [ -f fd.out ] && [ ! -s fd.out ] || fail "fd.out is not left empty"
    [ "$(inode fd.out)" = "$before" ] || fail "fd.out was replaced"
    expect_no_temporaries

    # signal_mid_write SIGNAL DEST CMD...: starts CMD, waits until its
    # temporary file beside DEST holds 16 MiB, sends SIGNAL, and sets $status.
    signal_mid_write() {
        local signal=$1 dest=$2 pid waited=0 size
        shift 2
        # Background jobs of a script start with SIGINT ignored; the programs
        # keep an ignored signal ignored, so give them the default action.
        env --default-signal "$@" >"$WORK/stdout" 2>"$WORK/stderr" </dev/null &
        pid=$!
        while :; do
            size=$(find . -maxdepth 1 -name ".$dest.*" -printf '%s\n' 2>/dev/null | head -n 1)
            [ "${size:-0}" -ge $((16 << 20)) ] && break
            if ! kill -0 $pid 2>/dev/null || [ $waited -ge 3000 ]; then
                fail "no temporary file of 16 MiB appeared"
                break
            fi
            sleep 0.01
            waited=$((waited + 1))
        done
        kill -s "$signal" $pid 2>/dev/null
        wait $pid
        status=$?
    }
fi

begin "a closed standard descriptor: its /dev name is refused, and the input that took its number is kept"
# With descriptor N closed, the input opens as N, and /dev/stdout (or
# /dev/stdin, /dev/stderr) would then name the input itself.
if posix_only "closed descriptors and /dev/stdout are POSIX"; then
    printf 'abcdefgh' >eight
    for fd in 0 1 2; do
        dest=$(case $fd in 0) echo /dev/stdin ;; 1) echo /dev/stdout ;; 2) echo /dev/stderr ;; esac)
        for p in decode list swap encode; do
            case $p in
            decode | list) cp bigtail closed.in ;;
            *) cp eight closed.in ;;
            esac
            cp closed.in closed.before
            case $p in
            decode) run bash -c 'exec "$0" closed.in 0 "$1" '"$fd"'>&-' "$DECODE" "$dest" ;;
            list) run bash -c 'exec "$0" closed.in list "$1" '"$fd"'>&-' "$DECODE" "$dest" ;;
            swap) run bash -c 'exec "$0" closed.in -v "$1" '"$fd"'>&-' "$SWAP" "$dest" ;;
            encode) run bash -c 'exec "$0" closed.in "$1" '"$fd"'>&-' "$ENCODE" "$dest" ;;
            esac
            expect_status 1
            cmp -s closed.in closed.before || fail "$p to $dest with descriptor $fd closed changed its input"
        done
    done
    # A closed standard error does not take the destination's place either.
    run bash -c 'exec "$0" bigtail 0 closed.out 2>&-' "$DECODE"
    expect_status 0
    [ "$(stat -c %s closed.out)" -eq 1000000 ] || fail "closed.out holds $(stat -c %s closed.out) bytes"
    expect_no_temporaries
    rm -f closed.in closed.before closed.out
fi

begin "SIGINT and SIGTERM in the middle of a 1 GiB write: the temporary file removed, the old destination whole"
if posix_only "POSIX signals"; then
    printf 'MIO0\100\0\0\0\0\0\0\20\0\0\0\20' >gigabyte.mio0
    truncate -s 1G sparse
    for signal in INT TERM; do
        code=$((128 + $(kill -l $signal)))
        cp old dest.decode
        signal_mid_write $signal dest.decode "$DECODE" gigabyte.mio0 0 dest.decode
        expect_status $code
        expect_same dest.decode old
        cp old dest.swap
        signal_mid_write $signal dest.swap "$SWAP" sparse -v dest.swap
        expect_status $code
        expect_same dest.swap old
        signal_mid_write $signal dest.new "$SWAP" sparse -z dest.new
        expect_status $code
        expect_absent dest.new
        expect_no_temporaries
    done
    rm -f sparse .dest.*
fi

begin "two runs writing one name at once: both succeed, and the file holds one whole result"
# The same size, and different bytes throughout: zeros, and a copy of ab.
printf 'MIO0\4\0\0\0\0\0\0\20\0\0\0\20' >zeros.mio0
yes ab | head -c $((64 << 20)) >ab
for _ in 1 2 3; do
    "$DECODE" zeros.mio0 0 shared &
    first=$!
    "$SWAP" ab -z shared &
    second=$!
    wait $first || fail "the decoder failed"
    wait $second || fail "byte-swap failed"
    [ "$(stat -c %s shared)" -eq $((64 << 20)) ] || fail "shared holds $(stat -c %s shared) bytes"
    cmp -s shared ab || cmp -s -n $((64 << 20)) shared /dev/zero || fail "shared holds neither result"
done
expect_no_temporaries
rm -f ab shared

begin "an input truncated while the encoder runs: no crash, a block of what was read"
# Cut while it is read or while it is encoded: a mapped input would end
# the encoder with SIGBUS in the second case.
yes 'a line of text that repeats, 0123456789' | head -c $((32 << 20)) >whole
for delay in 0.005 0.05; do
    cp whole shrinking
    "$ENCODE" shrinking shrinking.mio0 >"$WORK/stdout" 2>"$WORK/stderr" </dev/null &
    pid=$!
    sleep $delay
    truncate -s 4096 shrinking
    wait $pid
    status=$?
    expect_status 0
    expect_silent
    run "$DECODE" shrinking.mio0 0 shrinking.back
    expect_status 0
    # What a read racing the truncation returns past the new end is the
    # kernel's affair; the first 4096 bytes are never touched.
    size=$(stat -c %s shrinking.back)
    [ "$size" -ge 4096 ] && [ "$size" -le $((32 << 20)) ] || fail "the block holds $size bytes"
    cmp -s -n 4096 shrinking.back whole || fail "the block does not start with the input"
done
expect_no_temporaries
rm -f whole shrinking shrinking.back

summary
