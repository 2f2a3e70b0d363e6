# Resources of programs and modules, built with tools/rc (the `rc` program).
#
#   sky_add_string_module([TARGET] <target> OUTPUT <path> SOURCE <script.rc>
#                         [LANGUAGE <langid>] [INCLUDE_DIRS <dir>...] [DEFINES <NAME=VALUE>...])
#     Compiles a resource script into a resource-only module (an ELF shared object with no code)
#     at build time. A relative OUTPUT is relative to the build's bin directory (for instance
#     resource/en/qvcomUI.dll); a relative SOURCE to the current source directory. LANGUAGE is the
#     language of resources before the script's first LANGUAGE statement (default 0x0409).
#     Headers the script includes are tracked. The target's SKY_OUTPUT property holds the path.
#
#   sky_embed_resource(<target> <type> <id> <lang> <file>)
#     After <target> (a program or module) is linked, puts <file>'s bytes into it as resource
#     (<type>, <id>, <lang>); <type> is a number, an RT_ name or a name such as TYPELIB. The
#     target relinks when <file> changes. If <file> is generated, make <target> depend on the
#     target that generates it. Call it in the directory that defines <target>.
#
#   sky_embed_resource_script(<target> SOURCE <script.rc> [LANGUAGE ...] [INCLUDE_DIRS ...]
#                             [DEFINES ...])
#     The same for every resource of a script (string tables included).

function(_sky_rc_script_arguments out)
  cmake_parse_arguments(ARG "" "LANGUAGE" "INCLUDE_DIRS;DEFINES" ${ARGN})
  set(args)
  if(ARG_LANGUAGE)
    list(APPEND args --language ${ARG_LANGUAGE})
  endif()
  foreach(dir IN LISTS ARG_INCLUDE_DIRS)
    cmake_path(ABSOLUTE_PATH dir BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND args -I ${dir})
  endforeach()
  foreach(define IN LISTS ARG_DEFINES)
    list(APPEND args -D ${define})
  endforeach()
  set(${out} ${args} PARENT_SCOPE)
endfunction()

function(sky_add_string_module target)
  set(arguments ${ARGN})
  if(target STREQUAL "TARGET")
    list(POP_FRONT arguments target)
  endif()
  cmake_parse_arguments(ARG "" "OUTPUT;SOURCE;LANGUAGE" "INCLUDE_DIRS;DEFINES" ${arguments})
  if(NOT ARG_OUTPUT OR NOT ARG_SOURCE)
    message(FATAL_ERROR "sky_add_string_module(${target}) needs OUTPUT and SOURCE")
  endif()
  set(output ${ARG_OUTPUT})
  cmake_path(ABSOLUTE_PATH output BASE_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  set(source ${ARG_SOURCE})
  cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  _sky_rc_script_arguments(args LANGUAGE ${ARG_LANGUAGE} INCLUDE_DIRS ${ARG_INCLUDE_DIRS}
                           DEFINES ${ARG_DEFINES})
  set(depfile ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc.d)
  add_custom_command(OUTPUT ${output}
    COMMAND rc ${source} -o ${output} --depfile ${depfile} ${args}
    DEPENDS rc ${source}
    DEPFILE ${depfile}
    COMMENT "Compiling ${ARG_SOURCE} into ${output}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
  set_target_properties(${target} PROPERTIES SKY_OUTPUT ${output})
endfunction()

function(sky_embed_resource target type id lang file)
  cmake_path(ABSOLUTE_PATH file BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND rc --add-resource ${type} ${id} ${lang} ${file} --into $<TARGET_FILE:${target}>
    COMMENT "Embedding ${file} into ${target} as ${type} ${id}"
    VERBATIM)
  add_dependencies(${target} rc)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${file})
endfunction()

function(sky_embed_resource_script target)
  cmake_parse_arguments(ARG "" "SOURCE;LANGUAGE" "INCLUDE_DIRS;DEFINES" ${ARGN})
  set(source ${ARG_SOURCE})
  cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  _sky_rc_script_arguments(args LANGUAGE ${ARG_LANGUAGE} INCLUDE_DIRS ${ARG_INCLUDE_DIRS}
                           DEFINES ${ARG_DEFINES})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND rc ${source} --into $<TARGET_FILE:${target}> ${args}
    COMMENT "Embedding the resources of ${ARG_SOURCE} into ${target}"
    VERBATIM)
  add_dependencies(${target} rc)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${source})
endfunction()
