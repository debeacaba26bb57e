#!/usr/bin/env bash
# setup.sh - installs what the project needs on a Debian 12 machine: the i686-w64-mingw32 cross
# toolchain, wine, Xvfb, the Linux-side decoders the tests compare against, and static cross-builds of
# the image libraries made from Debian's own source packages. Idempotent: each step is skipped when its
# stamp matches.
#
# Usage (as root):  scripts/setup.sh [CACHE_DIR]        default: /var/cache/tevarnic-deps
#
# Result (all under CACHE_DIR):
#   prefix/                             include/, lib/*.a, lib/cmake/{MingwDeps,GTest,...}
#   prefix/share/mingw-deps/versions.txt   exact Debian source versions that were built
#   env.sh                              `source` it: MINGW_DEPS_PREFIX, WINEDEBUG, WINEDLLOVERRIDES
#   stamps/ logs/ src/ build/           bookkeeping; each step is skipped when its stamp matches
# The proof that every library links and works under wine is the project's own test suite
# (tests/foundation), not this script.
#
# Environment knobs:
#   DEPS_JOBS=N          parallel build jobs (default: nproc)
#   DEPS_SKIP_APT=1      do not touch apt (packages must already be installed)
#   DEPS_SIMD=0          build libjpeg-turbo without SIMD (then nasm is not needed)
#   DEPS_PIN="pkg=ver …" force exact Debian source versions (default: newest one that downloads)
#   DEPS_FORCE=1         ignore stamps, rebuild everything (sources already fetched are kept)
set -Eeuo pipefail
shopt -s nullglob

RECIPE=3   # bump when build flags below change: invalidates every build stamp
TRIPLE=i686-w64-mingw32

msg() { printf '[deps %(%H:%M:%S)T] %s\n' -1 "$*"; }
die() { printf 'setup.sh: ERROR: %s\n' "$*" >&2; exit 1; }
# shellcheck disable=SC2154
trap 'rc=$?; printf "setup.sh: ERROR: command failed (exit %s) at line %s: %s\n" "$rc" "$LINENO" "$BASH_COMMAND" >&2; exit $rc' ERR

CACHE=${1:-${DEPS_CACHE:-/var/cache/tevarnic-deps}}
mkdir -p "$CACHE" || die "cannot create cache dir $CACHE"
CACHE=$(cd "$CACHE" && pwd)
STAMPS=$CACHE/stamps
LOGS=$CACHE/logs
SRC=$CACHE/src
CMAKE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../cmake" && pwd)
JOBS=${DEPS_JOBS:-$(nproc)}
SIMD=${DEPS_SIMD:-1}
mkdir -p "$STAMPS" "$LOGS" "$SRC"

# one run at a time per cache dir
exec 9>"$CACHE/.lock"
flock -n 9 || { msg "another setup.sh holds $CACHE/.lock, waiting"; flock 9; }

T0=$SECONDS
stamp_ok()  { [[ -z ${DEPS_FORCE:-} && -f $STAMPS/$1 && "$(<"$STAMPS/$1")" == "$2" ]]; }
stamp_set() { printf '%s' "$2" >"$STAMPS/$1"; }

# run_logged STEP CMD... : output goes to logs/STEP.log; on failure show the tail
run_logged() {
  local step=$1; shift
  if ! "$@" >>"$LOGS/$step.log" 2>&1; then
    printf 'setup.sh: ERROR: step "%s" failed: %s\n--- last 40 lines of %s ---\n' "$step" "$*" "$LOGS/$step.log" >&2
    tail -n 40 "$LOGS/$step.log" >&2
    exit 1
  fi
}

# ---------------------------------------------------------------- 1. packages
PKGS=(cmake ninja-build make dpkg-dev xz-utils pkgconf
      gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
      gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
      libz-mingw-w64-dev googletest
      wine wine32:i386 wine64 xvfb xauth python3
      # Linux-side tools that tests use as independent decoders and benchmarks compare against
      netpbm libtiff-tools libjpeg-turbo-progs libopenjp2-tools python3-pil imagemagick libvips-tools
      libimage-exiftool-perl pngcheck icoutils icc-profiles-free colord-data libjxr-tools dcmtk libraw-bin
      qpdf poppler-utils ghostscript
      x11-apps)
[[ $SIMD == 1 ]] && PKGS+=(nasm)

pkg_installed() { [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == "install ok installed" ]]; }

