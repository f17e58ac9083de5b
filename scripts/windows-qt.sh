#!/usr/bin/env bash
# Finds or makes the Qt for 64-bit Windows that the Windows build uses: Qt 6.4.2 cross-built with
# Debian's MinGW-w64 from Debian's own sources (Core, Gui, Widgets, Sql with QSQLITE and QODBC,
# Network, Test), with SQLite's DLL beside it.
#
#   bash scripts/windows-qt.sh            prints the Qt prefix and ends with status 0, or ends with
#                                         status 1 and prints nothing when there is none
#   bash scripts/windows-qt.sh --build    builds it from Debian's sources (well over an hour)
#   bash scripts/windows-qt.sh --build --dry-run
#                                         checks what the build needs and shows its steps
#
# Where it comes from, first found first:
#   1. $CRIBSYNC_WINQT: a folder with qt-6.4.2-mingw64.tar.xz (as ../shared/winqt has it);
#   2. ../shared/winqt beside the checkout (or beside the main checkout of a git worktree);
#   3. the cache, $CRIBSYNC_CACHE (default ~/.cache/cribsync), where --build puts it.
# A tarball is checked against its .sha256 file and unpacked into the cache once; nothing is
# ever put into the checkout.
set -euo pipefail
cd "$(dirname "$0")/.."

name=qt-6.4.2-mingw64
cache=${CRIBSYNC_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/cribsync}
prefix=$cache/$name

shared_folder() {
    local candidates=()
    [ -n "${CRIBSYNC_WINQT:-}" ] && candidates+=("$CRIBSYNC_WINQT")
    candidates+=("$PWD/../shared/winqt")
    local common
    if common=$(git rev-parse --path-format=absolute --git-common-dir 2>/dev/null); then
        candidates+=("$(dirname "$common")/../shared/winqt")
    fi
    local folder
    for folder in "${candidates[@]}"; do
        if [ -f "$folder/$name.tar.xz" ]; then
            (cd "$folder" && pwd)
            return 0
        fi
    done
    return 1
}

# Unpacks the shared tarball into the cache unless the same one is there already.
from_shared() {
    local folder=$1 tarball=$1/$name.tar.xz sum
    sum=$(sha256sum "$tarball" | cut -d' ' -f1)
    if [ -f "$folder/$name.tar.xz.sha256" ] && [ "$sum" != "$(cut -d' ' -f1 "$folder/$name.tar.xz.sha256")" ]; then
        echo "windows-qt: $tarball does not match its .sha256 file" >&2
        exit 2
    fi
    if [ "$(cat "$prefix/.cribsync-source" 2>/dev/null)" != "$sum" ]; then
        mkdir -p "$cache"
        local tmp
        tmp=$(mktemp -d "$cache/unpack-XXXXXX")
        tar -xJf "$tarball" -C "$tmp"
        echo "$sum" >"$tmp/$name/.cribsync-source"
        rm -rf "$prefix"
        mv "$tmp/$name" "$prefix"
        rmdir "$tmp"
    fi
}

if [ "${1:-}" = --build ]; then
    shift
    exec bash scripts/build-windows-qt.sh "$prefix" "$@"
fi
[ $# -eq 0 ] || {
    echo "usage: $0 [--build [--dry-run]]" >&2
    exit 2
}

if folder=$(shared_folder); then
    from_shared "$folder"
fi
if [ -f "$prefix/lib/cmake/Qt6/Qt6Config.cmake" ] && [ -f "$prefix/bin/sqlite3.dll" ]; then
    echo "$prefix"
    exit 0
fi
exit 1
