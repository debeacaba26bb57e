# tq_add_test(NAME SOURCES src... [LIBS lib...] [TIMEOUT s] [LABELS l...])
# One GoogleTest executable, run by ctest through wine (the toolchain's crossing emulator).
# Tests are plain add_test entries: nothing runs under wine at build time. Each test runs in a working
# folder of its own under <build>/testwork/NAME and finds the source tree through TQ_SOURCE_DIR and its
# folder through TQ_WORK_DIR (both as Unix paths; tests/support converts them).
function(tq_add_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} tq_testsupport GTest::gmock GTest::gtest)
  set(work "${CMAKE_BINARY_DIR}/testwork/${name}")
  file(MAKE_DIRECTORY "${work}")
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY "${work}")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT}
    ENVIRONMENT "TQ_SOURCE_DIR=${CMAKE_SOURCE_DIR};TQ_BINARY_DIR=${CMAKE_BINARY_DIR};TQ_WORK_DIR=${work}")
  if(A_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}")
  endif()
endfunction()
