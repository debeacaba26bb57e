# Shared part of the two toolchain files: Windows through Debian's posix-thread MinGW-w64 for
# TQ_TRIPLE, linked fully static, run by wine. The dependency prefix comes from -DMINGW_DEPS_PREFIX=...,
# else from the environment variable named by TQ_PREFIX_ENV (scripts/setup.sh writes env.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${TQ_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TQ_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${TQ_TRIPLE}-windres)
find_program(CMAKE_AR     ${TQ_TRIPLE}-ar     REQUIRED)
find_program(CMAKE_RANLIB ${TQ_TRIPLE}-ranlib REQUIRED)

if(NOT MINGW_DEPS_PREFIX)
  if(DEFINED ENV{${TQ_PREFIX_ENV}})
    set(MINGW_DEPS_PREFIX "$ENV{${TQ_PREFIX_ENV}}")
  else()
    set(MINGW_DEPS_PREFIX "${TQ_PREFIX_DEFAULT}")
  endif()
endif()
if(NOT IS_DIRECTORY "${MINGW_DEPS_PREFIX}")
  message(FATAL_ERROR "MINGW_DEPS_PREFIX '${MINGW_DEPS_PREFIX}' does not exist: run scripts/setup.sh first")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_DEPS_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${TQ_TRIPLE} "${MINGW_DEPS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ZLIB_USE_STATIC_LIBS ON)   # FindZLIB would otherwise pick libz.dll.a

# Code generation shared by the project and the libraries setup.sh builds with this file, so that
# floating point gives the same results in both: SSE2 arithmetic, not the x87 unit (on x86_64 this is
# already the default). setup.sh rebuilds the libraries when this file changes.
set(CMAKE_C_FLAGS_INIT   "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# No libgcc_s_*.dll, libstdc++-6.dll or libwinpthread-1.dll beside the exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(TQ_WINE NAMES ${TQ_WINE_NAMES} PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT TQ_WINE)
  find_program(TQ_WINE NAMES ${TQ_WINE_NAMES})
endif()
if(TQ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${TQ_WINE}")
endif()
