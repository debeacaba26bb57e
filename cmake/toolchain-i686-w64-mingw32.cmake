# The product: 32-bit Windows on x86.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TQ_TRIPLE i686-w64-mingw32)
set(TQ_PREFIX_ENV MINGW_DEPS_PREFIX)
set(TQ_PREFIX_DEFAULT /var/cache/tevarnic-deps/prefix)
set(TQ_WINE_NAMES wine)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
