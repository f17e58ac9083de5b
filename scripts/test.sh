#!/usr/bin/env bash
# Sets up the machine, builds cribsync and runs every test suite: the unit and integration tests
# (with the T-SQL check of every statement the agent sends to SQL Server), the Windows build with
# its suites and installer under Wine (whenever a Qt for Windows is there: scripts/windows-qt.sh),
# the same tests under AddressSanitizer and UndefinedBehaviorSanitizer (the T-SQL check left out),
# and the slow suites (end to end, many computers, benchmarks) in their reduced size.
#   --fast       skip the sanitizer build
#   --full       run the slow suites at full size
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=1
full=0
for arg in "$@"; do
    case "$arg" in
    --fast) sanitize=0 ;;
    --full) full=1 ;;
    *) echo "usage: $0 [--fast] [--full]" >&2; exit 2 ;;
    esac
done

bash scripts/setup.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
ctest --test-dir build -L unit --output-on-failure -j2

if bash scripts/windows-qt.sh >/dev/null; then
    bash scripts/windows.sh --test
else
    echo "test: no Qt for Windows (no ../shared/winqt, none built in the cache), so the Windows suites did not run; bash scripts/windows-qt.sh --build makes one"
fi

if ((sanitize)); then
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCRIBSYNC_SANITIZE=ON >/dev/null
    # Only what the sanitizer pass runs: the slow suites and the benchmarks run in the plain build.
    # Tests named after the program they run; a test that is a script (the floor check) has none.
    mapfile -t unit_targets < <(comm -12 \
        <(ctest --test-dir build-asan -N -L unit | sed -n 's/^ *Test *#[0-9]*: //p' | sort) \
        <(cmake --build build-asan --target help | sed -n 's/^\.\.\. \([^ ]*\).*/\1/p' | sort))
    cmake --build build-asan -j2 --target cribsync "${unit_targets[@]}"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan -L unit -LE tsql --output-on-failure -j2
fi

if ctest --test-dir build -N -L slow | grep -q 'Total Tests: [1-9]'; then
    if ((full)); then
        CRIBSYNC_SIZE=full ctest --test-dir build -L slow --output-on-failure
    else
        CRIBSYNC_SIZE=reduced ctest --test-dir build -L slow --output-on-failure
    fi
fi
