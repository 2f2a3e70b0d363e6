# Fuzz targets: every parser that takes outside input has one (*_fuzz.cpp beside the parser,
# defining LLVMFuzzerTestOneInput), with a corpus of seed inputs beside it (fuzz/<target>/).
# Inputs that once made a target fail are kept in its corpus, so they are replayed for ever.
#
#   sky_add_fuzz_target(NAME SOURCES a_fuzz.cpp LIBS lib ... CORPUS dir ...)
#     With SKY_FUZZ (the `fuzz` preset: clang 14 with libFuzzer, AddressSanitizer and
#     UndefinedBehaviorSanitizer): a libFuzzer program in build-fuzz/fuzz/, which scripts/fuzz
#     runs for a given time. In any other build with tests: the same target with a main that
#     runs it once on every input of its corpora, run by CTest as NAME, so that the targets keep
#     building and the corpora keep passing (under the sanitizers in the `sanitize` build).

option(SKY_FUZZ "Build the fuzz targets with libFuzzer (clang)" OFF)

if(SKY_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  add_custom_target(fuzz_targets)
endif()

add_library(sky_fuzz_support INTERFACE)
target_include_directories(sky_fuzz_support INTERFACE ${CMAKE_SOURCE_DIR}/platform/testing/include)

function(sky_add_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;CORPUS;DEPENDS" ${ARGN})
  set(corpora)
  foreach(dir IN LISTS ARG_CORPUS)
    cmake_path(ABSOLUTE_PATH dir BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND corpora ${dir})
  endforeach()
  if(SKY_FUZZ)
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} sky_fuzz_support)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    add_dependencies(fuzz_targets ${name})
    foreach(dependency IN LISTS ARG_DEPENDS)
      add_dependencies(fuzz_targets ${dependency})
    endforeach()
    # scripts/fuzz reads which corpora seed each target from here.
    string(JOIN " " line ${name} ${corpora})
    set_property(GLOBAL APPEND PROPERTY SKY_FUZZ_MANIFEST "${line}")
  elseif(SKY_TESTS)
    add_executable(${name} ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/platform/testing/fuzz_replay_main.cpp)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} sky_fuzz_support)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    foreach(dependency IN LISTS ARG_DEPENDS)
      add_dependencies(${name} ${dependency})
    endforeach()
    add_test(NAME ${name} COMMAND ${name} ${corpora})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "SKY_BUILD_BIN=${CMAKE_BINARY_DIR}/bin")
  endif()
endfunction()

# Writes the manifest of fuzz targets (one line each: the target, then its corpora) once every
# folder has added its own.
function(sky_write_fuzz_manifest)
  if(SKY_FUZZ)
    get_property(lines GLOBAL PROPERTY SKY_FUZZ_MANIFEST)
    list(JOIN lines "\n" text)
    file(WRITE ${CMAKE_BINARY_DIR}/fuzz/targets.txt "${text}\n")
  endif()
endfunction()
