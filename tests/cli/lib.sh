# Shared helpers of the command-line tests. Each script is run as
#   bash SCRIPT MIO0_DECODE BYTE_SWAP MIO0_ENCODE
# and ends with a "N passed, N failed, N skipped" line; any failure makes
# it exit 1.
#
# With MIO0_RUNNER set (for the .exe files of a Windows build, the Wine
# loader), every program is started through that command: DECODE, SWAP
# and ENCODE are then small scripts that do so, and run the programs with
# any arguments, from any shell, like the programs themselves.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
WRAPPERS=$(mktemp -d)
trap 'rm -rf "$WORK" "$WRAPPERS"' EXIT

# Programs built for Windows: their messages end with CR LF, and the cases
# that need a POSIX system are skipped.
WINDOWS=0
case "$1" in *.exe) WINDOWS=1 ;; esac

# program PATH: the command that starts the program at PATH.
program() {
    local real name
    real=$(realpath "$1")
    if [ -z "${MIO0_RUNNER:-}" ]; then
        echo "$real"
        return
    fi
    name=$(basename "$real" .exe)
    printf '#!/usr/bin/env bash\nexec %s %q "$@"\n' "$MIO0_RUNNER" "$real" >"$WRAPPERS/$name"
    chmod +x "$WRAPPERS/$name"
    echo "$WRAPPERS/$name"
}
DECODE=$(program "$1")
SWAP=$(program "$2")
ENCODE=$(program "$3")
# Windows programs see their own path in Windows form (Wine's Z: drive is
# the root), and print it so in their usage text.
PROGRAMS_SEEN=()
for p in "$1" "$2" "$3"; do
    real=$(realpath "$p")
    PROGRAMS_SEEN+=("Z:${real//\//\\}")
done
cd "$WORK" || exit 1

passed=0
failed=0
skipped=0
current=""
case_failed=0
skipping=0

# begin NAME: starts a named case; its checks report under that name.
begin() {
    finish_case
    current=$1
    case_failed=0
    skipping=0
}

finish_case() {
    if [ -n "$current" ]; then
        if [ "$skipping" -eq 1 ]; then
            skipped=$((skipped + 1))
        elif [ "$case_failed" -eq 0 ]; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
        fi
    fi
    current=""
}

# posix_only REASON: on Windows, skips the current case with REASON
# printed, and returns 1. From there to the next begin, run and the checks
# do nothing; any other command of the case still runs, so a case that
# waits on a FIFO or a background program puts those inside
#   if posix_only REASON; then ... fi
posix_only() {
    if [ "$WINDOWS" -eq 1 ]; then
        echo "SKIP [$current]: $1"
        skipping=1
        return 1
    fi
}

is_skipping() {
    [ "$skipping" -eq 1 ]
}

fail() {
    is_skipping && return
    echo "FAIL [$current]: $*"
    case_failed=1
}

# run CMD...: runs with no standard input; sets $status, and leaves the
# output in $WORK/stdout and $WORK/stderr.
#
# Windows programs write their messages in text mode, each line ending in
# CR LF; those become LF here, and the programs' Windows paths the names
# the tests started them by, so that the checks are the same everywhere.
# Only what byte-swap writes to standard output (two arguments) when it
# succeeds is left as written: the result, whose bytes must arrive
# exactly. When it fails, what is there is its message.
run() {
    if is_skipping; then
        status=0
        return
    fi
    "$@" >"$WORK/stdout" 2>"$WORK/stderr" </dev/null
    status=$?
    if [ "$WINDOWS" -eq 1 ]; then
        if [ "$1" != "$SWAP" ] || [ $# -ne 3 ] || [ "$status" -ne 0 ]; then
            as_posix_text "$WORK/stdout"
        fi
        as_posix_text "$WORK/stderr"
    fi
}

as_posix_text() {
    DECODE_SEEN=${PROGRAMS_SEEN[0]} SWAP_SEEN=${PROGRAMS_SEEN[1]} ENCODE_SEEN=${PROGRAMS_SEEN[2]} \
        DECODE="$DECODE" SWAP="$SWAP" ENCODE="$ENCODE" \
        perl -0777 -pi -e 's/\r\n/\n/g;
            s/\Q$ENV{DECODE_SEEN}\E/$ENV{DECODE}/g;
            s/\Q$ENV{SWAP_SEEN}\E/$ENV{SWAP}/g;
            s/\Q$ENV{ENCODE_SEEN}\E/$ENV{ENCODE}/g' "$1"
}

expect_status() {
    is_skipping && return
    [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"
}

# expect_stdout TEXT: standard output is exactly TEXT (use $'...' for \n).
expect_stdout() {
    is_skipping && return
    printf '%s' "$1" >"$WORK/expected"
    if ! cmp -s "$WORK/stdout" "$WORK/expected"; then
        fail "standard output differs: got $(od -c "$WORK/stdout" | head -5), expected $(od -c "$WORK/expected" | head -5)"
    fi
}

expect_stderr() {
    is_skipping && return
    printf '%s' "$1" >"$WORK/expected"
    cmp -s "$WORK/stderr" "$WORK/expected" || fail "standard error differs: got $(od -c "$WORK/stderr" | head -5)"
}

expect_silent() {
    expect_stdout ""
    [ ! -s "$WORK/stderr" ] || fail "printed to standard error: $(head -c 300 "$WORK/stderr")"
}

expect_same() {
    cmp -s "$1" "$2" || fail "$1 and $2 differ"
}

expect_absent() {
    [ ! -e "$1" ] || fail "$1 exists"
}

# The sanitizer runtimes reserve terabytes of address space, and so does
# Wine, so address space limits (ulimit -v) only apply to plain builds on
# POSIX systems.
sanitized() {
    if [ "$WINDOWS" -eq 1 ]; then
        echo "NOTE [$current]: without its address space limit (ulimit -v), which Wine cannot run under"
        return 0
    fi
    [ "${MIO0_SANITIZED:-0}" = 1 ]
}

summary() {
    finish_case
    echo "$passed passed, $failed failed, $skipped skipped"
    [ "$failed" -eq 0 ]
}
