#!/bin/sh
# Usage: register-stand-in.sh BUILD_DIR
# Registers the build's presentation stand-in (presenter_server.exe) per user in the build's own
# wine prefix (BUILD_DIR/wine, as scripts/run-tests.sh uses it), so that the conversion program run
# in that prefix drives it. The server refuses, and this script fails, when the ProgID there
# already names another class.
set -eu
build=$(cd "$1" && pwd)
server=$build/platform/presenter/presenter_server.exe
[ -f "$server" ] || { echo "register-stand-in.sh: $server not built" >&2; exit 1; }
arch=$(cat "$build/tq-arch" 2>/dev/null || echo i686)
if [ "$arch" = x86_64 ]; then wine=/usr/lib/wine/wine64; else wine=wine; fi
export WINEPREFIX="$build/wine"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
sh "$(dirname "$0")/../../scripts/wine-prefix.sh" "$build"
"$wine" "$server" /regserver
# the server this started has no display of its own: the program must not start under it
wineserver -k 2>/dev/null; wineserver -w
