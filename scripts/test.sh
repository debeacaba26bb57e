#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test under wine and Xvfb.
# Usage: scripts/test.sh [ctest args]
#
# The product is the 32-bit build in ./build. Its tests run there under 32-bit wine when this machine
# can execute 32-bit x86 code; otherwise the tests run on the 64-bit build in ./build-x64 under 64-bit
# wine (scripts/common.sh, test_arch), and the 32-bit build is still compiled and checked.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

arch=$(test_arch)
configure_and_build i686
if [[ $arch == x86_64 ]]; then
  echo "This machine cannot execute 32-bit x86 code: the tests run on the 64-bit build under 64-bit wine."
  # the product's own executables are still checked: static, system DLLs only
  ctest --test-dir "$root/build" -R '^static_imports$' --output-on-failure
  configure_and_build x86_64
fi

jobs=${TQ_TEST_JOBS:-$(nproc)}
# A test that fails is run once more: under load, wine has been seen to fail a process start outright
# (exit within 20 ms, no output); a real fault fails both times.
xvfb-run -a -s "-screen 0 1280x1024x24" sh "$root/scripts/run-tests.sh" "$(build_dir_for "$arch")" \
  --output-on-failure --repeat until-pass:2 -j "$jobs" "$@"
