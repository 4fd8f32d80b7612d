# The libFuzzer targets, one per reader of untrusted input, configured with
# -DMORV_FUZZ=ON and clang (tools/fuzz does both).  The objects are built
# with the fuzzer's coverage hooks by the top-level file; the editor's module
# gets its entry point renamed, since libFuzzer brings its own main.
add_library(morv_fuzz_editor OBJECT ${CMAKE_SOURCE_DIR}/editor/main.cpp)
target_include_directories(morv_fuzz_editor PRIVATE ${CMAKE_SOURCE_DIR} ${FLTK_INCLUDE_DIR})
target_compile_definitions(morv_fuzz_editor PRIVATE main=morvane_setup_main)

# morv_fuzz_target(NAME): tests/NAME.cpp linked with everything but main.
function(morv_fuzz_target name)
  add_executable(${name} ${CMAKE_SOURCE_DIR}/tests/${name}.cpp
    $<TARGET_OBJECTS:morv_objects> $<TARGET_OBJECTS:morv_settings> $<TARGET_OBJECTS:morv_fuzz_editor>)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${FLTK_INCLUDE_DIR})
  target_link_libraries(${name} PRIVATE ${MORV_FLTK})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
endfunction()

morv_fuzz_target(settings_morv_fuzz)
morv_fuzz_target(support_mm_fuzz)
morv_fuzz_target(editor_catalogue_fuzz)

# The lines that morvrc_tool's load reads: the settings code and the tool's
# line module only, without FLTK or the editor.
add_executable(cli_morvrc_lines_fuzz ${CMAKE_SOURCE_DIR}/tests/cli_morvrc_lines_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/cli/morvrc_lines.cpp
  $<TARGET_OBJECTS:morv_settings>)
target_include_directories(cli_morvrc_lines_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(cli_morvrc_lines_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)

# The documents that morvrc_tool's load --json reads, likewise.
add_executable(cli_morvrc_json_fuzz ${CMAKE_SOURCE_DIR}/tests/cli_morvrc_json_fuzz.cpp
  $<TARGET_OBJECTS:morv_settings>)
target_include_directories(cli_morvrc_json_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(cli_morvrc_json_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
