# One ctest entry per test suite (fixture) of a GoogleTest program, found
# after each build of the program, rather than one per test: most of a
# short test's cost is the process it runs in (loading the GL driver and
# LLVM alone is a fifth of a second of CPU), and a suite's tests share it.
# A failing entry prints its failing tests; `--gtest_filter` picks single
# ones when running the program by hand.
#
#   solvane_add_suite_tests(TARGET [WORKING_DIRECTORY DIR] [ENVIRONMENT VAR=VALUE...])
function(solvane_add_suite_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "WORKING_DIRECTORY" "ENVIRONMENT")
  if(NOT ARG_WORKING_DIRECTORY)
    set(ARG_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  set(suites_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake")
  set(include_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_suites_include.cmake")
  # The settings go through a file: a list on a custom command's line would
  # be split into separate arguments.
  set(settings_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_suites_settings.cmake")
  file(WRITE ${settings_file}
       "set(WORKING_DIRECTORY [==[${ARG_WORKING_DIRECTORY}]==])\n"
       "set(ENVIRONMENT [==[${ARG_ENVIRONMENT}]==])\n"
       # A cross-built program runs under the emulator that runs it here.
       "set(EMULATOR [==[${CMAKE_CROSSCOMPILING_EMULATOR}]==])\n")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND}
            -D "PROGRAM=$<TARGET_FILE:${target}>"
            -D "OUTPUT=${suites_file}"
            -D "SETTINGS=${settings_file}"
            -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/ListSuites.cmake
    BYPRODUCTS ${suites_file}
    VERBATIM)
  # Until the program is built, ctest shows one entry that says so.
  file(WRITE ${include_file}
       "if(EXISTS [==[${suites_file}]==])\n"
       "  include([==[${suites_file}]==])\n"
       "else()\n"
       "  add_test(${target}_NOT_BUILT ${target}_NOT_BUILT)\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()
