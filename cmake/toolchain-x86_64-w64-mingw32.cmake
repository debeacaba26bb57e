# The same sources for 64-bit Windows: only for running the tests under 64-bit wine on machines whose
# kernel cannot execute 32-bit x86 code (scripts/test.sh decides).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TQ_TRIPLE x86_64-w64-mingw32)
set(TQ_PREFIX_ENV MINGW_DEPS_PREFIX_X64)
set(TQ_PREFIX_DEFAULT /var/cache/tevarnic-deps/prefix-x86_64)
set(TQ_WINE_NAMES wine64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
