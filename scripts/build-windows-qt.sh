#!/usr/bin/env bash
# Builds the Qt for 64-bit Windows that the Windows build uses, from Debian's own sources, with
# Debian's MinGW-w64 and Debian's Linux Qt as the host tools: qt6-base of the version installed
# here (Core, Gui, Widgets, Sql with QSQLITE and QODBC, Network, Test; the windows, offscreen and
# minimal platforms), and sqlite3.dll from Debian's sqlite3 source with Debian's options, so that
# Qt's SQLite driver and the agent share one SQLite.
#   bash scripts/build-windows-qt.sh PREFIX [--dry-run]
# Called by scripts/windows-qt.sh --build with the cache's prefix. The work folder is PREFIX.work
# (sources, build trees, logs; about 6 GB), the result is PREFIX; nothing is put in the checkout.
# --dry-run checks what the build needs, reads Debian's source index into PREFIX.work and shows the
# source files it would fetch and the steps it would run, without building anything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

prefix=${1:?usage: $0 PREFIX [--dry-run]}
dry_run=0
[ "${2:-}" = --dry-run ] && dry_run=1
work=$prefix.work
qt_version=6.4.2

cat <<EOF
build-windows-qt: builds Qt $qt_version for Windows from Debian's sources into $prefix
  This takes well over an hour on 2 cores (measured: SQLite's DLL 13 min, Qt's configure 3 min,
  Qt's build about 80 min) and needs about 6 GB in $work.
EOF

step() { echo "build-windows-qt: $*"; }
run() {
    if ((dry_run)); then
        printf '  would run:'
        printf ' %q' "$@"
        echo
    else
        "$@"
    fi
}

# The host tools and the source must be the same Qt version.
host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
case "$host_version" in
"$qt_version"*) ;;
*)
    echo "build-windows-qt: needs Debian's qt6-base-dev $qt_version (bash scripts/setup.sh), found '${host_version:-none}'" >&2
    exit 2
    ;;
