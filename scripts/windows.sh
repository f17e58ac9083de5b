#!/usr/bin/env bash
# Builds cribsync for 64-bit Windows on Debian, through the same CMake project as the Linux build:
# installs what it needs from Debian (MinGW-w64, Wine, NSIS), cross-builds into build-windows/,
# makes the deployable folder (build-windows/deploy) and the installer, and prints the installer's
# path (as its last line without --test).
#   --test   also builds the tests and runs them under Wine (its own prefix in build-windows/wine,
#            no display): the unit suites and the installer's check; ends with CTest's summary.
# The Windows Qt comes from scripts/windows-qt.sh (../shared/winqt, or one built into the cache).
set -euo pipefail
cd "$(dirname "$0")/.."

run_tests=0
for arg in "$@"; do
    case "$arg" in
    --test) run_tests=1 ;;
    *)
        echo "usage: $0 [--test]" >&2
        exit 2
        ;;
    esac
done

bash scripts/setup.sh --windows

if ! qt=$(bash scripts/windows-qt.sh); then
    echo "windows: no Qt for Windows (no ../shared/winqt, none in the cache): bash scripts/windows-qt.sh --build makes one" >&2
    exit 2
fi

build=build-windows
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr >/dev/null

# The suites of the Windows run: the unit label, and the Windows-only checks (the installer).
labels='^(unit|windows)$'
targets=(installer)
if ((run_tests)); then
    # Tests named after the program they run.
    mapfile -t test_targets < <(comm -12 \
        <(ctest --test-dir "$build" -N -L "$labels" | sed -n 's/^ *Test *#[0-9]*: //p' | sort) \
        <(cmake --build "$build" --target help | sed -n 's/^\([A-Za-z0-9_]*\): .*/\1/p' | sort))
    targets+=("${test_targets[@]}")
fi
cmake --build "$build" -j2 --target "${targets[@]}"
installer=$(ls "$build"/cribsync-*-setup.exe)
echo "$PWD/$installer"

if ((run_tests)); then
    rm -f "$build/windows-tests.txt"
    # A test program under Wine has been seen, once, not to end after its last case had passed;
    # a suite that times out runs once more, and the summary counts each suite once.
    ctest --test-dir "$build" -L "$labels" --output-on-failure -j2 --repeat after-timeout:2 |
        tee "$build/windows-ctest.txt" && status=0 || status=$?
    # Whatever a test left running in Wine ends with the run.
    "$build/wine-run.sh" --wineserver -k 2>/dev/null || true
    # For CI: how many Windows suites ran in this run, and how many passed.
    sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\)$/\1 \2/p' \
        "$build/windows-ctest.txt" | { read -r failed total && echo "$((total - failed)) passed of $total"; } \
        >"$build/windows-tests.txt" || true
    exit "$status"
fi
