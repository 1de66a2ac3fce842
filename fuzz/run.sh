#!/bin/sh
# Builds the fuzz targets (when needed) and fuzzes one target or all of them, each for the
# given time, with its dictionary, on a scratch copy of its seed corpus. Prints per target
# the executions, executions per second and the new crash, leak and timeout files, which
# are kept under fuzz/findings/<target>/ (with the fuzzer's log).
#
#   fuzz/run.sh [TARGET|all] [SECONDS]        (default: all, 60 seconds each)
#   FUZZ_BUILD=DIR      build folder (default: build-fuzz beside this folder)
#   FUZZ_PARALLEL=N     targets fuzzed at once by "all" (default 1)
#   FUZZ_KEEP=1         keep the scratch corpora (their folders are printed)
#
# Exit status: 0 no findings, 1 findings, 2 a bad command line or a failed build.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${FUZZ_BUILD:-$here/../build-fuzz}
parallel=${FUZZ_PARALLEL:-1}
targets="config expression path document wizard regfile profile pe component wininit inf device"

which=${1:-all}
seconds=${2:-60}
case $seconds in ''|*[!0-9]*) echo "run.sh: SECONDS must be a whole number" >&2; exit 2 ;; esac
if [ "$which" = all ]; then
    selected=$targets
else
    case " $targets " in *" $which "*) selected=$which ;; *) echo "run.sh: unknown target $which (one of: $targets, all)" >&2; exit 2 ;; esac
fi

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja >/dev/null || exit 2
fi
for t in $selected; do
    nice -n 10 cmake --build "$build" --target "fuzz_$t" >/dev/null || { echo "run.sh: building fuzz_$t failed" >&2; exit 2; }
done

# Longest input the fuzzer makes, per target: enough to pass every length limit of the
# parsers (1,024-byte values, deep nesting, registry keys 512 levels deep) without spending
# the time on huge inputs.
max_len() {
    case $1 in
    document|wizard) echo 16384 ;;
    regfile|pe) echo 8192 ;;
    *) echo 4096 ;;
    esac
}

# Fuzzes one target; writes its summary line to $2.
fuzz_one() {
    t=$1
    summary=$2
    findings=$here/findings/$t
    mkdir -p "$findings"
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/winsteps-fuzz-$t.XXXXXX")
    cp "$here/corpus/$t/"* "$scratch/"
    before=$(find "$findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
    log=$findings/fuzz.log
    status=0
    QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS=print_stacktrace=1 \
        nice -n 10 "$build/fuzz_$t" "$scratch" \
        -dict="$here/dict/$t.dict" -max_total_time="$seconds" -max_len="$(max_len "$t")" \
        -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 -print_final_stats=1 \
        -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?
    after=$(find "$findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    new_units=$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -n 1)
    found=$((after - before))
    line=$(printf '%-11s %10s executions %7s exec/s %6s new inputs %3d findings' \
        "$t" "${runs:-?}" "${rate:-?}" "${new_units:-?}" "$found")
    if [ "$found" -gt 0 ] || [ "$status" -ne 0 ]; then
        line="$line (exit $status; see $log)"
    fi
    echo "$line" >"$summary"
    if [ "${FUZZ_KEEP:-0}" = 1 ]; then
        echo "$t: scratch corpus kept in $scratch" >&2
    else
        rm -rf "$scratch"
    fi
    [ "$found" -eq 0 ] && [ "$status" -eq 0 ]
}

results=$(mktemp -d "${TMPDIR:-/tmp}/winsteps-fuzz-results.XXXXXX")
failed=0
running=0
pids=""
for t in $selected; do
    fuzz_one "$t" "$results/$t" &
    pids="$pids $!"
    running=$((running + 1))
    if [ "$running" -ge "$parallel" ]; then
        for pid in $pids; do wait "$pid" || failed=1; done
        pids=""
        running=0
    fi
done
for pid in $pids; do wait "$pid" || failed=1; done

echo "fuzzing for $seconds s per target on $(nproc) cores"
for t in $selected; do cat "$results/$t"; done
rm -rf "$results"
exit $failed
