#!/usr/bin/env bash
# Builds the benchmark harness (RelWithDebInfo, in build-bench) and runs it: the agent's push and
# apply against raw SQLite loops, the idle cycle, connections, memory and growth with the backlog.
# Prints one table (Markdown) on standard output and writes the throughput plot as PNG.
#
#   scripts/bench.sh                        full sizes: 1,000, 10,000 and 100,000 rows
#   scripts/bench.sh --reduced              1,000 and 10,000 rows
#   scripts/bench.sh --tiny                 100 and 300 rows (a quick check)
#   scripts/bench.sh --sizes 1000,50000     any sizes
#   scripts/bench.sh --plot docs/bench-throughput.png
#
# Other options (--connections, --work, --check) go to the harness; see --help.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="${CRIBSYNC_BENCH_BUILD:-$root/build-bench}"

plot_given=no
for arg in "$@"; do
    case "$arg" in
    --plot) plot_given=yes ;;
    -h | --help)
        sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
        exit 0
        ;;
    esac
done
extra=()
if [ "$plot_given" = no ]; then
    extra=(--plot "$build/bench-throughput.png")
fi

log="$build/bench-build.log"
mkdir -p "$build"
if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    cmake --build "$build" -j2 --target cribsync_bench; } >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi
exec "$build/bench/cribsync_bench" "${extra[@]}" "$@"
