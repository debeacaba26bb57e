#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test under wine and Xvfb, then checks that
# the program's main window appears (scripts/run.sh without a display). This is what CI runs.
# Usage: scripts/test.sh [ctest args]
#
# The product is the 32-bit build in ./build; the 64-bit build of the same sources in ./build-x64 is its
# twin for machines whose kernel cannot execute 32-bit x86 code (scripts/common.sh, test_arch):
#  - where 32-bit code runs, the tests run on both builds, so that a commit made there keeps passing
#    on the machines that can only run the twin;
#  - elsewhere the tests run on the twin, and the 32-bit build is still compiled and its executables
#    checked (static, system DLLs only).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

arch=$(test_arch)
configure_and_build i686
configure_and_build x86_64
if [[ $arch == i686 ]]; then
  runs=(i686 x86_64)
else
  echo "This machine cannot execute 32-bit x86 code: the tests run on the 64-bit build under 64-bit wine."
  runs=(x86_64)
fi

jobs=${TQ_TEST_JOBS:-$(nproc)}
failed=()
if [[ $arch != i686 ]]; then
  ctest --test-dir "$root/build" -R '^static_imports$' --output-on-failure || failed+=("i686 static_imports")
fi
for a in "${runs[@]}"; do
  echo "== tests of the $a build ($(build_dir_for "$a"))"
  # A test that fails is run once more: under load, wine has been seen to fail a process start
  # outright (exit within 20 ms, no output); a real fault fails both times.
  xvfb-run -a -s "-screen 0 1280x1024x24" sh "$root/scripts/run-tests.sh" "$(build_dir_for "$a")" \
    --output-on-failure --repeat until-pass:2 -j "$jobs" "$@" || failed+=("$a tests")
done

echo "== the program's main window (scripts/run.sh without a display)"
env -u DISPLAY bash "$root/scripts/run.sh" || failed+=("run.sh")

if (( ${#failed[@]} )); then
  echo "FAILED: ${failed[*]}" >&2
  exit 1
fi
echo "All checks passed."
