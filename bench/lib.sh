# Helpers of the benchmark scripts: whole-process wall time (median of
# several runs, page cache warm) and peak resident memory.
set -euo pipefail
RUNS=${RUNS:-7}
BUILD=${BUILD:-$(cd "$(dirname "$0")/.." && pwd)/build/release}

# median_seconds CMD...: runs CMD $RUNS times, prints the median wall time.
median_seconds() {
    local times=() start end
    for _ in $(seq "$RUNS"); do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        times+=($((end - start)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { printf "%.4f", t[int((NR + 1) / 2)] / 1e9 }'
}

# peak_kib CMD...: the peak resident set of CMD, in KiB.
peak_kib() {
    /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# verdict NAME VALUE LIMIT: prints whether VALUE <= LIMIT.
verdict() {
    if awk -v v="$2" -v l="$3" 'BEGIN { exit !(v <= l) }'; then
        echo "  $1: $2 (target <= $3): met"
    else
        echo "  $1: $2 (target <= $3): MISSED"
    fi
}
