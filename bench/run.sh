#!/usr/bin/env bash
# Runs benchmarks on demand (never in CI).
# Usage: bench/run.sh                 lists the benchmarks
#        bench/run.sh NAME [args...]  builds and runs bench NAME under wine (its own prefix), then, if
#                                     bench/NAME/compare.sh exists, runs it on the host with the same
#                                     args so the same work is timed side by side with another tool.
# A benchmark prints its own figures; farm-bench can repeat whole runs for minimum/median/maximum.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
arch=$(test_arch)
build=$(build_dir_for "$arch")
if [[ $# -eq 0 ]]; then
  configure_and_build "$arch" >/dev/null
  ls "$build/bench"/*.exe 2>/dev/null | xargs -r -n1 basename | sed 's/\.exe$//' || true
  exit 0
fi
name=$1; shift
configure_and_build "$arch" "$name" >/dev/null
if [[ $arch == x86_64 ]]; then wine=/usr/lib/wine/wine64; winearch=win64; else wine=wine; winearch=win32; fi
export WINEPREFIX=$build/wine-bench WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A new prefix: wineboot returns once it has written the prefix; its server then stays only for the
# processes wineboot started, or for good when an earlier run's persistent server still holds the
# prefix. Give it a while to save the registry and go, then end it (it saves on the way out).
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  WINEARCH=$winearch timeout 300 "$wine" wineboot --init >/dev/null 2>&1
  timeout 30 wineserver -w || wineserver -k 2>/dev/null || true
fi
wineserver -p
"$wine" cmd /c exit </dev/null >/dev/null 2>&1
cd "$root/bench"
"$wine" "$build/bench/$name.exe" "$@" || rc=$?
wineserver -k
if [[ -x $root/bench/$name/compare.sh ]]; then "$root/bench/$name/compare.sh" "$@"; fi
exit "${rc:-0}"
