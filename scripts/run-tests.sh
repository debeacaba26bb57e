#!/bin/sh
# Usage: xvfb-run -a scripts/run-tests.sh BUILD_DIR [ctest args]
# Runs ctest with the build directory's own wine prefix (BUILD_DIR/wine), so that separate checkouts
# never share or kill each other's wine; a 64-bit build (BUILD_DIR/tq-arch says which) gets a 64-bit
# prefix. wine's server and system processes start BEFORE ctest, so that
#  - prefix creation (~10 s) and first-start cost are not charged to any test, and
#  - no wine daemon is spawned from inside a test: it would inherit ctest's output pipe and make
#    ctest wait for it (+2.6 s per test, or a hang until the timeout).
set -u
build=$(cd "$1" && pwd); shift
arch=$(cat "$build/tq-arch" 2>/dev/null || echo i686)
if [ "$arch" = x86_64 ]; then wine=/usr/lib/wine/wine64; winearch=win64; else wine=wine; winearch=win32; fi
export WINEPREFIX="$build/wine"
export WINEDEBUG="${WINEDEBUG:--all,err+module}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
t0=$(date +%s%N)
if [ ! -f "$WINEPREFIX/system.reg" ]; then     # one-off prefix creation (WINEARCH only matters here)
  WINEARCH=$winearch "$wine" wineboot --init >/dev/null 2>&1 && wineserver -w \
    || { echo "wine prefix creation failed" >&2; exit 1; }
  # a crashing test must end with its exit code, never wait on a crash dialog or a debugger
  "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  "$wine" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1
  # Xvfb has no window manager: unmanaged windows are destroyed at once instead of after a wait
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  # Chinese in the controls: their font links to Windows' CJK faces; the CJK font setup.sh installs
  # stands in for one of them
  "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
  wineserver -w
fi
wineserver -p || exit 1                       # persistent until `wineserver -k`
"$wine" cmd /c exit </dev/null >/dev/null 2>&1   # boots the prefix: services, explorer
t1=$(date +%s%N)
echo "wine warm-up ($arch): $(( (t1 - t0) / 1000000 )) ms (not part of the test timings)"
ctest --test-dir "$build" "$@"; rc=$?
wineserver -k
exit $rc
