#!/usr/bin/env bash
# The program's main job: sets up what is missing, builds, and starts the conversion program under
# wine on the user's display, or, when there is none, under Xvfb, saving a screenshot of its main
# window. Usage: scripts/run.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

arch=$(test_arch)
configure_and_build i686
[[ $arch == i686 ]] || configure_and_build x86_64
build=$(build_dir_for "$arch")
exe=$build/app/TevarnicQuillomart.exe
[[ -f $exe ]] || { echo "run.sh: $exe was not built" >&2; exit 1; }
# The program drives the presentation stand-in, registered per user in this build's wine prefix.
sh "$root/platform/presenter/register-stand-in.sh" "$build"
if [[ $arch == x86_64 ]]; then wine=/usr/lib/wine/wine64; else wine=wine; fi
export WINEPREFIX="$build/wine"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Chinese in the controls, as the tests' prefix has it (scripts/run-tests.sh)
"$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1 || true
if [[ -n ${DISPLAY:-} ]]; then
  exec "$wine" "$exe"
fi
# No display: the program runs on a virtual one for a few seconds and its screen is saved.
shot=$build/TevarnicQuillomart.png
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  "$1" "$2" & pid=$!
  sleep "${TQ_RUN_SECONDS:-12}"
  import -window root "$3"
  kill "$pid" 2>/dev/null
  wineserver -k' run "$wine" "$exe" "$shot"
echo "No display: the program ran under Xvfb; its main window is in $shot"
