# Run after a test program is built (see SuiteTests.cmake): asks the program
# for its tests and writes one add_test per suite into OUTPUT.
# Inputs: PROGRAM, OUTPUT, and SETTINGS, a file that sets WORKING_DIRECTORY
# and ENVIRONMENT (a list of VAR=VALUE), and EMULATOR (empty unless the
# program is cross-built).
include("${SETTINGS}")
execute_process(COMMAND ${EMULATOR} "${PROGRAM}" --gtest_list_tests
                WORKING_DIRECTORY "${WORKING_DIRECTORY}"
                OUTPUT_VARIABLE listing
                ERROR_VARIABLE errors
                RESULT_VARIABLE status
                TIMEOUT 60)
if(NOT status EQUAL 0)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "${PROGRAM} --gtest_list_tests failed (${status}):\n${errors}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(script "")
set(count 0)
foreach(line IN LISTS lines)
  # A suite's line is its name and a dot, sometimes followed by a comment
  # (typed tests); its tests follow indented. gtest_main's greeting has no dot
  # after its first word.
  if(line MATCHES "^([A-Za-z_][A-Za-z0-9_/]*)\\.( |$)")
    set(suite "${CMAKE_MATCH_1}")
    string(APPEND script
      "add_test([==[${suite}]==] ${EMULATOR} [==[${PROGRAM}]==] [==[--gtest_filter=${suite}.*]==])\n"
      "set_tests_properties([==[${suite}]==] PROPERTIES WORKING_DIRECTORY [==[${WORKING_DIRECTORY}]==]"
      " ENVIRONMENT [==[${ENVIRONMENT}]==])\n")
    math(EXPR count "${count} + 1")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} lists no test suites:\n${listing}")
endif()
file(WRITE "${OUTPUT}" "${script}")
