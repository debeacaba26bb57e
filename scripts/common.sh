# Shared by scripts/test.sh, scripts/run.sh and bench/run.sh (sourced, not run).
# Sets root, cache; runs the setup; defines test_arch and configure_and_build.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=${DEPS_CACHE:-/var/cache/tevarnic-deps}

bash "$root/scripts/setup.sh" "$cache"
# shellcheck source=/dev/null
source "$cache/env.sh"

# Prints i686 when this machine can execute 32-bit x86 code (so 32-bit wine runs), else x86_64: a
# kernel without 32-bit support cannot run 32-bit wine at all, and then the same sources are built
# for 64-bit Windows and run under 64-bit wine. TQ_TEST_ARCH overrides the choice.
test_arch() {
  if [[ -n ${TQ_TEST_ARCH:-} ]]; then echo "$TQ_TEST_ARCH"; return; fi
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1 && [[ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]]; then
    echo i686
  else
    echo x86_64
  fi
}

# configure_and_build ARCH [targets...]: ./build for i686 (the product), ./build-x64 for x86_64.
configure_and_build() {
  local arch=$1 dir triple prefix; shift
  if [[ $arch == x86_64 ]]; then dir=$root/build-x64 triple=x86_64-w64-mingw32 prefix=$MINGW_DEPS_PREFIX_X64
  else dir=$root/build triple=i686-w64-mingw32 prefix=$MINGW_DEPS_PREFIX; fi
  cmake -G Ninja -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$triple.cmake" \
    -DMINGW_DEPS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
  echo "$arch" >"$dir/tq-arch"
  local t=(); for x in "$@"; do t+=(--target "$x"); done
  cmake --build "$dir" -j "${TQ_BUILD_JOBS:-$(nproc)}" "${t[@]}"
}

build_dir_for() { if [[ $1 == x86_64 ]]; then echo "$root/build-x64"; else echo "$root/build"; fi; }
