#!/usr/bin/env bash
# The installer as a roll-out to crib computers uses it, under Wine in a prefix of its own: a
# silent install into a folder; the installed agent's demo cycle on nothing but what the installer
# put there; an upgrade refused while the agent runs on the computer's settings, then one that
# keeps paths.ini, the log and the registry settings; the uninstaller, which removes the program
# and keeps the settings and the log.
#   TestInstaller.sh WINE_RUN INSTALLER WORK_FOLDER
set -euo pipefail
wine_run=$1
installer=$2
work=$3

export CRIBSYNC_WINEPREFIX=$work/wine
rm -rf "$work"
mkdir -p "$work"
folder='C:\Cribs\Agent'
dir="$CRIBSYNC_WINEPREFIX/drive_c/Cribs/Agent"
menu="$CRIBSYNC_WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\cribsync'
settings_key='HKLM\Software\Quellora\Paths'
agent_pid=

passed=0
fail() {
    echo "FAIL: $*"
    echo "$passed passed, 1 failed"
    exit 1
}
pass() {
    passed=$((passed + 1))
    echo "PASS: $*"
}
# As on a crib computer: nothing on the path but Windows' own folders.
run() { CRIBSYNC_WINE_CLEAN=1 "$wine_run" "$@"; }
wait_for_wine() { "$wine_run" --wineserver -w; }
reg_value() { run reg query "$1" /v "$2" /reg:64 2>/dev/null | sed -n "s/^ *$2 *REG_[A-Z]* *//p" | tr -d '\r'; }
stop_agent() {
    if [ -n "$agent_pid" ]; then
        kill -9 "$agent_pid" 2>/dev/null || true
        wait "$agent_pid" 2>/dev/null || true
        agent_pid=
    fi
}
trap 'stop_agent; "$wine_run" --wineserver -k 2>/dev/null || true' EXIT

# 1. Silent install into a folder of one's choice (without a blank: Wine would quote /D=, which
# NSIS takes unquoted).
run "$installer" /S "/D=$folder" || fail "the silent install ended with status $?"
wait_for_wine
for file in cribsync.exe Qt6Core.dll Qt6Widgets.dll sqlite3.dll libstdc++-6.dll platforms/qwindows.dll \
    sqldrivers/qsqlite.dll sqldrivers/qsqlodbc.dll uninstall.exe; do
    [ -f "$dir/$file" ] || fail "the install has no $file"
done
pass "silent install into $folder"
[ -f "$menu/cribsync.lnk" ] && [ -f "$menu/StartUp/cribsync.lnk" ] ||
    fail "no shortcut in the Start menu or the common Startup folder"
pass "Start-menu and common Startup shortcuts"
[ "$(reg_value "$uninstall_key" InstallLocation)" = "$folder" ] || fail "not in the list of installed programs"
[ "$(reg_value "$uninstall_key" QuietUninstallString)" = "\"$folder\\uninstall.exe\" /S" ] ||
    fail "no silent uninstall command in the list of installed programs"
pass "listed among the installed programs, 64-bit view"

# 2. The installed agent runs a demo cycle, and a second one on the same folder.
for cycle in 1 2; do
    run "$folder\\cribsync.exe" --demo "$folder\\demo" --once >"$work/demo-$cycle.txt" 2>&1 ||
        fail "demo cycle $cycle ended with status $?: $(tail -n 3 "$work/demo-$cycle.txt")"
    grep -q 'cycle 1 completed .* 0 failures' "$work/demo-$cycle.txt" || fail "demo cycle $cycle: $(tail -n 3 "$work/demo-$cycle.txt")"
done
grep -q 'entry applied 10 .*row pushed 9 .*transaction sent 3' "$work/demo-1.txt" ||
    fail "the first demo cycle did not carry every pending change: $(tail -n 1 "$work/demo-1.txt")"
pass "the installed agent's demo cycles, on the installed files alone"

# 3. The agent on the computer's own settings: the registry key (the demo databases' values) and
# paths.ini beside it. While it runs, an upgrade is refused and changes nothing.
while IFS='=' read -r name value; do
    run reg add "$settings_key" /v "$name" /t REG_SZ /d "$value" /reg:64 /f >/dev/null
done < <(sed -n 's/\r$//; /^[A-Za-z]*=/p' "$dir/demo/settings.ini")
printf '[Corvane]\r\nTime=45\r\n' >"$dir/paths.ini"
# wine-run.sh becomes the Windows process itself: its process id is the agent's.
CRIBSYNC_WINE_CLEAN=1 "$wine_run" "$folder\\cribsync.exe" --headless >"$work/agent.txt" 2>&1 &
agent_pid=$!
for _ in $(seq 120); do
    grep -q 'tables listed' "$work/agent.txt" 2>/dev/null && break
    sleep 0.5
done
grep -q 'tables listed' "$work/agent.txt" || fail "the agent on the registry settings did not start: $(tail -n 3 "$work/agent.txt")"
[ -f "$dir/cribsync.log" ] || fail "the agent keeps no log beside paths.ini"
before=$(cd "$dir" && sha256sum cribsync.exe paths.ini)
status=0
run "$installer" /S "/D=$folder" || status=$?
[ "$status" = 2 ] || fail "an upgrade over the running agent ended with status $status, not 2"
[ "$(cd "$dir" && sha256sum cribsync.exe paths.ini)" = "$before" ] || fail "the refused upgrade changed files"
pass "an upgrade is refused (status 2) while the agent runs"
stop_agent
wait_for_wine

# 4. The upgrade: the program's files are replaced, paths.ini, the log and the key stay.
echo damaged >"$dir/imageformats/qico.dll"
kept=$(cd "$dir" && sha256sum paths.ini cribsync.log)
run "$installer" /S "/D=$folder" || fail "the upgrade ended with status $?"
wait_for_wine
[ "$(head -c 7 "$dir/imageformats/qico.dll")" != damaged ] || fail "the upgrade did not replace the program's files"
[ "$(cd "$dir" && sha256sum paths.ini cribsync.log)" = "$kept" ] || fail "the upgrade changed paths.ini or the log"
[ "$(reg_value "$settings_key" DATABASENAME)" = CribLocal ] || fail "the upgrade lost the registry settings"
pass "an upgrade replaces the program and keeps paths.ini, the log and the registry settings"

# 5. The uninstaller removes the program, its shortcuts and its entry, and keeps the settings.
run "$folder\\uninstall.exe" /S || fail "the silent uninstall ended with status $?"
wait_for_wine
for file in cribsync.exe Qt6Core.dll sqlite3.dll uninstall.exe platforms sqldrivers styles imageformats; do
    [ ! -e "$dir/$file" ] || fail "the uninstaller left $file"
done
[ ! -e "$menu/cribsync.lnk" ] && [ ! -e "$menu/StartUp/cribsync.lnk" ] || fail "the uninstaller left a shortcut"
[ -z "$(reg_value "$uninstall_key" InstallLocation)" ] || fail "still listed among the installed programs"
[ "$(cd "$dir" && sha256sum paths.ini cribsync.log)" = "$kept" ] || fail "the uninstaller changed paths.ini or the log"
[ "$(reg_value "$settings_key" DATABASENAME)" = CribLocal ] || fail "the uninstaller removed the registry settings"
pass "the uninstaller removes the program and keeps paths.ini, the log and the registry settings"

echo "$passed passed, 0 failed"
