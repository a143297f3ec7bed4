# Shared helpers of the command-line tests. Each script is run as
#   bash SCRIPT MIO0_DECODE BYTE_SWAP MIO0_ENCODE
# and ends with a "N passed, N failed" line; any failure makes it exit 1.
set -u
DECODE=$(realpath "$1")
SWAP=$(realpath "$2")
ENCODE=$(realpath "$3")
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

passed=0
failed=0
current=""
case_failed=0

# begin NAME: starts a named case; its checks report under that name.
begin() {
    finish_case
    current=$1
    case_failed=0
}

finish_case() {
    if [ -n "$current" ]; then
        if [ "$case_failed" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    fi
    current=""
}

fail() {
    echo "FAIL [$current]: $*"
    case_failed=1
}

# run CMD...: runs with no standard input; sets $status, and leaves the
# output in $WORK/stdout and $WORK/stderr.
run() {
    "$@" >"$WORK/stdout" 2>"$WORK/stderr" </dev/null
    status=$?
}

expect_status() {
    [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"
}

# expect_stdout TEXT: standard output is exactly TEXT (use $'...' for \n).
expect_stdout() {
    printf '%s' "$1" >"$WORK/expected"
    if ! cmp -s "$WORK/stdout" "$WORK/expected"; then
        fail "standard output differs: got $(od -c "$WORK/stdout" | head -5), expected $(od -c "$WORK/expected" | head -5)"
    fi
}

expect_stderr() {
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

# The sanitizer runtimes reserve terabytes of address space, so address
# space limits (ulimit -v) only apply to plain builds.
sanitized() {
    [ "${MIO0_SANITIZED:-0}" = 1 ]
}

summary() {
    finish_case
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
