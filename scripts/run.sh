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
if [[ ! -f $exe ]]; then
  echo "The conversion program is not built yet: only the libraries and their tests exist so far."
  exit 0
fi
# The program drives the presentation stand-in, registered per user in this build's wine prefix.
sh "$root/platform/presenter/register-stand-in.sh" "$build"
