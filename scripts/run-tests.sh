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
if [ "$arch" = x86_64 ]; then wine=/usr/lib/wine/wine64; else wine=wine; fi
export WINEPREFIX="$build/wine"
export WINEDEBUG="${WINEDEBUG:--all,err+module}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
t0=$(date +%s%N)
sh "$(dirname "$0")/wine-prefix.sh" "$build" || exit 1   # one-off prefix creation and settings
wineserver -p || exit 1                       # persistent until `wineserver -k`
"$wine" cmd /c exit </dev/null >/dev/null 2>&1   # boots the prefix: services, explorer
t1=$(date +%s%N)
echo "wine warm-up ($arch): $(( (t1 - t0) / 1000000 )) ms (not part of the test timings)"
ctest --test-dir "$build" "$@"; rc=$?
wineserver -k
exit $rc
