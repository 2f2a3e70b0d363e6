# Test and benchmark helpers shared by every folder.
#
#   sky_add_test(NAME SOURCES a_test.cpp ... LIBS lib ...)
#     A GoogleTest executable in build/tests, run by CTest. Its main() gives every test a fresh
#     temporary machine (SKYLOOM_MACHINE), so nothing depends on the home directory.
#
#   sky_add_benchmark(NAME SOURCES a_bench.cpp ... LIBS lib ...)
#     A Google Benchmark executable in build/bin (not run by CTest).

if(SKY_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(SKY_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()

function(sky_add_test name)
  if(NOT SKY_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE sky_test_main ${ARG_LIBS} GTest::gtest GTest::gmock)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # GoogleTest's header is most of what a small test file costs to compile: parse it once per
  # test program.
  target_precompile_headers(${name} PRIVATE <gtest/gtest.h>)
  # The source tree is compiled in; the build's bin directory comes through the environment so that
  # a test can also be pointed at an installed machine.
  target_compile_definitions(${name} PRIVATE SKY_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "SKY_BUILD_BIN=${CMAKE_BINARY_DIR}/bin")
endfunction()

function(sky_add_benchmark name)
  if(NOT SKY_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()