esac
sqlite_version=$(dpkg-query -W -f='${Version}' libsqlite3-dev 2>/dev/null || true)
[ -n "$sqlite_version" ] || {
    echo "build-windows-qt: needs Debian's libsqlite3-dev (bash scripts/setup.sh)" >&2
    exit 2
}
# Unpacking Debian's sources needs dpkg-source; making SQLite's single source file, tclsh.
missing=()
command -v dpkg-source >/dev/null || missing+=(dpkg-dev)
command -v tclsh >/dev/null || missing+=(tcl)
if ((${#missing[@]})); then
    step "installs ${missing[*]}"
    ((dry_run)) || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
for tool in x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix ninja cmake qmake6; do
    command -v "$tool" >/dev/null || {
        echo "build-windows-qt: $tool is missing (bash scripts/setup.sh --windows)" >&2
        exit 2
    }
done
toolchain=$root/cmake/mingw-w64-x86_64.cmake
[ -f "$toolchain" ]

# 1. Debian's sources of exactly the installed versions, through a source list of the build's own
# (Debian's entries as deb-src) so that the machine's apt set-up is left as it is.
step "1. sources: qt6-base $host_version, sqlite3 $sqlite_version (apt-get source)"
apt_dir=$work/apt
mkdir -p "$apt_dir/sources" "$apt_dir/lists/partial" "$apt_dir/cache"
{
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/*.sources 2>/dev/null || true
} >"$apt_dir/sources/debian-src.sources"
sed -n 's/^deb /deb-src /p' /etc/apt/sources.list 2>/dev/null >"$apt_dir/sources/debian-src.list" || true
apt_options=(-o "Dir::Etc::SourceList=$apt_dir/sources/debian-src.list" -o "Dir::Etc::SourceParts=$apt_dir/sources"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache")
apt-get "${apt_options[@]}" update -qq
sources=("qt6-base=$host_version" "sqlite3=$sqlite_version")
if ((dry_run)); then
    apt-get "${apt_options[@]}" source --print-uris -qq "${sources[@]}" | sed 's/^/  would fetch: /'
elif [ ! -d "$work/src/qt6-base-$qt_version+dfsg" ]; then
    mkdir -p "$work/src"
    (cd "$work/src" && apt-get "${apt_options[@]}" source -qq "${sources[@]}" >/dev/null)
fi
qt_src=$work/src/qt6-base-$qt_version+dfsg

# 2. sqlite3.dll with Debian's compile options, and its import library.
step "2. sqlite3.dll"
deps=$work/deps
if [ ! -f "$deps/bin/sqlite3.dll" ]; then
    run mkdir -p "$work/sqlite-gen" "$deps/bin" "$deps/lib" "$deps/include"
    if ((!dry_run)); then
        (cd "$work/sqlite-gen" && "$(ls -d "$work"/src/sqlite3-3.*/)configure" --disable-tcl >/dev/null &&
            make -j2 sqlite3.c >/dev/null)
        cp "$work/sqlite-gen/sqlite3.h" "$work/sqlite-gen/sqlite3ext.h" "$deps/include/"
    fi
    run x86_64-w64-mingw32-gcc-posix -O2 -fno-strict-aliasing -DSQLITE_SECURE_DELETE \
        -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS \
        -DSQLITE_ENABLE_RTREE=1 -DSQLITE_SOUNDEX=1 -DSQLITE_ENABLE_UNLOCK_NOTIFY -DSQLITE_OMIT_LOOKASIDE=1 \
        -DSQLITE_ENABLE_DBSTAT_VTAB -DSQLITE_ALLOW_ROWID_IN_VIEW -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT=1 \
        -DSQLITE_ENABLE_LOAD_EXTENSION -DSQLITE_ENABLE_JSON1 -DSQLITE_LIKE_DOESNT_MATCH_BLOBS \
        -DSQLITE_THREADSAFE=1 -DSQLITE_USE_URI=1 -DSQLITE_MAX_SCHEMA_RETRY=25 -DSQLITE_ENABLE_STMTVTAB \
        -DSQLITE_MAX_VARIABLE_NUMBER=250000 '-DSQLITE_API=__declspec(dllexport)' -shared -static-libgcc \
        "$work/sqlite-gen/sqlite3.c" -o "$deps/bin/sqlite3.dll" -Wl,--out-implib,"$deps/lib/libsqlite3.dll.a"
fi

# 3. Qt 6.4.2's windows platform plug-in uses the dynamic OpenGL loader without asking whether
# OpenGL is built at all; with OpenGL off it does not compile.
step "3. the windows plug-in's OpenGL check"
run sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$qt_src/src/plugins/platforms/windows/qwindowswindow.cpp"

# 4. Qt itself. Debian removed some bundled parts from its source (tablet headers, SQLite), so
# their features are off or taken from the system as above.
step "4. Qt: configure, build, install"
host=$(qmake6 -query QT_HOST_PREFIX)
host_cmake=$(dirname "$(dirname "$(find "$host/lib" -maxdepth 4 -name Qt6HostInfoConfig.cmake | head -n 1)")")
staging=$work/install
run env WINQT_PREFIXES="$deps" nice -n 19 cmake -S "$qt_src" -B "$work/qt-build" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQT_HOST_PATH="$host" -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
    -DCMAKE_INSTALL_PREFIX="$staging" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF -DQT_BUILD_MANUAL_TESTS=OFF \
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_tabletevent=OFF -DFEATURE_opengl=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_sql=ON -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=ON -DFEATURE_sql_odbc=ON \
    -DFEATURE_sql_psql=OFF -DFEATURE_sql_mysql=OFF -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF \
    -DFEATURE_sql_db2=OFF -DFEATURE_network=ON -DFEATURE_testlib=ON -DFEATURE_openssl=OFF -DINPUT_openssl=no \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF \
    -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_brotli=OFF -DFEATURE_libproxy=OFF \
    -DSQLite3_INCLUDE_DIR="$deps/include" -DSQLite3_LIBRARY="$deps/lib/libsqlite3.dll.a"
started=$SECONDS
run nice -n 19 cmake --build "$work/qt-build" --parallel 2
run cmake --install "$work/qt-build"
((dry_run)) || step "   Qt built in $(((SECONDS - started) / 60)) min"

# 5. The prefix as the Windows build finds it: Qt with SQLite's DLL, import library and header.
step "5. $prefix"
run cp "$deps/bin/sqlite3.dll" "$staging/bin/"
run cp "$deps/lib/libsqlite3.dll.a" "$staging/lib/"
run cp "$deps/include/sqlite3.h" "$deps/include/sqlite3ext.h" "$staging/include/"
if ((!dry_run)); then
    echo "built from Debian's qt6-base $host_version and sqlite3 $sqlite_version" >"$staging/.cribsync-source"
    rm -rf "$prefix"
    mv "$staging" "$prefix"
    step "done; the work folder $work may be removed"
fi
