# Test and benchmark helpers shared by every folder.
#
#   sky_add_test(NAME SOURCES a_test.cpp ... LIBS lib ...)
#     A GoogleTest executable in build/tests, run by CTest. Its main() gives every test a fresh
#     temporary machine (SKYLOOM_MACHINE), so nothing depends on the home directory.
#
#   sky_add_test(NAME SOURCES ... LIBS ... POSTGRES)
#     The same, for tests that need a PostgreSQL server: CTest starts a throwaway cluster of its own
#     before them (scripts/postgres-cluster, listening only on a Unix socket in a folder under
#     /tmp) and stops and removes it after them, whatever their outcome. The tests find it through
#     SKY_TEST_POSTGRES_HOST (compiled in), or a server of your own through the environment
#     variable SKY_TEST_POSTGRES (a connection string of a role that may create databases).
#
#   sky_add_benchmark(NAME SOURCES a_bench.cpp ... LIBS lib ...)
#     A Google Benchmark executable in build/bin (not run by CTest). Each runs to its end as it
#     is invoked; sky/bench_support.h gives the farm's size (SKY_BENCH_FARM=large for 100,000
#     applications) and prints the ratios of the runs it compares.

if(SKY_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(SKY_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()

# The throwaway cluster of this build tree: one folder per build tree, so that builds of several
# trees (or presets) test at once without meeting.
string(SHA1 sky_tree_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${sky_tree_hash}" 0 12 sky_tree_hash)
set(SKY_TEST_POSTGRES_HOST "/tmp/skypg-${sky_tree_hash}")

function(sky_add_postgres_fixture)
  get_property(added GLOBAL PROPERTY SKY_POSTGRES_FIXTURE)
  if(added)
    return()
  endif()
  set_property(GLOBAL PROPERTY SKY_POSTGRES_FIXTURE TRUE)
  add_test(NAME postgres_cluster_start
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/postgres-cluster start ${SKY_TEST_POSTGRES_HOST})
  add_test(NAME postgres_cluster_stop
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/postgres-cluster stop ${SKY_TEST_POSTGRES_HOST})
  set_tests_properties(postgres_cluster_start PROPERTIES FIXTURES_SETUP postgres_cluster)
  set_tests_properties(postgres_cluster_stop PROPERTIES FIXTURES_CLEANUP postgres_cluster)
endfunction()

# The compile options of a test driver, shared with the target that precompiles GoogleTest's
# headers for all of them (platform/CMakeLists.txt), as a precompiled header needs the options of
# the files that include it.
function(sky_test_driver_options target)
  # Test drivers are most of the build's time and run for seconds: in an optimised build they are
  # compiled with -O1 (a later -O wins), while the libraries and programs they test keep the
  # build's own optimisation.
  target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo,Release,MinSizeRel>:-O1>)
  # Position-independent as code using Qt must be (the last such flag wins), so that the drivers
  # with Qt and those without share one precompiled header.
  target_compile_options(${target} PRIVATE -fPIC)
  # The source tree is compiled in; the build's bin directory comes through the environment so that
  # a test can also be pointed at an installed machine.
  target_compile_definitions(${target} PRIVATE SKY_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endfunction()

function(sky_add_test name)
  if(NOT SKY_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "POSTGRES" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE sky_test_main ${ARG_LIBS} GTest::gtest GTest::gmock)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  sky_test_driver_options(${name})
  target_precompile_headers(${name} REUSE_FROM sky_test_headers)
  set(fixture "")
  if(ARG_POSTGRES)
    sky_add_postgres_fixture()
    target_compile_definitions(${name} PRIVATE SKY_TEST_POSTGRES_HOST="${SKY_TEST_POSTGRES_HOST}")
    set(fixture FIXTURES_REQUIRED postgres_cluster)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "SKY_BUILD_BIN=${CMAKE_BINARY_DIR}/bin" ${fixture})
endfunction()

function(sky_add_benchmark name)
  if(NOT SKY_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
  # sky/bench_support.h: the farm's size, and the ratios printed after the runs.
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/platform/testing/include)
endfunction()
