#!/usr/bin/env bash
# Compiles the agent for Windows, syntax only: every file of src/ and every test file with a
# Windows branch, with MinGW-w64's compiler and Windows headers against Debian's Qt 6 headers and
# the compile definitions and include folders that CMake gives each file in the native build.
# Qt's headers then define Q_OS_WIN, so the Windows branches (registry, Win32 calls, ODBC headers)
# are parsed and type-checked against the real Windows and Qt declarations.
#
# What it proves: the sources compile for Windows with GCC; Win32 names, types and include order
# are right as far as a compiler can tell.
# What it cannot prove: nothing is linked or run, so a wrong registry path, a wrong value type,
# a missing import library or behaviour that differs at run time goes unseen; MSVC's compiler is
# not tried; Debian's Qt headers are configured for Linux (qconfig.h), so a Qt feature that
# Windows builds of Qt lack or add is not checked; moc output is not compiled.
#
# Usage: scripts/windows-check.sh [build-dir]   (default: build; configured here if needed)
# A file whose preprocessed text and flags have compiled before is not compiled again.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
compiler=x86_64-w64-mingw32-g++-posix
command -v "$compiler" >/dev/null || {
    echo "windows-check: $compiler is missing (bash scripts/setup.sh installs it)" >&2
    exit 2
}
[ -f "$build/compile_commands.json" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

work=$build/windows-check
rm -rf "$work/jobs" "$work/logs" "$work/failed" "$work/include"
mkdir -p "$work/jobs" "$work/logs" "$work/failed" "$work/ok" "$work/include"
# MinGW-w64 ships the Windows and ODBC headers but not SQLite's, which are the same on every
# platform: only they are taken from the host.
for h in sqlite3.h sqlite3ext.h; do
    if [ -f "/usr/include/$h" ]; then ln -sf "/usr/include/$h" "$work/include/$h"; fi
done

# One argument file per source: the native command's definitions, include folders, standard and
# warnings; host system folders other than Qt's (and moc's) are left out so that MinGW's own
# headers are used.
python3 - "$build/compile_commands.json" "$work" "$PWD" <<'EOF'
import json, os, re, shlex, sys

commands, work, root = sys.argv[1], sys.argv[2], sys.argv[3]
seen = set()
for entry in json.load(open(commands)):
    path = os.path.relpath(entry["file"], root)
    if path in seen or path.startswith(".."):
        continue
    if path.startswith("tests/"):
        with open(entry["file"], encoding="utf-8") as f:
            text = f.read()
        if not re.search(r"\bQ_OS_WIN\b|\b_WIN32\b", text):
            continue
        # A syntax check needs no meta-object code: an empty file stands in for the moc output.
        for moc in re.findall(r'#include "(\w+\.moc)"', text):
            open(os.path.join(work, "include", moc), "w").close()
    elif not path.startswith("src/"):
        continue
    seen.add(path)
    args = shlex.split(entry["command"]) if "command" in entry else entry["arguments"]
    out, i = [], 1
    while i < len(args):
        a = args[i]
        if a in ("-isystem", "-I") and i + 1 < len(args):
            folder = args[i + 1]
            i += 2
            if (folder.startswith("/usr/") and "/qt6" not in folder) or folder.endswith("_autogen/include"):
                continue
            folder = folder.replace("/mkspecs/linux-g++", "/mkspecs/win32-g++")
            out += [a, folder]
            continue
        i += 1
        if a.startswith(("-D", "-std=", "-W")) or (
            a.startswith("-I") and not a.startswith("-I/usr/") and not a.endswith("_autogen/include")
        ):
            out.append(a)
    # What the top-level CMakeLists.txt defines for Windows builds only.
    out.append("-DNOMINMAX")
    out += ["-idirafter", os.path.join(work, "include"), entry["file"]]
    name = path.replace("/", "_")
    with open(os.path.join(work, "jobs", name), "w") as f:
        f.write("\n".join(out) + "\n")
EOF

compile_one() {
    local job=$1 compiler=$2 work=$3
    local name args key
    name=$(basename "$job")
    mapfile -t args <"$job"
    key=$({ "$compiler" --version | head -n 1; cat "$job"; "$compiler" -E "${args[@]}" 2>&1; } | sha256sum | cut -c1-32)
    if [ -f "$work/ok/$key" ]; then
        : >"$work/logs/$name"
        return 0
    fi
    if "$compiler" -fsyntax-only "${args[@]}" >"$work/logs/$name" 2>&1; then
        touch "$work/ok/$key"
    else
        # A compiler that died without a diagnostic (killed, out of memory) fails the file too.
        echo "$name: the compiler ended with status $?" >"$work/failed/$name"
    fi
    return 0
}
export -f compile_one

find "$work/jobs" -type f -print0 | sort -z | xargs -0 -r -P 2 -I{} bash -c 'compile_one "$1" "$2" "$3"' _ {} "$compiler" "$work"

files=$(find "$work/jobs" -type f | wc -l)
failed=$(find "$work/failed" -type f | wc -l)
errors=$(cat "$work"/logs/* | grep -c ' error: ' || true)
warnings=$(cat "$work"/logs/* | grep -c ' warning: ' || true)
for log in "$work"/logs/*; do
    [ -s "$log" ] && cat "$log" >&2
done
cat "$work"/failed/* 2>/dev/null >&2 || true
echo "windows-check: $files files compiled for Windows (MinGW-w64, syntax only), $failed failed, $errors errors, $warnings warnings"
((failed == 0 && errors == 0))
