# libdeflate as scripts/setup.sh builds it into the dependency prefix (static, no DLL imports).
# Looked up here rather than through MingwDepsConfig.cmake so that a prefix written by an older
# setup.sh reports what is missing instead of failing inside that file.
# Result: Libdeflate::deflate, Libdeflate_FOUND.
find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h PATHS "${MINGW_DEPS_PREFIX}/include" NO_DEFAULT_PATH)
find_library(LIBDEFLATE_LIBRARY NAMES libdeflate.a PATHS "${MINGW_DEPS_PREFIX}/lib" NO_DEFAULT_PATH)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Libdeflate
  REQUIRED_VARS LIBDEFLATE_LIBRARY LIBDEFLATE_INCLUDE_DIR
  FAIL_MESSAGE "libdeflate missing from ${MINGW_DEPS_PREFIX}: rerun scripts/setup.sh")
if(Libdeflate_FOUND AND NOT TARGET Libdeflate::deflate)
  add_library(Libdeflate::deflate STATIC IMPORTED)
  set_target_properties(Libdeflate::deflate PROPERTIES IMPORTED_LOCATION "${LIBDEFLATE_LIBRARY}"
                        INTERFACE_INCLUDE_DIRECTORIES "${LIBDEFLATE_INCLUDE_DIR}")
endif()