ensure_packages() {
  local missing=() p need_update=
  if [[ ${DEPS_SKIP_APT:-} == 1 ]]; then msg "apt: skipped (DEPS_SKIP_APT=1)"; return; fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    [[ $EUID == 0 ]] || die "i386 architecture missing; run as root (or set DEPS_SKIP_APT=1)"
    msg "apt: dpkg --add-architecture i386"
    dpkg --add-architecture i386
    need_update=1
  fi
  # deb-src entries are needed by `apt-get source`
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    [[ $EUID == 0 ]] || die "no deb-src entries in apt sources; run as root"
    if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
      sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >/etc/apt/sources.list.d/mingw-deps-src.sources
    elif [[ -f /etc/apt/sources.list ]]; then   # one-line format: a deb-src twin of every deb line
      sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list >/etc/apt/sources.list.d/mingw-deps-src.list
    else
      die "no apt sources found to derive deb-src entries from"
    fi
    msg "apt: added deb-src entries (/etc/apt/sources.list.d/mingw-deps-src.sources)"
    need_update=1
  fi
  for p in "${PKGS[@]}"; do pkg_installed "$p" || missing+=("$p"); done
  # no source index yet (fresh machine, never updated)?
  [[ -n $(apt-cache showsrc zlib 2>/dev/null | grep -m1 '^Version:') ]] || need_update=1
  if [[ ${#missing[@]} -eq 0 && -z $need_update ]]; then msg "apt: all ${#PKGS[@]} packages present"; return; fi
  [[ $EUID == 0 ]] || die "packages missing (${missing[*]}); run as root (or install them and set DEPS_SKIP_APT=1)"
  export DEBIAN_FRONTEND=noninteractive
  msg "apt: update"
  run_logged apt apt-get update
  if [[ ${#missing[@]} -gt 0 ]]; then
    msg "apt: installing ${missing[*]}"
    run_logged apt apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}
ensure_packages
for t in {i686,x86_64}-w64-mingw32-{gcc-posix,g++-posix,ar,ranlib} cmake ninja dpkg-source wine; do
  command -v "$t" >/dev/null || die "required tool '$t' not found after package step"
done
[[ $SIMD != 1 ]] || command -v nasm >/dev/null || die "nasm not found (needed for libjpeg-turbo SIMD; DEPS_SIMD=0 to build without)"
[[ -f /usr/$TRIPLE/lib/libz.a ]] || die "/usr/$TRIPLE/lib/libz.a missing (package libz-mingw-w64-dev)"
[[ -f /usr/src/googletest/CMakeLists.txt ]] || die "/usr/src/googletest missing (package googletest)"

# ---------------------------------------------------------------- 1b. fonts for wine
# The packages above come without their recommends, so wine has neither its own system fonts (the
# title bar's caption buttons are then drawn as letters) nor any CJK font (Chinese text in slides
# becomes empty boxes). Fonts live outside the per-build wine prefixes, which find them through
# fontconfig: Debian's wine 8 looks for its own fonts under "<datadir>\../fonts", a path its file
# layer never resolves, so fontconfig is told about /usr/share/wine/fonts instead.
FONT_PKGS=(fonts-wine fonts-wqy-microhei)
WINE_FONTS_CONF=/etc/fonts/conf.d/65-wine-fonts.conf
ensure_fonts() {
  local missing=() p
  for p in "${FONT_PKGS[@]}"; do pkg_installed "$p" || missing+=("$p"); done
  if [[ ${#missing[@]} -eq 0 ]]; then msg "fonts: ${FONT_PKGS[*]} present"; return; fi
  [[ ${DEPS_SKIP_APT:-} != 1 ]] || die "fonts missing (${missing[*]}) and DEPS_SKIP_APT=1"
  [[ $EUID == 0 ]] || die "fonts missing (${missing[*]}); run as root"
  export DEBIAN_FRONTEND=noninteractive
  msg "fonts: installing ${missing[*]}"
  # a machine whose package step was satisfied long ago may hold a stale index
  apt-get install -y --no-install-recommends "${missing[@]}" >>"$LOGS/fonts.log" 2>&1 \
    || { run_logged fonts apt-get update; run_logged fonts apt-get install -y --no-install-recommends "${missing[@]}"; }
}
FONT_FILES=(/usr/share/wine/fonts/marlett.ttf /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$WINE_FONTS_CONF")
fonts_present() { local f; for f in "${FONT_FILES[@]}"; do [[ -e $f ]] || return 1; done; }
if stamp_ok fonts "${FONT_PKGS[*]} $WINE_FONTS_CONF" && fonts_present; then
  msg "fonts: up to date"
else
  ensure_fonts
  cat >"$WINE_FONTS_CONF" <<'EOF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<!-- written by the project's setup.sh: wine's own fonts (Marlett, Tahoma, ...) for wine to find -->
<fontconfig>
  <dir>/usr/share/wine/fonts</dir>
</fontconfig>
EOF
  fonts_present || die "fonts: ${FONT_FILES[*]} missing after installing ${FONT_PKGS[*]}"
  stamp_set fonts "${FONT_PKGS[*]} $WINE_FONTS_CONF"
fi

# ---------------------------------------------------------------- 2. toolchain file
write_if_changed() {  # write stdin to $1 only if content differs (keeps mtimes stable)
  local tmp; tmp=$(mktemp "$1.XXXX"); cat >"$tmp"
  if cmp -s "$tmp" "$1"; then rm -f "$tmp"; else mv "$tmp" "$1"; fi
}

CMAKE_GEN=(-G Ninja)
cmake_build() {  # cmake_build NAME SRCDIR [cmake args...]
  local name=$1 srcdir=$2; shift 2
  local b=$BUILD/$name
  rm -rf "$b"; : >"$LOGS/$name.log"
  run_logged "$name" cmake "${CMAKE_GEN[@]}" -S "$srcdir" -B "$b" \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DMINGW_DEPS_PREFIX="$PREFIX" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DBUILD_SHARED_LIBS=OFF "$@"   # (no CMAKE_INSTALL_LIBDIR: libjpeg-turbo resolves a relative one against $PWD)
  run_logged "$name" cmake --build "$b" -j "$JOBS"
  run_logged "$name" cmake --install "$b"
}

# ---------------------------------------------------------------- 3. Debian sources
declare -A SRCDIR VER
fetch_source() {  # fetch_source DEBIAN_SOURCE_PACKAGE
  local pkg=$1 v dl tried=() pin=
  for p in ${DEPS_PIN:-}; do if [[ ${p%%=*} == "$pkg" ]]; then pin=${p#*=}; fi; done
  if [[ -f $STAMPS/src-$pkg ]]; then   # already fetched (a different pin refetches)
    read -r v <"$STAMPS/src-$pkg"
    if [[ -d $SRC/$pkg-${v//:/_} && ( -z $pin || $pin == "$v" ) ]]; then
      SRCDIR[$pkg]=$SRC/$pkg-${v//:/_}; VER[$pkg]=$v; return
    fi
  fi
  local versions
  if [[ -n $pin ]]; then versions=$pin
  else
    versions=$(apt-cache showsrc "$pkg" 2>/dev/null | awk '/^Version:/{print $2}' | sort -u | sort -rV)
    [[ -n $versions ]] || die "apt-cache showsrc $pkg: no versions (deb-src missing or 'apt-get update' needed)"
  fi
  dl=$SRC/.dl-$pkg
  for v in $versions; do
    rm -rf "$dl"; mkdir -p "$dl"
    tried+=("$v")
    msg "source: $pkg=$v"
    if (cd "$dl" && apt-get -o APT::Sandbox::User=root source --download-only "$pkg=$v") >>"$LOGS/src-$pkg.log" 2>&1; then
      local dsc=("$dl"/*.dsc)
      [[ ${#dsc[@]} -eq 1 ]] || die "$pkg=$v: expected one .dsc in $dl"
      local dir=$SRC/$pkg-${v//:/_}   # no epoch colon in paths
      rm -rf "$dir"
      run_logged "src-$pkg" dpkg-source --no-check -x "${dsc[0]}" "$dir"
      rm -rf "$dl"
      printf '%s\n' "$v" >"$STAMPS/src-$pkg"
      SRCDIR[$pkg]=$dir; VER[$pkg]=$v
      return
    fi
    msg "source: $pkg=$v not downloadable (security archive often drops superseded files), trying older"
  done
  die "could not download any source version of $pkg (tried: ${tried[*]}); see $LOGS/src-$pkg.log"
}
for p in libpng1.6 libjpeg-turbo openjpeg2 libraw; do fetch_source "$p"; done
# libdeflate: whole-buffer zlib streams (TIFF Deflate strips), its own fetch so the list above stays
# as other steps expect it
fetch_source libdeflate
VER[googletest]=$(dpkg-query -W -f='${Version}' googletest)
VER[zlib]=$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)

# ---------------------------------------------------------------- 4. builds, once per target triple
# The product is 32-bit (i686). The 64-bit (x86_64) build of the same sources exists for machines that
# cannot execute 32-bit x86 code at all, where the tests run under 64-bit wine instead.
build_for_triple() {  # build_for_triple TRIPLE PREFIX STAMP_SUFFIX
  TRIPLE=$1 PREFIX=$2 STAMP_SUFFIX=$3
  BUILD=$CACHE/build$STAMP_SUFFIX
  TOOLCHAIN=$CMAKE_DIR/toolchain-$TRIPLE.cmake
  [[ -f $TOOLCHAIN ]] || die "toolchain file $TOOLCHAIN missing"
  # the toolchain files carry the code-generation flags every library is compiled with: a change to
  # them rebuilds every library of this triple
  TC_KEY=$(cat "$TOOLCHAIN" "$CMAKE_DIR/mingw-common.cmake" | sha256sum | cut -c1-16)
  mkdir -p "$PREFIX" "$BUILD"
  ZLIB_ARGS=("-DZLIB_LIBRARY=/usr/$TRIPLE/lib/libz.a" "-DZLIB_INCLUDE_DIR=/usr/$TRIPLE/include")
  msg "== $TRIPLE -> $PREFIX"
  # each key = recipe + source version + flags (+ keys of what it links against)
  build_step() {  # build_step NAME KEY CHECKFILE FUNC
    local name=$1$STAMP_SUFFIX key=$2 out=$3 fn=$4 t=$SECONDS
    if stamp_ok "$name" "$key" && [[ -e $out ]]; then msg "$name: up to date"; return; fi
    msg "$name: building"
    "$fn"
    [[ -e $out ]] || die "$name: build finished but $out is missing"
    stamp_set "$name" "$key"
    msg "$name: done in $((SECONDS - t))s"
  }

  ONOFF=OFF; [[ $SIMD != 1 ]] || ONOFF=ON
  JPEG_ARGS=(-DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_JPEG7=OFF -DWITH_JPEG8=OFF
             -DWITH_TURBOJPEG=OFF "-DWITH_SIMD=$ONOFF" "-DREQUIRE_SIMD=$ONOFF")
  b_jpeg() {
    cmake_build libjpeg-turbo "${SRCDIR[libjpeg-turbo]}" "${JPEG_ARGS[@]}"
    grep -q '#define JPEG_LIB_VERSION  *62' "$PREFIX/include/jconfig.h" \
      || die "libjpeg-turbo: installed jconfig.h does not define JPEG_LIB_VERSION 62"
  }
  KEY_JPEG="r$RECIPE tc=$TC_KEY ${VER[libjpeg-turbo]} ${JPEG_ARGS[*]}"
  build_step libjpeg-turbo "$KEY_JPEG" "$PREFIX/lib/libjpeg.a" b_jpeg

  PNG_ARGS=(-DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF "${ZLIB_ARGS[@]}")
  b_png() { cmake_build libpng "${SRCDIR[libpng1.6]}" "${PNG_ARGS[@]}"; }
  KEY_PNG="r$RECIPE tc=$TC_KEY ${VER[libpng1.6]} zlib=${VER[zlib]} ${PNG_ARGS[*]}"
  build_step libpng "$KEY_PNG" "$PREFIX/lib/libpng16.a" b_png

  OPJ_ARGS=(-DBUILD_STATIC_LIBS=ON -DBUILD_CODEC=OFF -DBUILD_TESTING=OFF -DBUILD_DOC=OFF -DBUILD_JPIP=OFF)
  b_opj() { cmake_build openjpeg "${SRCDIR[openjpeg2]}" "${OPJ_ARGS[@]}"; }
  KEY_OPJ="r$RECIPE tc=$TC_KEY ${VER[openjpeg2]} ${OPJ_ARGS[*]}"
  build_step openjpeg "$KEY_OPJ" "$PREFIX/lib/libopenjp2.a" b_opj

  # LibRaw 0.20 ships only autotools/qmake/MSVC makefiles: compile the file list of its Makefile.am
  # with a small generated CMake project. Enabled: USE_JPEG (lossy DNG), USE_ZLIB (deflate DNG).
  # Disabled: OpenMP, Jasper (RedCine), LCMS (ICC profiles), RawSpeed, DNG SDK, X3F tools.
  b_raw() {
    local s=${SRCDIR[libraw]} ov=$BUILD/libraw-overlay
    rm -rf "$ov"; mkdir -p "$ov"
    local files
    files=$(awk '/^lib_libraw_a_SOURCES[ \t]*=/{f=1; sub(/^[^=]*=/,"")} f{c=/\\[ \t]*$/; gsub(/\\/,""); printf "%s ", $0; if(!c) exit}' "$s/Makefile.am")
    local n; n=$(wc -w <<<"$files")
    [[ $n -gt 50 ]] || die "libraw: could not read lib_libraw_a_SOURCES from $s/Makefile.am (got $n files)"
    {
      echo 'cmake_minimum_required(VERSION 3.16)'
      echo 'project(libraw_static CXX)'
      echo "set(S \"$s\")"
      printf 'add_library(raw_r STATIC'; for f in $files; do printf '\n  ${S}/%s' "$f"; done; echo ')'
      cat <<'EOF'
target_include_directories(raw_r PRIVATE ${S} ${MINGW_DEPS_PREFIX}/include)
# no LIBRAW_NOTHREADS: this is the thread-safe variant (upstream's libraw_r)
target_compile_definitions(raw_r PRIVATE LIBRAW_NODLL USE_JPEG USE_ZLIB)
target_compile_options(raw_r PRIVATE -w)
install(TARGETS raw_r ARCHIVE DESTINATION lib)
install(DIRECTORY ${S}/libraw/ DESTINATION include/libraw FILES_MATCHING PATTERN "*.h")
EOF
    } >"$ov/CMakeLists.txt"
    cmake_build libraw "$ov"
  }
  KEY_RAW="r$RECIPE tc=$TC_KEY ${VER[libraw]} jpeg=[$KEY_JPEG] zlib=${VER[zlib]} USE_JPEG USE_ZLIB no-openmp no-jasper no-lcms"
  build_step libraw "$KEY_RAW" "$PREFIX/lib/libraw_r.a" b_raw

  # libdeflate 1.14 ships a GNU Makefile that picks its Windows names from the host compiler: compile
  # the library's own sources with a small generated CMake project instead, static, no DLL imports.
  b_deflate() {
    local s=${SRCDIR[libdeflate]} ov=$BUILD/libdeflate-overlay
    rm -rf "$ov"; mkdir -p "$ov"
    [[ -f $s/libdeflate.h && -f $s/lib/deflate_compress.c ]] || die "libdeflate: unexpected source layout in $s"
    cat >"$ov/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.16)
project(libdeflate_static C)
file(GLOB SRC "$s/lib/*.c" "$s/lib/x86/*.c")
add_library(deflate STATIC \${SRC})
target_include_directories(deflate PRIVATE "$s")
target_compile_options(deflate PRIVATE -O2 -w)
install(TARGETS deflate ARCHIVE DESTINATION lib)
install(FILES "$s/libdeflate.h" DESTINATION include)
EOF
    cmake_build libdeflate "$ov"
  }
  KEY_DEFLATE="r$RECIPE tc=$TC_KEY ${VER[libdeflate]} static overlay"
  build_step libdeflate "$KEY_DEFLATE" "$PREFIX/lib/libdeflate.a" b_deflate

  GTEST_ARGS=(-DBUILD_GMOCK=ON -DINSTALL_GTEST=ON)
  b_gtest() { cmake_build googletest /usr/src/googletest "${GTEST_ARGS[@]}"; }
  KEY_GTEST="r$RECIPE tc=$TC_KEY ${VER[googletest]} ${GTEST_ARGS[*]}"
  build_step googletest "$KEY_GTEST" "$PREFIX/lib/libgtest.a" b_gtest

  # ---------------------------------------------------------------- 5. CMake package + env + versions
  mkdir -p "$PREFIX/lib/cmake/MingwDeps" "$PREFIX/share/mingw-deps"
  sed "s|@TRIPLE@|$TRIPLE|g" <<'EOF' | write_if_changed "$PREFIX/lib/cmake/MingwDeps/MingwDepsConfig.cmake"
# Imported targets for the static @TRIPLE@ libraries built by setup.sh:
#   MingwDeps::zlib  MingwDeps::png  MingwDeps::jpeg (v6b API, JPEG_LIB_VERSION 62)
#   MingwDeps::openjp2 (carries OPJ_STATIC)  MingwDeps::libraw (thread-safe, +jpeg +zlib, ws2_32)
# GoogleTest: find_package(GTest CONFIG) -> GTest::gtest GTest::gtest_main GTest::gmock
get_filename_component(_md_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(_md_sys /usr/@TRIPLE@)
function(_md_lib name file)   # _md_lib(name file [INCLUDE dir] [DEFINES d...] [LINK l...])
  cmake_parse_arguments(A "" "INCLUDE" "DEFINES;LINK" ${ARGN})
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "MingwDeps: ${file} missing - rerun setup.sh")
  endif()
  if(TARGET MingwDeps::${name})
    return()
  endif()
  add_library(MingwDeps::${name} STATIC IMPORTED)
  set_property(TARGET MingwDeps::${name} PROPERTY IMPORTED_LOCATION "${file}")
  if(A_INCLUDE)
    set_property(TARGET MingwDeps::${name} PROPERTY INTERFACE_INCLUDE_DIRECTORIES "${A_INCLUDE}")
  endif()
  set_property(TARGET MingwDeps::${name} PROPERTY INTERFACE_COMPILE_DEFINITIONS ${A_DEFINES})
  set_property(TARGET MingwDeps::${name} PROPERTY INTERFACE_LINK_LIBRARIES ${A_LINK})
endfunction()
_md_lib(zlib    "${_md_sys}/lib/libz.a")   # headers are in the compiler's default include path
_md_lib(jpeg    "${_md_prefix}/lib/libjpeg.a"    INCLUDE "${_md_prefix}/include")
_md_lib(png     "${_md_prefix}/lib/libpng16.a"   INCLUDE "${_md_prefix}/include" LINK MingwDeps::zlib)
# Without OPJ_STATIC openjpeg.h declares __declspec(dllimport) __stdcall functions -> _imp__opj_*@N link errors
_md_lib(openjp2 "${_md_prefix}/lib/libopenjp2.a" INCLUDE "${_md_prefix}/include/openjpeg-2.5"
                                                 DEFINES OPJ_STATIC LINK pthread)
# LibRaw calls htons/ntohl from winsock: ws2_32 (its #pragma comment(lib) is MSVC-only)
_md_lib(libraw  "${_md_prefix}/lib/libraw_r.a"   INCLUDE "${_md_prefix}/include" DEFINES LIBRAW_NODLL
                                                 LINK MingwDeps::jpeg MingwDeps::zlib ws2_32)
set(MingwDeps_FOUND TRUE)
EOF
  {
    echo "zlib           libz-mingw-w64-dev ${VER[zlib]} (Debian binary package)"
    echo "libpng         libpng1.6 ${VER[libpng1.6]}"
    echo "libjpeg-turbo  libjpeg-turbo ${VER[libjpeg-turbo]} (JPEG_LIB_VERSION 62, SIMD=$SIMD)"
    echo "openjpeg       openjpeg2 ${VER[openjpeg2]} (static, OPJ_STATIC)"
    echo "libraw         libraw ${VER[libraw]} (thread-safe; USE_JPEG USE_ZLIB; no OpenMP/Jasper/LCMS)"
    echo "libdeflate     libdeflate ${VER[libdeflate]} (static)"
    echo "googletest     googletest ${VER[googletest]} (gtest + gmock)"
    echo "compiler       $($TRIPLE-g++-posix --version | head -1)"
  } | write_if_changed "$PREFIX/share/mingw-deps/versions.txt"

}
build_for_triple x86_64-w64-mingw32 "$CACHE/prefix-x86_64" -x86_64
build_for_triple i686-w64-mingw32 "$CACHE/prefix" ""

write_if_changed "$CACHE/env.sh" <<EOF
# source me: environment for building against $PREFIX and running under wine (WINEPREFIX is per build dir)
export MINGW_DEPS_PREFIX="$CACHE/prefix"
export MINGW_DEPS_PREFIX_X64="$CACHE/prefix-x86_64"
export WINEDEBUG="\${WINEDEBUG:--all,err+module}"  # silence chatter, keep "Library X.dll not found"
export WINEDLLOVERRIDES="\${WINEDLLOVERRIDES:-mscoree,mshtml=}"  # never offer Mono/Gecko installs
EOF


# ---------------------------------------------------------------- 6. test decks of the presentation stand-in
run_logged presenter-fixtures bash "$CMAKE_DIR/../tests/presenter/fixtures.sh" "$CACHE"

msg "all done in $((SECONDS - T0))s; prefix $PREFIX"
sed 's/^/    /' "$PREFIX/share/mingw-deps/versions.txt"
