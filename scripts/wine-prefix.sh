#!/bin/sh
# Usage: scripts/wine-prefix.sh BUILD_DIR
# Creates the build's own wine prefix (BUILD_DIR/wine) once, with what the tests and the program need
# of it, and leaves no wine server running behind it. A 64-bit build (BUILD_DIR/tq-arch says which)
# gets a 64-bit prefix. Used by scripts/run-tests.sh, scripts/run.sh and the stand-in's registration,
# so that each of them finds the prefix as the others left it.
set -u
build=$(cd "$1" && pwd)
arch=$(cat "$build/tq-arch" 2>/dev/null || echo i686)
if [ "$arch" = x86_64 ]; then wine=/usr/lib/wine/wine64; winearch=win64; else wine=wine; winearch=win32; fi
export WINEPREFIX="$build/wine"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
[ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/.tq-settings" ] && exit 0
if [ ! -f "$WINEPREFIX/system.reg" ]; then     # WINEARCH only matters here
  WINEARCH=$winearch "$wine" wineboot --init >/dev/null 2>&1 && wineserver -w \
    || { echo "wine prefix creation failed" >&2; exit 1; }
fi
# a crashing program must end with its exit code, never wait on a crash dialog or a debugger
"$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
"$wine" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1
# Xvfb has no window manager: unmanaged windows are destroyed at once instead of after a wait
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
# Chinese in the controls: their font links to Windows' CJK faces; the CJK font setup.sh installs
# stands in for one of them
"$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
# The server started here may have no display; it must not be the one the program or the tests
# then run under (their windows would have no desktop), so it ends before this script does.
wineserver -k 2>/dev/null; wineserver -w
: >"$WINEPREFIX/.tq-settings"
