#!/usr/bin/env bash
# Installs the Debian packages cribsync needs to build, test and run.
#   --windows   also what the Windows build needs (scripts/windows.sh): MinGW-w64, Ninja, Wine, NSIS
# Idempotent: prints nothing and changes nothing when everything is present.
set -euo pipefail

packages=(
    cmake g++ make pkg-config clang-format ccache
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
    libqt6sql6-sqlite libqt6sql6-odbc
    libsqlite3-dev sqlite3
    unixodbc unixodbc-dev odbcinst tdsodbc libsqliteodbc
    xvfb xauth
    python3
)
for arg in "$@"; do
    case "$arg" in
    --windows) packages+=(g++-mingw-w64-x86-64-posix ninja-build wine64 nsis) ;;
    *)
        echo "usage: $0 [--windows]" >&2
        exit 2
        ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

# Node.js and npm run the T-SQL check (tests/tsql); any installed ones will do.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    missing+=(nodejs npm)
fi

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The ODBC driver packages register themselves in odbcinst.ini; make sure both
# drivers the tests use are known even if a package skipped that step.
register_driver() {
    local name=$1 lib=$2
    odbcinst -q -d -n "$name" >/dev/null 2>&1 && return 0
    local so
    so=$(find /usr/lib -name "$lib" 2>/dev/null | head -n 1)
    [ -n "$so" ] || return 0
    local tmp
    tmp=$(mktemp)
    printf '[%s]\nDescription=%s\nDriver=%s\n' "$name" "$name" "$so" >"$tmp"
    odbcinst -i -d -f "$tmp" >/dev/null 2>&1 || true
    rm -f "$tmp"
}
register_driver FreeTDS libtdsodbc.so
register_driver SQLite3 libsqlite3odbc.so
