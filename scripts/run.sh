#!/usr/bin/env bash
# The program's main job: sets up what is missing, builds, and starts the conversion program under
# wine on the user's display, or, when there is none, under Xvfb, saving a screenshot of its main
# window and failing when the window does not appear. Usage: scripts/run.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

arch=$(test_arch)
configure_and_build i686
[[ $arch == i686 ]] || configure_and_build x86_64
build=$(build_dir_for "$arch")
exe=$build/app/TevarnicQuillomart.exe
[[ -f $exe ]] || { echo "run.sh: $exe was not built" >&2; exit 1; }
# The program drives the presentation stand-in, registered per user in this build's wine prefix
# (which the registration creates with the tests' settings, scripts/wine-prefix.sh).
sh "$root/platform/presenter/register-stand-in.sh" "$build"
if [[ $arch == x86_64 ]]; then wine=/usr/lib/wine/wine64; else wine=wine; fi
export WINEPREFIX="$build/wine"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# A wine server started without this display would give the program a desktop with no screen.
wineserver -k 2>/dev/null || true; wineserver -w
if [[ -n ${DISPLAY:-} ]]; then
  exec "$wine" "$exe"
fi
# No display: the program runs on a virtual one until its main window shows, and the screen is saved.
shot=$build/TevarnicQuillomart.png
rm -f "$shot"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$1" "$2" & pid=$!
  ok=1
  for _ in $(seq 1 "${TQ_RUN_SECONDS:-90}"); do
    sleep 1
    import -window root "$3.tmp.png" 2>/dev/null || continue
    if /usr/bin/python3 "$4" "$3.tmp.png"; then ok=0; break; fi
  done
  mv -f "$3.tmp.png" "$3" 2>/dev/null
  kill "$pid" 2>/dev/null
  wineserver -k 2>/dev/null
  exit $ok' run "$wine" "$exe" "$shot" "$root/scripts/check-screenshot.py" || {
  echo "run.sh: the program's main window did not appear under Xvfb (last screen: $shot)" >&2; exit 1; }
echo "No display: the program ran under Xvfb; its main window is in $shot"
