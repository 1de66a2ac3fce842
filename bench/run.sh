#!/bin/sh
# Builds the benchmarks in release mode and prints one table: winsteps beside its peers
# and floors. Peers that are not installed are installed with apt-get when possible
# (as root); a peer that stays missing is left out of the table.
#
#   bench/run.sh [BUILD_DIR]          (default: build-bench beside this folder)
#   BENCH_MIN_TIME=0.5 bench/run.sh   (seconds per benchmark; default 0.3)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-bench}
min_time=${BENCH_MIN_TIME:-0.3}

packages="libbenchmark-dev qt6-scxml-dev qt6-declarative-dev libpugixml-dev libxml2-dev"
missing=""
for p in $packages; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
    if [ "$(id -u)" = 0 ]; then
        apt-get install -y $missing >/dev/null || echo "could not install:$missing" >&2
    else
        echo "not installed (run as root to install):$missing" >&2
    fi
fi

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" >/dev/null

out="$build/results"
mkdir -p "$out"
rm -f "$out"/*.json
# One process per program: no peer library is ever loaded where winsteps is measured.
for program in bench_winsteps bench_scxml bench_qjs bench_pugixml bench_libxml2; do
    if [ -x "$build/$program" ]; then
        "$build/$program" --benchmark_min_time="$min_time" --benchmark_out="$out/$program.json" \
            --benchmark_out_format=json >/dev/null 2>&1 || echo "$program failed" >&2
    fi
done

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
python3 "$here/table.py" "$out"/*.json
