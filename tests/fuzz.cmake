# The libFuzzer targets, one per reader of untrusted input, configured with
# -DMORV_FUZZ=ON and clang (tools/fuzz does both).  The objects are built
# with the fuzzer's coverage hooks by the top-level file; libFuzzer brings
# its own main.

# morv_fuzz_target(NAME [EDITOR]): tests/NAME.cpp linked with the settings
# and support objects, and with EDITOR the editor's too.
function(morv_fuzz_target name)
  cmake_parse_arguments(T "EDITOR" "" "" ${ARGN})
  if(T_EDITOR)
    add_executable(${name} ${CMAKE_SOURCE_DIR}/tests/${name}.cpp
      $<TARGET_OBJECTS:morv_objects> $<TARGET_OBJECTS:morv_settings>)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${FLTK_INCLUDE_DIR})
    target_link_libraries(${name} PRIVATE ${MORV_FLTK})
  else()
    add_executable(${name} ${CMAKE_SOURCE_DIR}/tests/${name}.cpp $<TARGET_OBJECTS:morv_settings>)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  endif()
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
endfunction()

morv_fuzz_target(settings_morv_fuzz)
morv_fuzz_target(support_mm_fuzz)
morv_fuzz_target(editor_catalogue_fuzz EDITOR)

# The lines that morvrc_tool's load reads: the settings code and the tool's
# line module only, without FLTK or the editor.
add_executable(cli_morvrc_lines_fuzz ${CMAKE_SOURCE_DIR}/tests/cli_morvrc_lines_fuzz.cpp
  $<TARGET_OBJECTS:morv_settings>)
target_include_directories(cli_morvrc_lines_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(cli_morvrc_lines_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)

# The documents that morvrc_tool's load --json reads, likewise.
add_executable(cli_morvrc_json_fuzz ${CMAKE_SOURCE_DIR}/tests/cli_morvrc_json_fuzz.cpp
  $<TARGET_OBJECTS:morv_settings>)
target_include_directories(cli_morvrc_json_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(cli_morvrc_json_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
