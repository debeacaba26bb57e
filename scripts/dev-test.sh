#!/usr/bin/env bash
# Quick loop while developing: builds only the build that runs the tests on this machine (see
# scripts/common.sh, test_arch) and runs ctest there with the given arguments, e.g.
#   bash scripts/dev-test.sh -R ui_       (only the tests whose names match)
#   TQ_TARGETS="test_ui_actions test_ui_hints" bash scripts/dev-test.sh -R ui_   (build only those)
# The full check, as CI runs it, is scripts/test.sh.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
arch=$(test_arch)
configure_and_build "$arch" ${TQ_TARGETS:-}
xvfb-run -a -s "-screen 0 1280x1024x24" sh "$root/scripts/run-tests.sh" "$(build_dir_for "$arch")" \
  --output-on-failure -j "${TQ_TEST_JOBS:-4}" "$@"
